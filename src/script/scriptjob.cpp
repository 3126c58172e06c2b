#include "script/scriptjob.h"

#include "core/commport.h"
#include "core/messages.h"
#include "core/regularfile.h"
#include "script/scriptapi.h"
#include "script/scripttransfers.h"
#include "script/streampattern.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <lua.hpp>

#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

// Instructions between two looks at the clock and the stop request.
constexpr int HookInterval = 1000;
// How long a script computes before the window gets a turn.
constexpr int SliceMs = 30;
// A script that sends faster than the line takes waits while this much is queued.
constexpr qint64 QueueLimit = 1 << 20;

ScriptJob *jobOf(lua_State *L)
{
    return *static_cast<ScriptJob **>(lua_getextraspace(L));
}

} // namespace

ScriptJob::ScriptJob(CommPort &port, LineClaim &line, Switches &switches, ScriptOutput &output,
                     const QString &path, const QStringList &arguments, QObject *parent)
    : LongJob(parent)
    , m_port(port)
    , m_line(line)
    , m_switches(switches)
    , m_output(output)
    , m_path(path)
    , m_arguments(arguments)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ScriptJob::timedOut);
    m_pollSoon.setSingleShot(true);
    m_pollSoon.setInterval(0);
    connect(&m_pollSoon, &QTimer::timeout, this, &ScriptJob::poll);
    m_resumeSoon.setSingleShot(true);
    m_resumeSoon.setInterval(0);
    connect(&m_resumeSoon, &QTimer::timeout, this, [this] { resume(0); });
    connect(&m_port, &CommPort::bytesWritten, this, [this] {
        if (m_wait == Wait::Drain && !m_pollSoon.isActive())
            m_pollSoon.start();
    });
}

ScriptJob::~ScriptJob()
{
    m_transfer.reset();
    m_line.release(this);
    closeState();
}

QString ScriptJob::name() const
{
    return QFileInfo(m_path).fileName();
}

bool ScriptJob::checksFailed() const
{
    for (const ScriptCheck &check : m_checks) {
        if (!check.passed)
            return true;
    }
    return false;
}

void *ScriptJob::allocate(void *ud, void *ptr, size_t oldSize, size_t newSize)
{
    auto *memory = static_cast<Memory *>(ud);
    const qint64 old = ptr ? qint64(oldSize) : 0;
    if (newSize == 0) {
        std::free(ptr);
        memory->used -= old;
        return nullptr;
    }
    if (qint64(newSize) > old && memory->used - old + qint64(newSize) > MemoryLimit) {
        memory->exceeded = true;
        return nullptr;
    }
    void *grown = std::realloc(ptr, newSize);
    if (grown)
        memory->used += qint64(newSize) - old;
    return grown;
}

void ScriptJob::hook(lua_State *L, lua_Debug *)
{
    ScriptJob *job = jobOf(L);
    const bool mustEnd = job->m_ending_requested || job->m_memory.exceeded;
    const bool canYield = L == job->m_script && lua_isyieldable(L);
    if (mustEnd) {
        // A yield cannot be caught by the script's pcall; an error raised inside a coroutine of
        // the script's own is caught there, and the next hook in the main body then yields.
        if (canYield) {
            lua_yield(L, 0);
            return;
        }
        luaL_error(L, "%s", Messages::scriptStopped(job->name()).toUtf8().constData());
        return;
    }
    if (canYield && job->m_slice.elapsed() >= SliceMs)
        lua_yield(L, 0);
}

