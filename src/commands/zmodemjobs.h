#pragma once

#include "commands/modemjobs.h"

#include <QElapsedTimer>
#include <QStringList>

#include <memory>
#include <vector>

class QFile;
class ReceiveFolder;
class ZmodemReceiver;
class ZmodemSender;

// How a ZMODEM job came to be: from its menu item, or because the far end began one (sz sent
// ZRQINIT, rz sent ZRINIT) while no job ran.
enum class ZmodemStart { Menu, FarEnd };

// "ZMODEM 接收文件...", and what sz on the far end starts by itself: a batch into a folder. From
// the menu the folder dialog asks; started by the far end, the last folder chosen is taken, and
// only the first time the dialog asks. A refused dialog cancels the far end's sz.
class ZmodemReceiveJob : public ModemJob
{
    Q_OBJECT

public:
    ZmodemReceiveJob(CommandContext &context, ZmodemStart how, QObject *parent = nullptr);
    ~ZmodemReceiveJob() override;

    int filesReceived() const { return m_files; }

protected:
    void begin() override;
    void cancel() override;
    void endForPort() override;

private:
    std::optional<QString> folder();
    void ended(const Modem::Outcome &outcome);

    ZmodemStart m_how;
    std::unique_ptr<ReceiveFolder> m_folder;
    std::unique_ptr<ZmodemReceiver> m_engine;
    QStringList m_lines;
    bool m_fileFailed = false;
    int m_files = 0;
    qint64 m_bytes = 0;
    qint64 m_fileStart = 0;
    QElapsedTimer m_clock;
    QElapsedTimer m_fileClock;
};

// "ZMODEM 发送文件...", and what rz on the far end asks for: one or more files chosen in the
// program's file dialog. Refused, the far end's rz is cancelled.
class ZmodemSendJob : public ModemJob
{
    Q_OBJECT

public:
    ZmodemSendJob(CommandContext &context, ZmodemStart how, QObject *parent = nullptr);
    ~ZmodemSendJob() override;

protected:
    void begin() override;
    void cancel() override;
    void endForPort() override;

private:
    void ended(const Modem::Outcome &outcome);

    ZmodemStart m_how;
    std::vector<std::unique_ptr<QFile>> m_files;
    std::unique_ptr<ZmodemSender> m_engine;
    QStringList m_lines;
    QElapsedTimer m_clock;
};
