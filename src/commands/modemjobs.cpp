#include "commands/modemjobs.h"

#include "commands/commandcontext.h"
#include "core/commport.h"
#include "core/dialogs.h"
#include "core/messages.h"
#include "core/regularfile.h"
#include "core/terminal.h"
#include "transfer/receivefolder.h"
#include "transfer/ymodemreceiver.h"
#include "transfer/zmodemreceiver.h"
#include "transfer/zmodemsender.h"

#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace {

const QString AllFilesFilter = u"所有文件|*.*"_s;

double secondsOf(const QElapsedTimer &clock)
{
    return clock.isValid() ? double(clock.nsecsElapsed()) / 1e9 : 0.0;
}

} // namespace

ModemJob::ModemJob(CommandContext &context, QObject *parent)
    : LongJob(parent)
    , m_context(context)
{
    m_settle.setSingleShot(true);
    connect(&m_settle, &QTimer::timeout, this, &ModemJob::giveBack);
}

ModemJob::~ModemJob()
{
    release();
    giveBack();
}

void ModemJob::portClosed()
{
    if (running())
        endForPort();
}

template<typename Engine>
void ModemJob::attach(Engine *engine)
{
    m_feed = [engine](QByteArrayView bytes) {
        return engine->feed(bytes);
    };
    m_links << connect(engine, &Engine::output, this, &ModemJob::put);
    if constexpr (std::is_same_v<Engine, ModemSender>)
        m_links << connect(&m_context.port, &CommPort::bytesWritten, engine,
                           &ModemSender::lineTook);
    if constexpr (std::is_same_v<Engine, ZmodemSender>)
        m_links << connect(&m_context.port, &CommPort::bytesWritten, engine,
                           [this, engine] { engine->lineTook(m_context.port.bytesToWrite()); });
    m_context.line->claim(this);
}

// The ZMODEM jobs live in a file of their own.
template void ModemJob::attach<ZmodemReceiver>(ZmodemReceiver *engine);
template void ModemJob::attach<ZmodemSender>(ZmodemSender *engine);

void ModemJob::release()
{
    for (const QMetaObject::Connection &link : std::as_const(m_links))
        disconnect(link);
    m_links.clear();
    if (!m_feed)
        return;
    m_feed = [this](QByteArrayView bytes) {
        qsizetype stray = 0;
        while (stray < bytes.size()
               && (bytes[stray] == Modem::ACK || bytes[stray] == Modem::NAK
                   || bytes[stray] == Modem::CAN))
            ++stray;
        if (stray < bytes.size())
            giveBack();
        return stray;
    };
    m_settle.start(1000);
}

void ModemJob::giveBack()
{
    m_settle.stop();
    if (m_context.line)
        m_context.line->release(this);
    m_feed = nullptr;
}

void ModemJob::put(const QByteArray &bytes)
{
    // A refused write means the port is going: portClosed() follows and ends the job.
    (void)m_context.port.output(bytes);
}

void ModemJob::notice(const QString &text)
{
    appendNotice(m_context.box, text);
}

qsizetype ModemJob::takeFromLine(QByteArrayView bytes)
{
    // The engine may end within the chunk: what follows it goes to the settling filter, which
    // may give the line back within the chunk in turn. Each is called through a copy, since the
    // call may replace it.
    qsizetype taken = 0;
    while (m_feed && taken < bytes.size()) {
        const std::function<qsizetype(QByteArrayView)> feed = m_feed;
        const qsizetype n = feed(bytes.sliced(taken));
        taken += n;
        if (n == 0 && m_feed)
            break;
    }
    return taken;
}

// --- Sending ------------------------------------------------------------------------------------

ModemSendJob::ModemSendJob(CommandContext &context, ModemSender::Protocol protocol, QObject *parent)
    : ModemJob(context, parent)
    , m_protocol(protocol)
{}

ModemSendJob::~ModemSendJob() = default;

QString ModemSendJob::protocolName() const
{
    return m_protocol == ModemSender::Protocol::Xmodem ? u"XMODEM"_s : u"YMODEM"_s;
}

