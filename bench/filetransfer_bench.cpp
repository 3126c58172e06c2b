// How long the hexadecimal view of the largest file and a fast send of 1 MB take, each beside
// the time the same bytes need on a 115200 bit/s line (ten bits a byte).

#include "benchsupport.h"
#include "app/menus.h"
#include "widgets/jobpanel.h"
#include "widgets/progressbar.h"
#include "receive/capturefile.h"
#include "core/jobrunner.h"
#include "commands/commandcontext.h"
#include "commands/filetransfer.h"
#include "core/dialogs.h"
#include "port/portpath.h"
#include "port/serialport.h"
#include "core/settingsstore.h"
#include "widgets/terminalbox.h"
#include "widgets/statusstrip.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QThread>
#include <QVBoxLayout>

#include <atomic>
#include <cstdio>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int PortNumber = 42;
constexpr double LineBytesPerSecond = 115200.0 / 10.0;

class BenchMain : public MainActions
{
public:
    void showSettings() override {}
    void exitProgram() override {}
    void clearOrStop() override {}
};

void report(const char *what, qint64 bytes, double seconds)
{
    const double line = double(bytes) / LineBytesPerSecond;
    std::printf("%-34s %9lld bytes  %8.3f s   (115200 bit/s line: %8.3f s, %6.0fx)\n", what,
                static_cast<long long>(bytes), seconds, line, line / seconds);
}

bool writeFile(const QString &path, qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i) {
        bytes[i] = char(i * 7 % 256);
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == size;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
    QApplication app(argc, argv);

    // The far end of the line: a raw pseudo-terminal, linked as the program's port.
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);
    ::tcsetattr(master, TCSANOW, &raw);
    QDir().mkpath(PortPath::portsDir());
    if (!QFile::link(QString::fromLocal8Bit(name), PortPath::linkPathFor(PortNumber))) {
        std::fprintf(stderr, "cannot link the pseudo-terminal as COM%d\n", PortNumber);
        return 1;
    }

    BenchDialogs dialogs;
    BenchStore store;
    BenchMain mainActions;
    SerialPort port;
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *menuBar = new QMenuBar(&window);
    Menus menus(menuBar);
    auto *box = new TerminalBox(&window);
    auto *bar = new ProgressBar(&window);
    auto *strip = new StatusStrip(port, store, &window);
    layout->setMenuBar(menuBar);
    layout->addWidget(box);
    layout->addWidget(bar);
    layout->addWidget(strip);
    window.resize(1000, 700);
    window.show();
    CaptureFile capture;
    JobPanel jobPanel(menus, *strip, *bar, *box, dialogs, port);
    JobRunner jobs(jobPanel);
    CommandContext context{port, menus, dialogs, store, *box, capture, jobs, mainActions};
    FileTransfer files(context);

    // Hexadecimal view of the largest file it shows.
    const QString viewFile = dir.filePath(u"view.bin"_s);
    dialogs.file = viewFile;
    if (!writeFile(viewFile, FileTransfer::MaxHexViewBytes)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(viewFile));
        return 1;
    }
    QElapsedTimer timer;
    timer.start();
    files.openFileAsHex();
    // The view writes on the window's events; it is done when its item is enabled again.
    while (!menus.enabled(Menus::HexView)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    report("hex view", FileTransfer::MaxHexViewBytes, timer.nsecsElapsed() / 1e9);
    if (box->textLength() == 0) {
        std::fprintf(stderr, "the view showed nothing\n");
        return 1;
    }

    // Fast send of 1 MB, timed until the far end has every byte.
    constexpr qint64 SendBytes = 1 << 20;
    const QString sendFile = dir.filePath(u"send.bin"_s);
    dialogs.file = sendFile;
    if (!writeFile(sendFile, SendBytes) || !port.setCommPort(PortNumber).ok()) {
        return 1;
    }
    if (const Result opened = port.setPortOpen(true); !opened) {
        std::fprintf(stderr, "%s\n", qPrintable(opened.message()));
        return 1;
    }
    box->clearText();
    std::atomic<qint64> received = 0;
    std::thread reader([&] {
        char buf[65536];
        while (received < SendBytes) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 10000) <= 0) {
                break;
            }
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0) {
                break;
            }
            received += n;
        }
    });
    timer.restart();
    files.sendFile();
    const double queued = timer.nsecsElapsed() / 1e9;
    QElapsedTimer deadline;
    deadline.start();
    while (received < SendBytes && deadline.elapsed() < 30000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    const double delivered = timer.nsecsElapsed() / 1e9;
    reader.join();
    report("fast send, handed to the port", SendBytes, queued);
    report("fast send, arrived at the far end", received, delivered);

    (void)port.setPortOpen(false);
    ::close(master);
    ::close(slave);
    return received == SendBytes ? 0 : 1;
}
