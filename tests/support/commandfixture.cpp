#include "support/commandfixture.h"

#include "commands/portcommands.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTest>

using namespace Qt::StringLiterals;

TestMainActions::TestMainActions(TerminalBox &box, JobRunner &jobs)
    : m_box(box)
    , m_jobs(jobs)
{}

void TestMainActions::clearOrStop()
{
    if (m_jobs.stoppable()) {
        m_jobs.stopRequested();
    } else {
        m_box.clearText();
    }
}

void CommandFixture::SetUp()
{
    ASSERT_TRUE(m_config.isValid());
    ASSERT_TRUE(m_dir.isValid());
    ASSERT_TRUE(m_config.linkPty(PortNumber, m_pty));
    ASSERT_TRUE(m_port.setCommPort(PortNumber).ok());
    m_store.set(u"Comport"_s, u"COM%1"_s.arg(PortNumber));
}

void CommandFixture::openPort()
{
    PortCommands(m_context, [] {}).openOrClose();
    ASSERT_TRUE(m_port.portOpen()) << "the pseudo-terminal did not open as COM" << PortNumber;
    ASSERT_TRUE(m_menus.checked(Menus::OpenPort));
}

void CommandFixture::closePort()
{
    PortCommands(m_context, [] {}).openOrClose();
    ASSERT_FALSE(m_port.portOpen());
}

QString CommandFixture::writeFile(const QString &name, const QByteArray &bytes)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(bytes) != bytes.size()) {
        ADD_FAILURE() << "cannot write test file " << path.toStdString();
    }
    return path;
}

QString CommandFixture::missingPath() const
{
    return m_dir.filePath(u"no-such-folder/no-such-file"_s);
}

bool CommandFixture::waitForCondition(const std::function<bool()> &condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(5);
    }
    return true;
}