void ScriptJob::begin()
{
    Expected<QByteArray> text = [this]() -> Expected<QByteArray> {
        Expected<std::unique_ptr<QFile>> file = openRegularFile(m_path);
        if (!file.ok())
            return Expected<QByteArray>::failure(file.message());
        QByteArray all = (*file)->readAll();
        if ((*file)->error() != QFileDevice::NoError)
            return Expected<QByteArray>::failure(
                    Messages::scriptCannotRead(m_path, (*file)->errorString()));
        return all;
    }();
    if (!text.ok()) {
        end(Ending::Error, text.message());
        return;
    }
    if (!QUtf8StringView(*text).isValidUtf8()) {
        end(Ending::Error, Messages::scriptNotUtf8(m_path));
        return;
    }
    m_state = lua_newstate(&ScriptJob::allocate, &m_memory);
    if (!m_state) {
        end(Ending::Error, Messages::scriptMemoryExceeded(name(), int(MemoryLimit >> 20)));
        return;
    }
    *static_cast<ScriptJob **>(lua_getextraspace(m_state)) = this;
    ScriptApi::install(m_state, m_path, m_arguments);
    // The coroutine stays referenced from the main state's stack.
    m_script = lua_newthread(m_state);
    const QByteArray chunkName = '@' + name().toUtf8();
    // Text only: a precompiled chunk can crash the interpreter.
    const int loaded = luaL_loadbufferx(m_script, text.value().constData(),
                                        size_t(text.value().size()), chunkName.constData(), "t");
    if (loaded != LUA_OK) {
        endWithError(loaded);
        return;
    }
    lua_sethook(m_script, &ScriptJob::hook, LUA_MASKCOUNT, HookInterval);
    m_line.claim(this);
    // Once the menu's click has returned.
    m_resumeSoon.start();
}

void ScriptJob::resume(int arguments)
{
    if (!m_script || m_inLua)
        return;
    m_wait = Wait::None;
    m_slice.start();
    m_inLua = true;
    int results = 0;
    const int status = lua_resume(m_script, m_state, arguments, &results);
    m_inLua = false;
    m_output.flush();
    if (m_memory.exceeded) {
        end(Ending::Error, Messages::scriptMemoryExceeded(name(), int(MemoryLimit >> 20)));
        return;
    }
    if (m_ending_requested) {
        end(m_requested);
        return;
    }
    if (status == LUA_YIELD) {
        lua_pop(m_script, results);
        // A wait yields with its state set; the hook yields with none, to give the window a turn.
        if (m_wait == Wait::None)
            m_resumeSoon.start();
        return;
    }
    if (status == LUA_OK) {
        end(Ending::Completed);
        return;
    }
    endWithError(status);
}

void ScriptJob::startWait(Wait wait, int milliseconds)
{
    m_wait = wait;
    if (milliseconds >= 0)
        m_timer.start(milliseconds);
    else
        m_timer.stop();
}

qsizetype ScriptJob::takeFromLine(QByteArrayView bytes)
{
    m_received.append(bytes);
    if (m_received.size() > ReceiveLimit) {
        const qsizetype excess = m_received.size() - ReceiveLimit;
        m_received.remove(0, excess);
        for (const std::unique_ptr<StreamPattern> &pattern : m_patterns)
            pattern->dropFront(excess);
        if (!m_overflowTold) {
            m_overflowTold = true;
            m_output.notice(Messages::scriptReceiveOverflow(int(ReceiveLimit >> 20)));
            m_output.flush();
        }
    }
    // The script reacts after the chunk has reached the terminal, so the transcript keeps the
    // order in which things happened.
    if ((m_wait == Wait::Expect || m_wait == Wait::Read || m_wait == Wait::ReadLine)
        && !m_pollSoon.isActive())
        m_pollSoon.start();
    return 0;
}

bool ScriptJob::startTransfer(lua_State *L, int kind, const QString &path)
{
    if (!m_transfers) {
        lua_pushstring(L, Messages::scriptTransfersUnavailable().toUtf8().constData());
        return false;
    }
    m_transferResult.reset();
    m_transfer = m_transfers->transfer(ScriptTransfers::Kind(kind), path);
    connect(m_transfer.get(), &LongJob::progress, this, &ScriptJob::reportProgress);
    connect(m_transfer.get(), &LongJob::finished, this, &ScriptJob::transferEnded);
    // What the script said so far comes before the transfer's own lines.
    m_output.flush();
    // The transfer takes the line from the script while it runs.
    m_transfer->start();
    return true;
}

void ScriptJob::transferEnded(const JobResult &result)
{
    m_transferResult = result;
    if (!result.text.isEmpty())
        m_output.notice(result.text);
    m_output.flush();
    // Back to watching the line; the bytes the transfer had are its own.
    m_line.claim(this);
    if (m_wait == Wait::Transfer && !m_pollSoon.isActive())
        m_pollSoon.start();
}

void ScriptJob::poll()
{
    if (!m_script || m_inLua || m_wait == Wait::None || m_wait == Wait::Sleep)
        return;
    const int results = satisfy(m_script, false);
    if (results >= 0) {
        m_timer.stop();
        resume(results);
    }
}

