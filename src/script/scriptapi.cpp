#include "script/scriptapi.h"

#include "core/checksum.h"
#include "core/commport.h"
#include "core/hexinput.h"
#include "core/messages.h"
#include "core/switches.h"
#include "script/scriptapisupport.h"
#include "script/scriptjob.h"
#include "script/scripttransfers.h"
#include "script/streampattern.h"

#include <QDir>
#include <QFileInfo>

#include <lua.hpp>

// Lua reports errors and yields with longjmp, which skips C++ destructors: every function below
// lets its C++ objects go out of scope before it raises an error or yields.

using namespace Qt::StringLiterals;

using namespace ScriptApiSupport;

void ScriptApi::install(lua_State *L, const QString &path, const QStringList &arguments)
{
    luaL_openlibs(L);
    static const luaL_Reg functions[] = {{"send", &ScriptApi::send},
                                         {"sendline", &ScriptApi::sendLine},
                                         {"sendhex", &ScriptApi::sendHex},
                                         {"expect", &ScriptApi::expect},
                                         {"readline", &ScriptApi::readLine},
                                         {"read", &ScriptApi::read},
                                         {"sleep", &ScriptApi::sleep},
                                         {"dtr", &ScriptApi::dtr},
                                         {"rts", &ScriptApi::rts},
                                         {"print", &ScriptApi::print},
                                         {"check", &ScriptApi::check},
                                         {"checksum", &ScriptApi::checksum},
                                         {"xmodem_send", &ScriptApi::xmodemSend},
                                         {"ymodem_send", &ScriptApi::ymodemSend},
                                         {"ymodem_receive", &ScriptApi::ymodemReceive},
                                         {nullptr, nullptr}};
    lua_pushglobaltable(L);
    luaL_setfuncs(L, functions, 0);
    lua_pop(L, 1);

    // os.exit would end the whole program under the user's open port; io.read would wait on a
    // standard input that nobody types into.
    lua_getglobal(L, "os");
    lua_pushcfunction(L, &ScriptApi::exitRefused);
    lua_setfield(L, -2, "exit");
    lua_pop(L, 1);
    lua_getglobal(L, "io");
    lua_pushnil(L);
    lua_setfield(L, -2, "read");
    lua_pop(L, 1);

    lua_createtable(L, int(arguments.size()), 1);
    pushText(L, path);
    lua_rawseti(L, -2, 0);
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        pushText(L, arguments[i]);
        lua_rawseti(L, -2, lua_Integer(i + 1));
    }
    lua_setglobal(L, "arg");
}

int ScriptApi::exitRefused(lua_State *L)
{
    pushText(L, Messages::scriptExitRefused());
    return raise(L);
}

int ScriptApi::send(lua_State *L)
{
    return sendText(L, false);
}

int ScriptApi::sendLine(lua_State *L)
{
    return sendText(L, true);
}

int ScriptApi::sendText(lua_State *L, bool line)
{
    const QByteArrayView text = argBytes(L, 1);
    ScriptJob &job = jobOf(L);
    bool failed = false;
    {
        QByteArray bytes = toLine(text, job.encoding());
        const bool valid = QUtf8StringView(text).isValidUtf8();
        QString shown = valid ? QString::fromUtf8(text) : QString::fromLatin1(text);
        int count = valid ? int(shown.toUcs4().size()) : int(text.size());
        if (line && job.m_switches.checked(Switches::SendCr)) {
            bytes.append('\r');
            ++count;
        }
        while (shown.endsWith(u'\n') || shown.endsWith(u'\r'))
            shown.chop(1);
        if (!job.m_port.portOpen()) {
            pushText(L, Messages::scriptPortNotOpen());
            failed = true;
        } else if (const Result sent = job.m_port.output(bytes); !sent.ok()) {
            pushText(L, sent.message());
            failed = true;
        } else {
            job.m_output.sent(shown, count);
        }
    }
    if (failed)
        return raise(L);
    return afterSend(L);
}