void ModemSendJob::begin()
{
    const std::optional<QString> path = m_context.dialogs.openFile(AllFilesFilter);
    if (!path) {
        finish(JobResult::quiet());
        return;
    }
    // The port may have gone while the dialog was open.
    if (!m_context.port.portOpen()) {
        finish(JobResult::notice(Messages::transferSendFailed(protocolName(),
                                                              QFileInfo(*path).fileName(), 0,
                                                              Messages::transferPortClosed()),
                                 true));
        return;
    }
    Expected<std::unique_ptr<QFile>> file = openRegularFile(*path);
    if (!file.ok()) {
        finish(JobResult::box(file.message()));
        return;
    }
    m_file = std::move(*file);
    const QFileInfo info(*path);
    m_name = info.fileName();
    ModemSender::Source source;
    source.data = m_file.get();
    source.name = m_name.toUtf8();
    source.size = m_file->size();
    source.mtime = info.lastModified().toSecsSinceEpoch();
    m_engine = std::make_unique<ModemSender>(m_protocol, source);
    m_engine->setTiming(m_timing);
    connect(m_engine.get(), &ModemSender::receiverStarted, this, [this] { m_clock.start(); });
    connect(m_engine.get(), &ModemSender::progress, this, &ModemSendJob::reportProgress);
    connect(m_engine.get(), &ModemSender::finished, this, &ModemSendJob::ended);
    attach(m_engine.get());
    notice(Messages::transferWaiting(protocolName(), m_name, m_timing.startMs / 1000));
    m_engine->start();
}

void ModemSendJob::cancel()
{
    m_engine->cancel();
}

void ModemSendJob::endForPort()
{
    if (!m_engine)
        return; // still choosing the file: begin() finds the port closed
    // The engine would go on waiting for answers that cannot come.
    const qint64 acknowledged = m_engine->acknowledged();
    m_engine->disconnect(this);
    report({Modem::Outcome::Kind::Failed, Messages::transferPortClosed()}, acknowledged);
}

void ModemSendJob::ended(const Modem::Outcome &outcome)
{
    report(outcome, m_engine->acknowledged());
}

void ModemSendJob::report(const Modem::Outcome &outcome, qint64 acknowledged)
{
    release();
    m_file.reset();
    if (outcome.completed()) {
        finish(JobResult::notice(
                Messages::transferSent(protocolName(), m_name, acknowledged, secondsOf(m_clock))));
    } else {
        finish(JobResult::notice(
                Messages::transferSendFailed(protocolName(), m_name, acknowledged, outcome.reason),
                true));
    }
}

// --- Receiving ----------------------------------------------------------------------------------

ModemReceiveJob::ModemReceiveJob(CommandContext &context, QObject *parent)
    : ModemJob(context, parent)
{}

ModemReceiveJob::~ModemReceiveJob()
{
    // The engine writes into the folder: it goes first.
    m_engine.reset();
}

void ModemReceiveJob::begin()
{
    const std::optional<QString> folder = m_context.dialogs.chooseFolder();
    if (!folder) {
        finish(JobResult::quiet());
        return;
    }
    if (!m_context.port.portOpen()) {
        finish(JobResult::notice(Messages::transferReceiveFailed(Messages::transferPortClosed()),
                                 true));
        return;
    }
    m_folder = std::make_unique<ReceiveFolder>(*folder, m_context.encoding);
    m_engine = std::make_unique<YmodemReceiver>(*m_folder);
    YmodemReceiver *engine = m_engine.get();
    connect(engine, &YmodemReceiver::fileStarted, this, [this] { m_clock.start(); });
    connect(engine, &YmodemReceiver::progress, this, &ModemReceiveJob::reportProgress);
    connect(engine, &YmodemReceiver::fileReceived, this, [this](const QString &path, qint64 bytes) {
        m_lines << Messages::transferReceived(QFileInfo(path).fileName(), bytes,
                                              secondsOf(m_clock));
    });
    connect(engine, &YmodemReceiver::fileFailed, this, [this](const QString &reason) {
        m_fileFailed = true;
        m_lines << Messages::transferReceiveFailed(reason);
    });
    connect(engine, &YmodemReceiver::finished, this, &ModemReceiveJob::ended);
    attach(engine);
    notice(Messages::transferReceiveWaiting(*folder));
    engine->start();
}

void ModemReceiveJob::cancel()
{
    if (m_engine)
        m_engine->cancel();
}

void ModemReceiveJob::endForPort()
{
    if (!m_engine)
        return; // still choosing the folder: begin() finds the port closed
    // No CANs: there is no line. What arrived is kept as a part all the same.
    const QString part = m_folder->abandon();
    QString reason = Messages::transferPortClosed();
    if (!part.isEmpty())
        reason += u"；"_s + Messages::transferPartKept(part, QFileInfo(part).size());
    m_engine.reset();
    ended({Modem::Outcome::Kind::Failed, reason});
}

void ModemReceiveJob::ended(const Modem::Outcome &outcome)
{
    release();
    if (!outcome.completed())
        m_lines << Messages::transferReceiveFailed(outcome.reason);
    else if (m_lines.isEmpty())
        m_lines << Messages::transferReceiveBatchEnd(0);
    finish(JobResult::notice(m_lines.join(u'\n'), m_fileFailed || !outcome.completed()));
}
