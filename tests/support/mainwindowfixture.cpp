#include "support/mainwindowfixture.h"

#include "app/menus.h"
#include "widgets/terminalbox.h"
#include "support/processprobe.h"
#include "support/testapp.h"
#include "core/colors.h"
#include "widgets/statusstrip.h"
#include "widgets/terminalwindow.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QTest>

#include <utility>

using namespace Qt::StringLiterals;

void MainWindowFixture::SetUp()
{
    ensureApp();
    ASSERT_TRUE(m_config.linkPty(PortNumber, m_pty));
    m_store.save(u"Comport"_s, u"COM%1"_s.arg(PortNumber));
    m_port = std::make_unique<SerialPort>();
}

void MainWindowFixture::TearDown()
{
    m_window.reset();
    m_port.reset();
}

void MainWindowFixture::startWindow()
{
    m_window = std::make_unique<MainWindow>(*m_port, m_store, m_dialogs);
    m_window->start();
    QApplication::setActiveWindow(m_window.get());
    box().setFocus();
}

void MainWindowFixture::openPort()
{
    click(Menus::OpenPort);
    ASSERT_TRUE(m_window->menus().checked(Menus::OpenPort)) << "the port did not open";
}

TerminalBox &MainWindowFixture::box()
{
    return m_window->terminal().box();
}

void MainWindowFixture::click(int item)
{
    m_window->runCommand(item);
}

void MainWindowFixture::type(const QString &text)
{
    for (QChar c : text) {
        if (c.unicode() >= 128) {
            // Characters beyond ASCII come from an input method, as Chinese text does.
            QInputMethodEvent commit;
            commit.setCommitString(QString(c));
            QApplication::sendEvent(&box(), &commit);
            continue;
        }
        // For ASCII, Qt's key codes are the upper-case character codes.
        const int key = c.toUpper().unicode();
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
        QApplication::sendEvent(&box(), &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(c));
        QApplication::sendEvent(&box(), &release);
    }
}

void MainWindowFixture::pressKey(int qtKey, Qt::KeyboardModifiers modifiers)
{
    QTest::keyClick(&box(), static_cast<Qt::Key>(qtKey), modifiers);
}

bool MainWindowFixture::waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QTest::qWait(5);
    }
    return true;
}

void MainWindowFixture::peerSends(const QByteArray &bytes)
{
    const qsizetype before = box().textLength();
    ASSERT_TRUE(m_pty.writeMaster(bytes));
    // Arrival is asynchronous; wait until the terminal has grown and the line is quiet.
    waitFor([&] { return box().textLength() != before; }, 3000);
    QTest::qWait(60);
}

QStringList MainWindowFixture::noticeLines()
{
    QString notices;
    for (const TextRun &run : box().runs()) {
        if (run.color == TerminalColors::Notice)
            notices += run.text + u'\n';
    }
    return notices.split(u'\n', Qt::SkipEmptyParts);
}

double MainWindowFixture::cpuSecondsOverClockTicks(int ticks)
{
    QString shown = m_window->statusStrip().currentText();
    const double before = cpuSeconds();
    for (int tick = 0; tick < ticks; ++tick) {
        const bool turned = waitFor(
                [&] {
                    const QString now = m_window->statusStrip().currentText();
                    return std::exchange(shown, now) != now;
                },
                5000);
        if (!turned) {
            ADD_FAILURE() << "the status strip's clock stopped";
            break;
        }
    }
    return cpuSeconds() - before;
}
