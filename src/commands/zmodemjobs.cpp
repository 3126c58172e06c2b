#include "commands/zmodemjobs.h"

#include "commands/commandcontext.h"
#include "core/commport.h"
#include "core/dialogs.h"
#include "core/messages.h"
#include "core/regularfile.h"
#include "core/settingkeys.h"
#include "core/settingsstore.h"
#include "transfer/receivefolder.h"
#include "transfer/zmodemreceiver.h"
#include "transfer/zmodemsender.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace {

double secondsOf(const QElapsedTimer &clock)
{
    return clock.isValid() ? double(clock.nsecsElapsed()) / 1e9 : 0.0;
}

} // namespace

// --- Receiving ----------------------------------------------------------------------------------

ZmodemReceiveJob::ZmodemReceiveJob(CommandContext &context, ZmodemStart how, QObject *parent)
    : ModemJob(context, parent)
    , m_how(how)
{}

ZmodemReceiveJob::~ZmodemReceiveJob()
{
    // The engine writes into the folder: it goes first.
    m_engine.reset();
}

std::optional<QString> ZmodemReceiveJob::folder()
{
    const QString last = m_context.store.read(SettingKeys::zmodemFolder(), QString());
    if (m_how == ZmodemStart::FarEnd && !last.isEmpty() && QFileInfo(last).isDir())
        return last;
    const std::optional<QString> chosen = m_context.dialogs.chooseFolder();
    if (chosen)
        m_context.store.save(SettingKeys::zmodemFolder(), *chosen);
    return chosen;
}

void ZmodemReceiveJob::begin()
{
    const std::optional<QString> where = folder();
    if (!where) {
        // sz on the far end would go on asking: it is told no.
        if (m_how == ZmodemStart::FarEnd && m_context.port.portOpen()) {
            (void)m_context.port.output(Zmodem::cancelSequence());
            finish(JobResult::notice(Messages::zmodemAutoCancelled()));
        } else {
            finish(JobResult::quiet());
        }
        return;
    }
    if (!m_context.port.portOpen()) {
        finish(JobResult::notice(Messages::zmodemReceiveFailed(Messages::transferPortClosed()),
                                 true));
        return;
    }
    m_folder = std::make_unique<ReceiveFolder>(*where, m_context.encoding);
    m_engine = std::make_unique<ZmodemReceiver>(*m_folder);
    ZmodemReceiver *engine = m_engine.get();
    connect(engine, &ZmodemReceiver::fileStarted, this,
            [this](const QByteArray &, qint64, qint64 offset) {
                if (!m_clock.isValid())
                    m_clock.start();
                m_fileClock.start();
                m_fileStart = offset;
            });
    connect(engine, &ZmodemReceiver::progress, this, &ZmodemReceiveJob::reportProgress);
    connect(engine, &ZmodemReceiver::fileReceived, this, [this](const QString &path, qint64 bytes) {
        ++m_files;
        m_bytes += bytes - m_fileStart;
        m_lines << Messages::zmodemFileReceived(QFileInfo(path).fileName(), bytes, m_fileStart,
                                                secondsOf(m_fileClock));
    });
    connect(engine, &ZmodemReceiver::fileFailed, this, [this](const QString &reason) {
        m_fileFailed = true;
        m_lines << Messages::zmodemReceiveFailed(reason);
    });
    connect(engine, &ZmodemReceiver::finished, this, &ZmodemReceiveJob::ended);
    attach(engine);
    notice(m_how == ZmodemStart::FarEnd ? Messages::zmodemAutoReceive(*where)
                                        : Messages::zmodemReceiveWaiting(*where));
    engine->start();
}

void ZmodemReceiveJob::cancel()
{
    if (m_engine)
        m_engine->cancel();
}

void ZmodemReceiveJob::endForPort()
{
    if (!m_engine)
        return; // still choosing the folder: begin() finds the port closed
    const QString part = m_folder->abandon();
    QString reason = Messages::transferPortClosed();
    if (!part.isEmpty())
        reason += u"；"_s + Messages::transferPartKept(part, QFileInfo(part).size());
    m_engine.reset();
    ended({Modem::Outcome::Kind::Failed, reason});
}

