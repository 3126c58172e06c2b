#pragma once

#include "core/lineclaim.h"
#include "core/longjob.h"
#include "transfer/modemsender.h"

#include <QElapsedTimer>
#include <QList>
#include <QMetaObject>
#include <QStringList>
#include <QTimer>

#include <functional>

#include <memory>

class QFile;
class ReceiveFolder;
class YmodemReceiver;
struct CommandContext;

// What both transfers do around their engine: they take the line from the terminal while they
// run, put the engine's bytes out through the port, and give it back when they end. The port
// stays open whatever happens.
class ModemJob : public LongJob, protected LineTaker
{
    Q_OBJECT

public:
    explicit ModemJob(CommandContext &context, QObject *parent = nullptr);
    ~ModemJob() override;

    // A lost or closed port ends the transfer at once: there is no line to tell the peer on.
    void portClosed() override;
    bool holdsLine() const override { return true; }

protected:
    // Connects an engine's output to the port and takes the line; release() undoes it.
    template<typename Engine>
    void attach(Engine *engine);
    // The engine is done with the line. Receivers repeat their last answer (U-Boot's loadx
    // acknowledges the end twice): for a moment, such stray answers at the front of what arrives
    // are still taken, until anything else arrives.
    void release();
    void notice(const QString &text);
    qsizetype takeFromLine(QByteArrayView bytes) override;
    virtual void endForPort() = 0;

    CommandContext &m_context;

private:
    void put(const QByteArray &bytes);
    void giveBack();

    std::function<qsizetype(QByteArrayView)> m_feed;
    QList<QMetaObject::Connection> m_links;
    QTimer m_settle;
};

// "XMODEM 发送文件..." and "YMODEM 发送文件...": one file, chosen with the file dialog.
class ModemSendJob : public ModemJob
{
    Q_OBJECT

public:
    ModemSendJob(CommandContext &context, ModemSender::Protocol protocol,
                 QObject *parent = nullptr);
    ~ModemSendJob() override;

    // For tests: how long the receiver has to start, and to answer.
    void setTiming(const ModemSender::Timing &timing) { m_timing = timing; }

protected:
    void begin() override;
    void cancel() override;
    void endForPort() override;

private:
    void ended(const Modem::Outcome &outcome);
    void report(const Modem::Outcome &outcome, qint64 acknowledged);
    QString protocolName() const;

    ModemSender::Protocol m_protocol;
    ModemSender::Timing m_timing;
    std::unique_ptr<QFile> m_file;
    std::unique_ptr<ModemSender> m_engine;
    QString m_name;
    QElapsedTimer m_clock;
};

// "YMODEM 接收文件...": a batch into a folder chosen with the file dialog in folder mode.
class ModemReceiveJob : public ModemJob
{
    Q_OBJECT

public:
    explicit ModemReceiveJob(CommandContext &context, QObject *parent = nullptr);
    ~ModemReceiveJob() override;

protected:
    void begin() override;
    void cancel() override;
    void endForPort() override;

private:
    void ended(const Modem::Outcome &outcome);

    std::unique_ptr<ReceiveFolder> m_folder;
    std::unique_ptr<YmodemReceiver> m_engine;
    // One line per file that ended, in order, for the final notice.
    QStringList m_lines;
    bool m_fileFailed = false;
    QElapsedTimer m_clock;
};