void ScriptJob::timedOut()
{
    if (!m_script || m_inLua || m_wait == Wait::None)
        return;
    const int results = satisfy(m_script, true);
    resume(std::max(results, 0));
}

int ScriptJob::satisfy(lua_State *L, bool timedOut)
{
    switch (m_wait) {
    case Wait::None:
        return 0;
    case Wait::Sleep:
        return timedOut ? 0 : -1;
    case Wait::Drain:
        return timedOut || m_port.bytesToWrite() <= QueueLimit || !m_port.portOpen() ? 0 : -1;
    case Wait::Expect:
        return ScriptApi::expectResult(*this, L, timedOut);
    case Wait::Read:
        return ScriptApi::readResult(*this, L, timedOut);
    case Wait::ReadLine:
        return ScriptApi::readLineResult(*this, L, timedOut);
    case Wait::Transfer:
        return ScriptApi::transferResult(*this, L);
    }
    return -1;
}

void ScriptJob::cancel()
{
    // A transfer tells its peer (CANs) before the script goes.
    if (m_transfer && m_transfer->running())
        m_transfer->stop();
    if (m_inLua) {
        m_ending_requested = true;
        m_requested = Ending::Stopped;
        return;
    }
    end(Ending::Stopped);
}

void ScriptJob::portClosed()
{
    if (!running())
        return;
    if (m_transfer && m_transfer->running())
        m_transfer->portClosed();
    if (m_inLua) {
        m_ending_requested = true;
        m_requested = Ending::PortClosed;
        return;
    }
    end(Ending::PortClosed);
}

void ScriptJob::endWithError(int status)
{
    QString text = status == LUA_ERRMEM ? u"not enough memory"_s : QString();
    if (text.isEmpty()) {
        const char *message = lua_tostring(m_script, -1);
        text = message ? QString::fromUtf8(message)
                       : u"(error object is a %1 value)"_s.arg(
                               QString::fromUtf8(luaL_typename(m_script, -1)));
    }
    // "boot.lua:12: message": the place Lua put in front, when it did.
    static const QRegularExpression place(u"^(.*?):(\\d+): (.*)$"_s,
                                          QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch m = place.match(text);
    int line = 0;
    if (m.hasMatch() && m.captured(1) == name()) {
        line = m.captured(2).toInt();
        text = m.captured(3);
    }
    end(Ending::Error, Messages::scriptLuaMessage(text), line);
}

void ScriptJob::end(Ending ending, const QString &detail, int line)
{
    if (!running())
        return;
    m_wait = Wait::None;
    m_timer.stop();
    m_pollSoon.stop();
    m_resumeSoon.stop();
    if (m_transfer) {
        m_transfer->disconnect(this);
        m_transfer.reset();
    }
    m_line.release(this);
    closeState();
    m_ending = ending;

    int passed = 0;
    int failed = 0;
    const ScriptCheck *firstFail = nullptr;
    for (const ScriptCheck &check : std::as_const(m_checks)) {
        if (check.passed) {
            ++passed;
        } else {
            ++failed;
            if (!firstFail)
                firstFail = &check;
        }
    }
    const QString soFar
            = m_checks.isEmpty() ? QString() : Messages::scriptChecksSoFar(passed, failed);
    switch (ending) {
    case Ending::Completed:
        m_summary = m_checks.isEmpty()
                            ? Messages::scriptFinished(name())
                            : Messages::scriptChecks(name(), passed, failed,
                                                     firstFail ? firstFail->line : 0,
                                                     firstFail ? firstFail->name : QString());
        break;
    case Ending::Error:
        m_summary = detail.startsWith(u"脚本"_s)
                            ? detail + soFar
                            : Messages::scriptError(name(), line, detail) + soFar;
        break;
    case Ending::Stopped:
        m_summary = Messages::scriptStopped(name()) + soFar;
        break;
    case Ending::PortClosed:
        m_summary = Messages::scriptPortClosed(name()) + soFar;
        break;
    }
    const bool bad = ending != Ending::Completed || failed > 0;
    m_output.flush();
    finish(JobResult::notice(m_summary, bad));
}

void ScriptJob::closeState()
{
    if (!m_state || m_inLua)
        return;
    m_patterns.clear();
    lua_close(m_state);
    m_state = nullptr;
    m_script = nullptr;
}
