#pragma once

#include "core/lineclaim.h"
#include "core/longjob.h"
#include "core/textencoding.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <optional>

class CommPort;
class ScriptTransfers;
class StreamPattern;
class Switches;
struct lua_State;

// Where a script's own words go: the window's terminal, or standard output when headless.
class ScriptOutput
{
public:
    virtual ~ScriptOutput() = default;
    // What the script put on the line, readable, and how many characters that was.
    virtual void sent(const QString &shown, int count) = 0;
    // A line of the program's own: print(), a check, the result.
    virtual void notice(const QString &text) = 0;
    // The script has given the event loop a turn: what it said so far must now be out.
    virtual void flush() {}
};

struct ScriptCheck
{
    QString name;
    int line = 0;
    bool passed = false;
};

// A Lua script run as a long job on the window's thread. The script is a coroutine: expect,
// read, readline and sleep yield to the event loop and the job resumes it when the text, the
// time or the line it waits for comes, so no thread is added and no loop is nested. A script that
// computes without waiting is cut into slices by an instruction-count hook, so the window keeps
// drawing and "停止" reaches it.
//
// The receive pipeline stays the one owner of the line: the job claims the line only to look at
// each chunk (it takes none of it), so the terminal and the capture go on showing and recording
// everything while the script reads its own copy.
class ScriptJob : public LongJob, private LineTaker
{
    Q_OBJECT

public:
    enum class Ending { Completed, Error, Stopped, PortClosed };
    // The most a script's Lua state may hold, and the most received text kept for it unread.
    static constexpr qint64 MemoryLimit = 256LL << 20;
    static constexpr qsizetype ReceiveLimit = qsizetype(16) << 20;

    ScriptJob(CommPort &port, LineClaim &line, Switches &switches, ScriptOutput &output,
              const QString &path, const QStringList &arguments, QObject *parent = nullptr);
    ~ScriptJob() override;

    void portClosed() override;

    QString path() const { return m_path; }
    Ending ending() const { return m_ending; }
    const QList<ScriptCheck> &checks() const { return m_checks; }
    // The result line the user reads.
    QString summary() const { return m_summary; }
    bool checksFailed() const;
    bool isMainScript(const lua_State *L) const { return L == m_script; }
    // What xmodem_send, ymodem_send and ymodem_receive start; without it they are refused.
    void setTransfers(ScriptTransfers *transfers) { m_transfers = transfers; }
    // The line's encoding, as the view menu chose it: what the script sends is encoded in it and
    // what it reads is decoded from it, as for a typed line and the terminal.
    void setEncoding(TextEncoding encoding) { m_encoding = encoding; }
    TextEncoding encoding() const { return m_encoding; }

protected:
    void begin() override;
    void cancel() override;

private:
    friend class ScriptApi;
    enum class Wait { None, Sleep, Expect, Read, ReadLine, Drain, Transfer };

    qsizetype takeFromLine(QByteArrayView bytes) override;
    void resume(int arguments);
    void poll();
    void timedOut();
    // Pushes the results of the wait onto the script's stack when it is over; -1 while not.
    int satisfy(lua_State *L, bool timedOut);
    void startWait(Wait wait, int milliseconds);
    void end(Ending ending, const QString &detail = QString(), int line = 0);
    void endWithError(int status);
    void closeState();
    // Starts a transfer for the script; false, with the reason on L's stack, when it cannot.
    bool startTransfer(lua_State *L, int kind, const QString &path);
    void transferEnded(const JobResult &result);
    QString name() const;

    static void *allocate(void *ud, void *ptr, size_t oldSize, size_t newSize);
    static void hook(lua_State *L, struct lua_Debug *ar);

    CommPort &m_port;
    LineClaim &m_line;
    Switches &m_switches;
    ScriptOutput &m_output;
    QString m_path;
    QStringList m_arguments;
    TextEncoding m_encoding = TextEncoding::Gbk;

    lua_State *m_state = nullptr;
    lua_State *m_script = nullptr;
    struct Memory
    {
        qint64 used = 0;
        bool exceeded = false;
    } m_memory;
    bool m_inLua = false;
    // Set while Lua runs, for the job to end as soon as Lua has yielded.
    bool m_ending_requested = false;
    Ending m_requested = Ending::Stopped;
    QElapsedTimer m_slice;

    Wait m_wait = Wait::None;
    QTimer m_timer;
    QTimer m_pollSoon;
    QTimer m_resumeSoon;
    QByteArray m_received;
    bool m_overflowTold = false;
    std::vector<std::unique_ptr<StreamPattern>> m_patterns;
    qsizetype m_readCount = 0;

    ScriptTransfers *m_transfers = nullptr;
    std::unique_ptr<LongJob> m_transfer;
    std::optional<JobResult> m_transferResult;

    QList<ScriptCheck> m_checks;
    Ending m_ending = Ending::Completed;
    QString m_summary;
};