int ScriptApi::afterSend(lua_State *L)
{
    ScriptJob &job = jobOf(L);
    // A script that sends in a loop waits for the line instead of piling its data up.
    if (job.m_port.bytesToWrite() > QueueLimit && L == job.m_script && lua_isyieldable(L)) {
        job.startWait(ScriptJob::Wait::Drain, -1);
        return lua_yield(L, 0);
    }
    return 0;
}

int ScriptApi::sendHex(lua_State *L)
{
    const QByteArrayView text = argBytes(L, 1);
    ScriptJob &job = jobOf(L);
    bool failed = false;
    {
        const HexInput hex = parseHexInput(QString::fromUtf8(text));
        if (!hex.ok()) {
            pushText(L, hex.error);
            failed = true;
        } else if (!job.m_port.portOpen()) {
            pushText(L, Messages::scriptPortNotOpen());
            failed = true;
        } else if (const Result sent = job.m_port.output(hex.bytes); !sent.ok()) {
            pushText(L, sent.message());
            failed = true;
        } else {
            job.m_output.sent(QString::fromLatin1(hex.bytes.toHex(' ').toUpper()),
                              int(hex.bytes.size()));
        }
    }
    if (failed)
        return raise(L);
    return afterSend(L);
}

int ScriptApi::expect(lua_State *L)
{
    if (!canWait(L, "expect"))
        return raise(L);
    const int ms = milliseconds(luaL_optnumber(L, 2, DefaultSeconds));
    bool plain = false;
    if (lua_istable(L, 3)) {
        lua_getfield(L, 3, "plain");
        plain = lua_toboolean(L, -1);
        lua_pop(L, 1);
    }
    const bool many = lua_istable(L, 1);
    if (!many)
        luaL_checkstring(L, 1);
    const lua_Integer count = many ? luaL_len(L, 1) : 1;
    ScriptJob &job = jobOf(L);
    job.m_patterns.clear();
    bool failed = false;
    for (lua_Integer i = 1; i <= count && !failed; ++i) {
        if (many)
            lua_geti(L, 1, i);
        else
            lua_pushvalue(L, 1);
        size_t length = 0;
        const char *text = lua_tolstring(L, -1, &length);
        if (!text) {
            lua_pop(L, 1);
            return luaL_argerror(L, 1, "string expected in the list of patterns");
        }
        {
            const QByteArrayView pattern(text, qsizetype(length));
            auto feeder = std::make_unique<StreamPattern>(toLine(pattern, job.encoding()), plain);
            if (!feeder->error().isEmpty()) {
                const QString message = Messages::scriptPatternInvalid(QString::fromUtf8(pattern),
                                                                       feeder->error());
                lua_pop(L, 1);
                pushText(L, message);
                failed = true;
            } else {
                job.m_patterns.push_back(std::move(feeder));
                lua_pop(L, 1);
            }
        }
    }
    if (failed) {
        job.m_patterns.clear();
        return raise(L);
    }
    job.m_wait = ScriptJob::Wait::Expect;
    const int results = expectResult(job, L, ms == 0);
    if (results >= 0) {
        job.m_wait = ScriptJob::Wait::None;
        return results;
    }
    job.startWait(ScriptJob::Wait::Expect, ms);
    return lua_yield(L, 0);
}

int ScriptApi::expectResult(ScriptJob &job, lua_State *L, bool timedOut)
{
    std::optional<StreamPattern::Match> best;
    qsizetype bestIndex = 0;
    bool unfinished = false;
    for (size_t i = 0; i < job.m_patterns.size(); ++i) {
        std::optional<StreamPattern::Match> m = job.m_patterns[i]->find(job.m_received);
        unfinished = unfinished || job.m_patterns[i]->unfinished();
        if (m && (!best || m->start < best->start)) {
            best = std::move(m);
            bestIndex = qsizetype(i);
        }
    }
    if (best) {
        lua_pushinteger(L, lua_Integer(bestIndex + 1));
        pushFromLine(L,
                     QByteArrayView(job.m_received).sliced(best->start, best->end - best->start));
        for (qsizetype c = 0; c < best->captures.size(); ++c) {
            if (best->positions[c] > 0)
                lua_pushinteger(L, lua_Integer(best->positions[c]));
            else
                pushFromLine(L, best->captures[c]);
        }
        job.m_received.remove(0, best->end);
        job.m_patterns.clear();
        return 2 + int(best->captures.size());
    }
    if (timedOut) {
        job.m_patterns.clear();
        lua_pushnil(L);
        return 1;
    }
    // A long backtracking search goes on at the next turn of the event loop.
    if (unfinished)
        job.m_pollSoon.start();
    return -1;
}

