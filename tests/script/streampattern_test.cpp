// The pattern search of expect against Lua's own string.find: text arriving a byte at a time,
// or cut once at every place, finds exactly what Lua finds in the text that has arrived.

#include "script/streampattern.h"

#include <QByteArray>
#include <QList>

#include <gtest/gtest.h>
#include <lua.hpp>

namespace {

struct Found
{
    bool found = false;
    qsizetype start = 0;
    qsizetype end = 0;
    QList<QByteArray> captures;
    QList<qsizetype> positions;

    bool operator==(const Found &) const = default;
};

std::ostream &operator<<(std::ostream &out, const Found &f)
{
    if (!f.found)
        return out << "no match";
    out << "[" << f.start << "," << f.end << ")";
    for (qsizetype i = 0; i < f.captures.size(); ++i)
        out << " cap" << i << "=" << f.captures[i].toStdString() << "/" << f.positions[i];
    return out;
}

// Lua's string.find on the text, with captures as StreamPattern gives them.
class LuaOracle
{
public:
    LuaOracle()
        : L(luaL_newstate())
    {
        luaL_openlibs(L);
    }
    ~LuaOracle() { lua_close(L); }

    Found find(const QByteArray &text, const QByteArray &pattern, bool plain)
    {
        const int base = lua_gettop(L);
        lua_getglobal(L, "string");
        lua_getfield(L, -1, "find");
        lua_pushlstring(L, text.constData(), size_t(text.size()));
        lua_pushlstring(L, pattern.constData(), size_t(pattern.size()));
        lua_pushinteger(L, 1);
        lua_pushboolean(L, plain);
        EXPECT_EQ(lua_pcall(L, 4, LUA_MULTRET, 0), LUA_OK) << lua_tostring(L, -1);
        Found f;
        const int results = lua_gettop(L) - base - 1;
        if (results >= 2 && !lua_isnil(L, base + 2)) {
            f.found = true;
            f.start = qsizetype(lua_tointeger(L, base + 2)) - 1;
            f.end = qsizetype(lua_tointeger(L, base + 3));
            for (int i = base + 4; i <= lua_gettop(L); ++i) {
                if (lua_type(L, i) == LUA_TNUMBER) {
                    f.captures.append(QByteArray());
                    f.positions.append(qsizetype(lua_tointeger(L, i)) - f.start);
                } else {
                    size_t n = 0;
                    const char *s = lua_tolstring(L, i, &n);
                    f.captures.append(QByteArray(s, qsizetype(n)));
                    f.positions.append(0);
                }
            }
        }
        lua_settop(L, base);
        return f;
    }

private:
    lua_State *L;
};

Found asFound(const std::optional<StreamPattern::Match> &m)
{
    if (!m)
        return {};
    return {true, m->start, m->end, m->captures, m->positions};
}

struct Case
{
    const char *pattern;
    bool plain;
    const char *text;
};

const Case Cases[] = {
        {"U%-Boot", false, "junk U-Bo U-Boot 2023.01\r\n=> "},
        {"=> $", false, "=> x\r\n=> "},
        {"version (%d+)%.(%d+)", false, "x version 1 version 12.34\n"},
        {"%d+", false, "abc123def"},
        {"a.-b", false, "xxaxxaxbx"},
        {"^login", false, "login: "},
        {"^login", false, "xlogin: "},
        {"%b()", false, "f(a(b)c)d"},
        {"%f[%w]%w+", false, "  hello world"},
        {"(h)(.)%2", false, "hello hexx hxx"},
        {"[%a_][%w_]*=", false, " 1=  foo_1=2"},
        {"[^\r\n]*\r?\n", false, "first line\r\nsecond\n"},
        {"()ab()", false, "xxaab"},
        {"x*y?", false, "aaxxyy"},
        {"(a+)(b-)c", false, "aaabbbc"},
        {"%s*OK%s*$", false, "AT\r\nOK\r\n"},
        {"a.b", true, "axb a.b"},
        {"]]", true, "x]]"},
        {"", true, "abc"},
};

} // namespace

