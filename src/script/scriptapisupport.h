#pragma once

// What the script functions share: the job behind a Lua state, text to and from the line,
// errors raised at the script's line. For scriptapi.cpp only.

#include "core/messages.h"
#include "script/scriptjob.h"

#include <QByteArrayView>
#include <QStringDecoder>
#include <QStringEncoder>

#include <lua.hpp>

#include <climits>
#include <cmath>

namespace ScriptApiSupport {

inline constexpr qint64 QueueLimit = 1 << 20;
inline constexpr double DefaultSeconds = 10.0;

inline ScriptJob &jobOf(lua_State *L)
{
    return **static_cast<ScriptJob **>(lua_getextraspace(L));
}

inline void pushText(lua_State *L, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    lua_pushlstring(L, utf8.constData(), size_t(utf8.size()));
}

// The script's error at the line that called the function.
inline int raise(lua_State *L)
{
    luaL_where(L, 1);
    lua_insert(L, -2);
    lua_concat(L, 2);
    return lua_error(L);
}

inline const char *lineCodec(TextEncoding encoding)
{
    return encoding == TextEncoding::Utf8 ? "UTF-8" : "GBK";
}

// The line speaks the encoding the user chose (code page 936 unless UTF-8); the script is UTF-8.
// Bytes that are not UTF-8 (a binary frame built with string.char) go out as they are.
inline QByteArray toLine(QByteArrayView utf8, TextEncoding encoding)
{
    if (!QUtf8StringView(utf8).isValidUtf8())
        return utf8.toByteArray();
    if (encoding == TextEncoding::Utf8)
        return utf8.toByteArray();
    QStringEncoder encoder(lineCodec(encoding));
    return encoder.encode(QString::fromUtf8(utf8));
}

inline void pushFromLine(lua_State *L, QByteArrayView bytes)
{
    QStringDecoder decoder(lineCodec(jobOf(L).encoding()));
    const QByteArray utf8 = QString(decoder.decode(bytes)).toUtf8();
    lua_pushlstring(L, utf8.constData(), size_t(utf8.size()));
}

inline int milliseconds(double seconds)
{
    if (std::isnan(seconds) || seconds <= 0)
        return 0;
    return seconds * 1000 >= INT_MAX ? INT_MAX : int(seconds * 1000);
}

// Waiting functions yield the script's main coroutine to the event loop, which is possible only
// from its body (pcall included), not from a coroutine of the script's own or a C callback.
inline bool canWait(lua_State *L, const char *function)
{
    if (jobOf(L).isMainScript(L) && lua_isyieldable(L))
        return true;
    pushText(L, Messages::scriptWaitsOnlyInMain(QString::fromLatin1(function)));
    return false;
}

inline QByteArrayView argBytes(lua_State *L, int index)
{
    size_t length = 0;
    const char *text = luaL_checklstring(L, index, &length);
    return QByteArrayView(text, qsizetype(length));
}

} // namespace ScriptApiSupport