int ScriptApi::readLine(lua_State *L)
{
    if (!canWait(L, "readline"))
        return raise(L);
    const int ms = milliseconds(luaL_optnumber(L, 1, DefaultSeconds));
    ScriptJob &job = jobOf(L);
    job.m_readCount = 0;
    job.m_wait = ScriptJob::Wait::ReadLine;
    const int results = readLineResult(job, L, ms == 0);
    if (results >= 0) {
        job.m_wait = ScriptJob::Wait::None;
        return results;
    }
    job.startWait(ScriptJob::Wait::ReadLine, ms);
    return lua_yield(L, 0);
}

int ScriptApi::readLineResult(ScriptJob &job, lua_State *L, bool timedOut)
{
    // m_readCount: how far the text is known to hold no line end.
    const qsizetype end = job.m_received.indexOf('\n', job.m_readCount);
    if (end < 0) {
        job.m_readCount = job.m_received.size();
        if (!timedOut)
            return -1;
        lua_pushnil(L);
        return 1;
    }
    qsizetype length = end;
    if (length > 0 && job.m_received[length - 1] == '\r')
        --length;
    pushFromLine(L, QByteArrayView(job.m_received).first(length));
    job.m_received.remove(0, end + 1);
    job.m_readCount = 0;
    return 1;
}

int ScriptApi::read(lua_State *L)
{
    if (!canWait(L, "read"))
        return raise(L);
    const lua_Integer n = luaL_checkinteger(L, 1);
    luaL_argcheck(L, n > 0, 1, "count must be positive");
    const int ms = milliseconds(luaL_optnumber(L, 2, DefaultSeconds));
    ScriptJob &job = jobOf(L);
    job.m_readCount = qsizetype(std::min<lua_Integer>(n, ScriptJob::ReceiveLimit));
    job.m_wait = ScriptJob::Wait::Read;
    const int results = readResult(job, L, ms == 0);
    if (results >= 0) {
        job.m_wait = ScriptJob::Wait::None;
        return results;
    }
    job.startWait(ScriptJob::Wait::Read, ms);
    return lua_yield(L, 0);
}

int ScriptApi::readResult(ScriptJob &job, lua_State *L, bool timedOut)
{
    if (job.m_received.size() < job.m_readCount && !timedOut)
        return -1;
    if (job.m_received.isEmpty()) {
        lua_pushnil(L);
        return 1;
    }
    const qsizetype n = std::min(job.m_readCount, job.m_received.size());
    // Bytes as they came: read serves binary answers (a Modbus frame), which no decoding may
    // touch.
    lua_pushlstring(L, job.m_received.constData(), size_t(n));
    job.m_received.remove(0, n);
    return 1;
}

int ScriptApi::sleep(lua_State *L)
{
    if (!canWait(L, "sleep"))
        return raise(L);
    const lua_Number ms = luaL_checknumber(L, 1);
    ScriptJob &job = jobOf(L);
    job.startWait(ScriptJob::Wait::Sleep, milliseconds(ms / 1000));
    return lua_yield(L, 0);
}

int ScriptApi::dtr(lua_State *L)
{
    ScriptJob &job = jobOf(L);
    job.m_port.setDtrEnable(lua_toboolean(L, 1));
    job.m_switches.setChecked(Switches::Dtr, job.m_port.dtrEnable());
    return 0;
}

