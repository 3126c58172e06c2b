#pragma once

#include <QString>
#include <QStringList>

class ScriptJob;
struct lua_State;

// The functions a script calls (send, expect, check, ...), installed as globals of its state.
// They reach the job that runs the script through the state's extra space.
class ScriptApi
{
public:
    static void install(lua_State *L, const QString &path, const QStringList &arguments);

    // What a wait gives back once it is over: pushes the results and returns their count, or
    // -1 while the wait goes on.
    static int expectResult(ScriptJob &job, lua_State *L, bool timedOut);
    static int readResult(ScriptJob &job, lua_State *L, bool timedOut);
    static int readLineResult(ScriptJob &job, lua_State *L, bool timedOut);
    static int transferResult(ScriptJob &job, lua_State *L);

private:
    static int send(lua_State *L);
    static int sendLine(lua_State *L);
    static int sendHex(lua_State *L);
    static int expect(lua_State *L);
    static int readLine(lua_State *L);
    static int read(lua_State *L);
    static int sleep(lua_State *L);
    static int dtr(lua_State *L);
    static int rts(lua_State *L);
    static int print(lua_State *L);
    static int check(lua_State *L);
    static int checksum(lua_State *L);
    static int exitRefused(lua_State *L);
    static int xmodemSend(lua_State *L);
    static int ymodemSend(lua_State *L);
    static int ymodemReceive(lua_State *L);
    static int transfer(lua_State *L, int kind, const char *function);

    static int sendText(lua_State *L, bool line);
    static int afterSend(lua_State *L);
};