TEST(StreamPatternTest, ArrivingByteByByteFindsWhatLuaFindsInTheTextSoFar)
{
    LuaOracle lua;
    for (const Case &c : Cases) {
        SCOPED_TRACE(std::string("pattern ") + c.pattern + " text " + c.text);
        const QByteArray text(c.text);
        StreamPattern stream{QByteArray(c.pattern), c.plain};
        ASSERT_TRUE(stream.error().isEmpty()) << stream.error().toStdString();
        for (qsizetype n = 0; n <= text.size(); ++n) {
            const Found expected = lua.find(text.left(n), c.pattern, c.plain);
            const Found got = asFound(stream.find(QByteArrayView(text).first(n)));
            ASSERT_EQ(got, expected) << "after " << n << " bytes";
            if (got.found)
                break;
        }
    }
}

TEST(StreamPatternTest, TextCutOnceAtEveryPlaceFindsTheSameAsLua)
{
    LuaOracle lua;
    for (const Case &c : Cases) {
        const QByteArray text(c.text);
        for (qsizetype cut = 0; cut <= text.size(); ++cut) {
            SCOPED_TRACE(std::string("pattern ") + c.pattern + " cut at " + std::to_string(cut));
            StreamPattern stream{QByteArray(c.pattern), c.plain};
            const Found first = asFound(stream.find(QByteArrayView(text).first(cut)));
            ASSERT_EQ(first, lua.find(text.left(cut), c.pattern, c.plain));
            if (!first.found) {
                EXPECT_EQ(asFound(stream.find(text)), lua.find(text, c.pattern, c.plain));
            }
        }
    }
}

TEST(StreamPatternTest, BadPatternsAreRefusedBeforeAnyTextArrives)
{
    for (const char *bad : {"abc%", "[abc", "(a", "a)", "%b(", "%f", "%fa", "(a)%2", "%1"}) {
        StreamPattern stream{QByteArray(bad), false};
        EXPECT_FALSE(stream.error().isEmpty()) << bad;
        EXPECT_FALSE(stream.find("abc").has_value()) << bad;
    }
    EXPECT_TRUE(StreamPattern(QByteArray("(a)%1"), false).error().isEmpty());
    EXPECT_TRUE(StreamPattern(QByteArray("abc%"), true).error().isEmpty());
}

TEST(StreamPatternTest, WaitingThroughMegabytesLooksAtEachByteAFewTimesOnly)
{
    // The cost of expect during a blast: each chunk is searched once, not everything again.
    const QByteArray chunk(4096, 'x');
    for (const auto &[pattern, plain] : {std::pair{"login:", true}, std::pair{"log%a+:", false},
                                         std::pair{"(%d+) errors", false}}) {
        StreamPattern stream{QByteArray(pattern), plain};
        QByteArray text;
        qint64 work = 0;
        for (int i = 0; i < 256; ++i) {
            text += chunk;
            EXPECT_FALSE(stream.find(text).has_value());
            work += stream.lastWork();
        }
        EXPECT_LE(work, 3 * text.size()) << pattern;
        text += "login: 12 errors";
        EXPECT_TRUE(stream.find(text).has_value()) << pattern;
    }
}

TEST(StreamPatternTest, DroppedFrontMovesTheStartsThatAreStillOpen)
{
    StreamPattern stream{QByteArray("a%d+b"), false};
    QByteArray text = "xxxxa12";
    EXPECT_FALSE(stream.find(text).has_value());
    text.remove(0, 3);
    stream.dropFront(3);
    text += "3b";
    const std::optional<StreamPattern::Match> m = stream.find(text);
    ASSERT_TRUE(m.has_value());
    EXPECT_EQ(text.mid(m->start, m->end - m->start), "a123b");
}