int ScriptApi::rts(lua_State *L)
{
    ScriptJob &job = jobOf(L);
    job.m_port.setRtsEnable(lua_toboolean(L, 1));
    job.m_switches.setChecked(Switches::Rts, job.m_port.rtsEnable());
    return 0;
}

int ScriptApi::print(lua_State *L)
{
    const int n = lua_gettop(L);
    luaL_Buffer buffer;
    luaL_buffinit(L, &buffer);
    for (int i = 1; i <= n; ++i) {
        if (i > 1)
            luaL_addchar(&buffer, '\t');
        luaL_tolstring(L, i, nullptr);
        luaL_addvalue(&buffer);
    }
    luaL_pushresult(&buffer);
    size_t length = 0;
    const char *text = lua_tolstring(L, -1, &length);
    jobOf(L).m_output.notice(QString::fromUtf8(text, qsizetype(length)));
    return 0;
}

int ScriptApi::check(lua_State *L)
{
    luaL_checkany(L, 1);
    const bool passed = lua_toboolean(L, 1);
    ScriptJob &job = jobOf(L);
    lua_Debug where;
    int line = 0;
    if (lua_getstack(L, 1, &where) && lua_getinfo(L, "l", &where))
        line = where.currentline;
    {
        const char *name = luaL_optstring(L, 2, nullptr);
        const QString title
                = name ? QString::fromUtf8(name) : u"#%1"_s.arg(job.m_checks.size() + 1);
        job.m_checks.append(ScriptCheck{title, line, passed});
        job.m_output.notice(passed ? Messages::scriptCheckPassed(title)
                                   : Messages::scriptCheckFailed(title, line));
    }
    lua_pushboolean(L, passed);
    return 1;
}

int ScriptApi::checksum(lua_State *L)
{
    const QByteArrayView kind = argBytes(L, 1);
    const QByteArrayView data = argBytes(L, 2);
    bool failed = false;
    {
        const std::optional<ChecksumKind> known
                = checksumFromName(QString::fromUtf8(kind).trimmed().toLower());
        if (!known) {
            pushText(L, Messages::scriptChecksumUnknown(QString::fromUtf8(kind)));
            failed = true;
        } else {
            const QByteArray bytes = checksumBytes(*known, data);
            lua_pushlstring(L, bytes.constData(), size_t(bytes.size()));
        }
    }
    if (failed)
        return raise(L);
    return 1;
}

int ScriptApi::xmodemSend(lua_State *L)
{
    return transfer(L, int(ScriptTransfers::Kind::XmodemSend), "xmodem_send");
}

int ScriptApi::ymodemSend(lua_State *L)
{
    return transfer(L, int(ScriptTransfers::Kind::YmodemSend), "ymodem_send");
}

int ScriptApi::ymodemReceive(lua_State *L)
{
    return transfer(L, int(ScriptTransfers::Kind::YmodemReceive), "ymodem_receive");
}

int ScriptApi::transfer(lua_State *L, int kind, const char *function)
{
    if (!canWait(L, function))
        return raise(L);
    const QByteArrayView given = argBytes(L, 1);
    ScriptJob &job = jobOf(L);
    bool started = false;
    {
        // A relative path is taken from the script's folder, wherever the program was started.
        const QString path = QFileInfo(job.path()).dir().absoluteFilePath(QString::fromUtf8(given));
        started = job.startTransfer(L, kind, path);
    }
    if (!started)
        return raise(L);
    job.m_wait = ScriptJob::Wait::Transfer;
    const int results = transferResult(job, L);
    if (results >= 0) {
        job.m_wait = ScriptJob::Wait::None;
        return results;
    }
    job.startWait(ScriptJob::Wait::Transfer, -1);
    return lua_yield(L, 0);
}

// true and the result line when the transfer completed; false and why when it did not.
int ScriptApi::transferResult(ScriptJob &job, lua_State *L)
{
    if (!job.m_transferResult)
        return -1;
    const JobResult result = *job.m_transferResult;
    job.m_transferResult.reset();
    lua_pushboolean(L, !result.failed && result.report != JobResult::Report::Quiet);
    pushText(L, result.text);
    return 2;
}