void ZmodemReceiveJob::ended(const Modem::Outcome &outcome)
{
    release();
    const int recoveries = m_engine ? m_engine->recoveries() : 0;
    if (!outcome.completed())
        m_lines << Messages::zmodemReceiveFailed(outcome.reason);
    m_lines << Messages::zmodemReceiveDone(m_files, m_bytes, secondsOf(m_clock), recoveries);
    finish(JobResult::notice(m_lines.join(u'\n'), m_fileFailed || !outcome.completed()));
}

// --- Sending ------------------------------------------------------------------------------------

ZmodemSendJob::ZmodemSendJob(CommandContext &context, ZmodemStart how, QObject *parent)
    : ModemJob(context, parent)
    , m_how(how)
{}

ZmodemSendJob::~ZmodemSendJob()
{
    m_engine.reset();
}

void ZmodemSendJob::begin()
{
    const std::optional<QStringList> paths = m_context.dialogs.openFiles(u"所有文件|*.*"_s);
    if (!paths || paths->isEmpty()) {
        // rz on the far end would wait a long while: it is told no.
        if (m_how == ZmodemStart::FarEnd && m_context.port.portOpen()) {
            (void)m_context.port.output(Zmodem::cancelSequence());
            finish(JobResult::notice(Messages::zmodemAutoCancelled()));
        } else {
            finish(JobResult::quiet());
        }
        return;
    }
    if (!m_context.port.portOpen()) {
        finish(JobResult::notice(Messages::zmodemSendFailed(Messages::transferPortClosed(), 0, 0),
                                 true));
        return;
    }
    QList<ZmodemSender::Source> sources;
    qint64 total = 0;
    for (const QString &path : *paths) {
        Expected<std::unique_ptr<QFile>> file = openRegularFile(path);
        if (!file.ok()) {
            if (m_how == ZmodemStart::FarEnd)
                (void)m_context.port.output(Zmodem::cancelSequence());
            finish(JobResult::box(file.message()));
            return;
        }
        const QFileInfo info(path);
        m_files.push_back(std::move(*file));
        ZmodemSender::Source source;
        source.data = m_files.back().get();
        source.name = info.fileName().toUtf8();
        source.size = m_files.back()->size();
        source.mtime = info.lastModified().toSecsSinceEpoch();
        total += source.size;
        sources << source;
    }
    m_engine = std::make_unique<ZmodemSender>(sources);
    ZmodemSender *engine = m_engine.get();
    connect(engine, &ZmodemSender::receiverStarted, this, [this] { m_clock.start(); });
    connect(engine, &ZmodemSender::progress, this, &ZmodemSendJob::reportProgress);
    connect(engine, &ZmodemSender::fileConfirmed, this,
            [this](const QByteArray &name, qint64 sent, qint64 resumedAt) {
                m_lines << Messages::zmodemFileSent(QString::fromUtf8(name), sent, resumedAt);
            });
    connect(engine, &ZmodemSender::fileSkipped, this, [this](const QByteArray &name) {
        m_lines << Messages::zmodemFileSkipped(QString::fromUtf8(name));
    });
    connect(engine, &ZmodemSender::finished, this, &ZmodemSendJob::ended);
    attach(engine);
    notice(Messages::zmodemSendWaiting(int(sources.size()), total));
    engine->start();
}

void ZmodemSendJob::cancel()
{
    if (m_engine)
        m_engine->cancel();
}

void ZmodemSendJob::endForPort()
{
    if (!m_engine)
        return; // still choosing the files: begin() finds the port closed
    m_engine->disconnect(this);
    ended({Modem::Outcome::Kind::Failed, Messages::transferPortClosed()});
}

void ZmodemSendJob::ended(const Modem::Outcome &outcome)
{
    release();
    const int files = m_engine->filesConfirmed();
    const qint64 bytes = m_engine->bytesConfirmed();
    if (outcome.completed())
        m_lines << Messages::zmodemSendDone(files, bytes, secondsOf(m_clock),
                                            m_engine->recoveries());
    else
        m_lines << Messages::zmodemSendFailed(outcome.reason, files, bytes);
    m_files.clear();
    finish(JobResult::notice(m_lines.join(u'\n'), !outcome.completed()));
}
