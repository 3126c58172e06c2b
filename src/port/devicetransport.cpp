#include "port/devicetransport.h"

#include "core/messages.h"
#include "port/deniedaccess.h"
#include "port/portpath.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <utility>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// The status strip asks for three lines in a row: one system call serves all.
constexpr int ModemCacheMs = 10;
// How often an open device's input lines are read for a change: soon enough to look at once to a
// person watching the strip, and one system call each time.
constexpr int ModemPollMs = 100;
constexpr int InputLines = TIOCM_CAR | TIOCM_CTS | TIOCM_DSR;

// ioctl() answers for a device without modem-control lines, such as a pseudo-terminal.
bool meansNoModemLines(int err)
{
    return err == ENOTTY || err == EINVAL || err == ENOTSUP;
}

QSerialPort::FlowControl flowFor(int handshaking)
{
    return handshaking == 1   ? QSerialPort::SoftwareControl
           : handshaking >= 2 ? QSerialPort::HardwareControl
                              : QSerialPort::NoFlowControl;
}

} // namespace

DeviceTransport::DeviceTransport(QObject *parent)
    : LineTransport(parent)
    , m_serial(this)
{
    // Nothing received may be dropped: the buffer grows as needed until it is handed on.
    m_serial.setReadBufferSize(0);
    connect(&m_serial, &QSerialPort::readyRead, this, &LineTransport::readyRead);
    connect(&m_serial, &QSerialPort::errorOccurred, this, &DeviceTransport::onErrorOccurred);
    connect(&m_serial, &QSerialPort::bytesWritten, this, &LineTransport::bytesWritten);
    m_modemPoll.setInterval(ModemPollMs);
    connect(&m_modemPoll, &QTimer::timeout, this, &DeviceTransport::pollModemLines);
}

DeviceTransport::~DeviceTransport()
{
    if (m_serial.isOpen())
        close();
}

QString DeviceTransport::describe() const
{
    const QString name = u"COM"_s + QString::number(m_number);
    return m_device.isEmpty() ? name : u"%1 (%2)"_s.arg(name, m_device);
}

Result DeviceTransport::open(int number, const QString &path, const LineSetup &setup)
{
    Q_ASSERT(!m_serial.isOpen());
    m_number = number;
    const QString name = u"COM"_s + QString::number(number);
    const QFileInfo info(path);
    const bool linked = info.isSymLink();
    const QString device = info.canonicalFilePath();
    if (device.isEmpty()) {
        if (linked) {
            return Result::failure(Messages::linkTargetMissing(name, path, info.symLinkTarget(),
                                                               PortPath::linkCommandFor(number)));
        }
        return Result::failure(
                Messages::deviceMissing(name, path, PortPath::linkCommandFor(number)));
    }
    const QString where = linked ? u"%1 (%2, 链接自 %3)"_s.arg(name, device, path)
                                 : u"%1 (%2)"_s.arg(name, device);

    // Check access ourselves: Qt reports a held lock and a denied device alike.
    const QByteArray encoded = QFile::encodeName(device);
    if (::access(encoded.constData(), R_OK | W_OK) != 0 && errno == EACCES)
        return Result::failure(Messages::permissionDenied(where, deniedDeviceOf(encoded)));
    // Only a character device can be a serial line; opening a FIFO or a file would either block
    // or read garbage.
    struct stat st
    {
    };
    if (::stat(encoded.constData(), &st) == 0 && !S_ISCHR(st.st_mode))
        return Result::failure(Messages::notASerialDevice(where));

    // Open with exclusive access and the configured line.
    m_serial.setPortName(device);
    m_line = setup.line;
    m_handshaking = setup.handshaking;
    // Before the open Qt only stores these; a refusal here is a value it cannot express.
    if (const Result applied = applyLineSettings(m_line); !applied)
        return Result::failure(Messages::openFailed(where, applied.message()));
    if (const Result applied = applyHandshaking(m_handshaking); !applied)
        return Result::failure(Messages::openFailed(where, applied.message()));
    m_losing = false;
    if (!m_serial.open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError error = m_serial.error();
        const QString why = m_serial.errorString();
        m_serial.clearError();
        if (why == qt_error_string(ENOTTY) || why == qt_error_string(EINVAL))
            return Result::failure(Messages::notASerialDevice(where));
        switch (error) {
        case QSerialPort::PermissionError:
            if (why == qt_error_string(EACCES) || why == qt_error_string(EPERM))
                return Result::failure(Messages::permissionDenied(where, deniedDeviceOf(encoded)));
            return Result::failure(Messages::deviceBusy(where));
        case QSerialPort::DeviceNotFoundError:
            return Result::failure(
                    Messages::deviceMissing(name, device, PortPath::linkCommandFor(number)));
        default:
            return Result::failure(Messages::openFailed(where, why));
        }
    }
    m_device = device;

    // Handshaking that Qt cannot express, then the output lines as last set. A line that will
    // not take the handshaking asked for is not left open without it: it would lose or hold
    // data with nothing to show why.
    if (m_handshaking == 3) {
        if (const Result applied = applyHandshaking(3); !applied) {
            m_serial.close();
            m_serial.clearError();
            return Result::failure(
                    Messages::handshakingRefusedByDevice(where, m_handshaking, applied.message()));
        }
    }
    m_modemLinesKnownMissing = false;
    m_modemBitsAge.invalidate();
    m_holdRefused = false;
    applyModemLine(TIOCM_DTR, setup.dtr);
    applyModemLine(TIOCM_RTS, setup.rts);
    // Watch the input lines from here on, unless setting the output ones showed there are none
    // (a pseudo-terminal).
    if (readModemBits()) {
        m_polledInputs = m_modemBits & InputLines;
        m_modemPoll.start();
    }
    return Result::success();
}

void DeviceTransport::close()
{
    m_modemPoll.stop();
    releaseReading();
    if (!m_serial.isOpen())
        return;
    // Hand the system what it takes now without waiting; a sender that still had bytes queued
    // learns from bytesToWrite() how far it got. A device being lost takes nothing more.
    if (!m_losing)
        m_serial.flush();
    m_losing = true;
    m_serial.close();
    m_serial.clearError();
    m_losing = false;
    m_device.clear();
}

Result DeviceTransport::setLineSettings(const LineSettings &line)
{
    if (!m_serial.isOpen()) {
        m_line = line;
        return Result::success();
    }
    if (const Result applied = applyLineSettings(line); !applied) {
        // Back to the settings the line had; should that fail too, the user must know that the
        // line now runs on neither.
        if (const Result restored = applyLineSettings(m_line); !restored)
            return Result::failure(
                    Messages::settingNotRestored(applied.message(), restored.message()));
        return applied;
    }
    m_line = line;
    return Result::success();
}

Result DeviceTransport::setHandshaking(int code)
{
    if (!m_serial.isOpen()) {
        m_handshaking = code;
        return Result::success();
    }
    if (const Result applied = applyHandshaking(code); !applied) {
        if (const Result restored = applyHandshaking(m_handshaking); !restored)
            return Result::failure(
                    Messages::settingNotRestored(applied.message(), restored.message()));
        return applied;
    }
    m_handshaking = code;
    return Result::success();
}

Result DeviceTransport::applyLineSettings(const LineSettings &line)
{
    // Each setter stops at the first refusal, whose cause errorString() then names.
    const bool applied = m_serial.setBaudRate(line.speed) && m_serial.setParity(line.parity)
                         && m_serial.setDataBits(line.dataBits)
                         && m_serial.setStopBits(line.stopBits);
    if (applied)
        return Result::success();
    const QString why = m_serial.errorString();
    m_serial.clearError();
    return Result::failure(why);
}

Result DeviceTransport::applyHandshaking(int code)
{
    // Qt rewrites the whole termios from its own copy on every change, so the software
    // flags of code 3 are put back after each one.
    if (!m_serial.setFlowControl(flowFor(code))) {
        const QString why = m_serial.errorString();
        m_serial.clearError();
        return Result::failure(why);
    }
    if (code != 3 || !m_serial.isOpen())
        return Result::success();
    // Read the line's settings as Qt left them, add the software flags, write them back; the
    // cause of a failure is the system's, which Qt never saw.
    termios tio{};
    const int fd = m_serial.handle();
    if (::tcgetattr(fd, &tio) != 0)
        return Result::failure(u"tcgetattr: "_s + qt_error_string(errno));
    tio.c_iflag |= IXON | IXOFF | IXANY;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0)
        return Result::failure(u"tcsetattr: "_s + qt_error_string(errno));
    return Result::success();
}

void DeviceTransport::setDtr(bool on)
{
    applyModemLine(TIOCM_DTR, on);
}

void DeviceTransport::setRts(bool on)
{
    applyModemLine(TIOCM_RTS, on);
}

void DeviceTransport::applyModemLine(int line, bool on)
{
    if (!m_serial.isOpen() || m_losing || m_modemLinesKnownMissing)
        return;
    // Set the line directly: QSerialPort would raise an error on every attempt on a device
    // without modem lines, and that is not a fault of the user's.
    int bits = line;
    if (::ioctl(m_serial.handle(), on ? TIOCMBIS : TIOCMBIC, &bits) != 0
        && meansNoModemLines(errno))
        m_modemLinesKnownMissing = true;
    m_modemBitsAge.invalidate();
}

bool DeviceTransport::modemLine(int line) const
{
    if (!m_serial.isOpen() || m_losing || m_modemLinesKnownMissing)
        return false;
    if (!m_modemBitsAge.isValid() || m_modemBitsAge.elapsed() >= ModemCacheMs)
        readModemBits();
    return (m_modemBits & line) != 0;
}

bool DeviceTransport::readModemBits() const
{
    if (!m_serial.isOpen() || m_losing || m_modemLinesKnownMissing)
        return false;
    int bits = 0;
    if (::ioctl(m_serial.handle(), TIOCMGET, &bits) != 0) {
        if (meansNoModemLines(errno))
            m_modemLinesKnownMissing = true;
        bits = 0;
    }
    m_modemBits = bits;
    m_modemBitsAge.start();
    return !m_modemLinesKnownMissing;
}

void DeviceTransport::pollModemLines()
{
    // A device going away stops the watch; its loss is reported on its own.
    if (!readModemBits()) {
        m_modemPoll.stop();
        return;
    }
    const int inputs = m_modemBits & InputLines;
    if (std::exchange(m_polledInputs, inputs) != inputs)
        Q_EMIT modemLinesChanged();
}

bool DeviceTransport::cd() const
{
    return modemLine(TIOCM_CAR);
}

bool DeviceTransport::cts() const
{
    return modemLine(TIOCM_CTS);
}

bool DeviceTransport::dsr() const
{
    return modemLine(TIOCM_DSR);
}

Result DeviceTransport::write(const QByteArray &bytes)
{
    // Qt's write queue grows as needed and drains as the line takes bytes; the caller is never
    // held here, however long the far end holds the line.
    if (m_serial.write(bytes) != bytes.size())
        return Result::failure(Messages::sendFailed(describe(), m_serial.errorString()));
    // Start the line at once rather than at the next turn of the event loop.
    m_serial.flush();
    return Result::success();
}

QByteArray DeviceTransport::takeArrived()
{
    if (!m_serial.isOpen())
        return QByteArray();
    if (m_heldWatch)
        return readHeld();
    // Reading also restarts Qt's reading of the device where an error had paused it.
    return m_serial.readAll();
}

bool DeviceTransport::holdReading(bool hold)
{
    if (!hold) {
        releaseReading();
        return false;
    }
    if (m_heldWatch)
        return true;
    if (!m_serial.isOpen() || m_losing || m_holdRefused)
        return false;
    // Qt SerialPort watches the device for reading with a notifier of its own and has no way to
    // pause it: a line kept busy would wake the program for every piece its driver hands over.
    // Without that notifier (another Qt), reading is simply never held.
    const auto watches = m_serial.findChildren<QSocketNotifier *>(Qt::FindDirectChildrenOnly);
    for (QSocketNotifier *watch : watches) {
        if (watch->type() == QSocketNotifier::Read && watch->isEnabled()
            && watch->socket() == m_serial.handle()) {
            watch->setEnabled(false);
            m_heldWatch = watch;
            return true;
        }
    }
    m_holdRefused = true;
    return false;
}

void DeviceTransport::releaseReading()
{
    if (QSocketNotifier *watch = std::exchange(m_heldWatch, nullptr))
        watch->setEnabled(true);
}

QByteArray DeviceTransport::readHeld()
{
    // What Qt read before the hold comes first. Taking exactly that much leaves Qt's own read,
    // which would watch the device again, uncalled.
    QByteArray bytes;
    if (const qint64 buffered = m_serial.bytesAvailable(); buffered > 0)
        bytes = m_serial.read(buffered);
    const int fd = int(m_serial.handle());
    for (;;) {
        constexpr qsizetype Step = 4096;
        const qsizetype at = bytes.size();
        bytes.resize(at + Step);
        const ssize_t n = ::read(fd, bytes.data() + at, size_t(Step));
        bytes.resize(at + std::max<ssize_t>(n, 0));
        if (n == Step || (n < 0 && errno == EINTR))
            continue;
        if (n > 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)))
            break;
        // End of file (a hang-up) or an error: Qt's watch sees it again and reports it as the
        // loss it is.
        m_holdRefused = true;
        releaseReading();
        break;
    }
    return bytes;
}

void DeviceTransport::onErrorOccurred(QSerialPort::SerialPortError error)
{
    if (m_losing || !m_serial.isOpen())
        return;
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError
        && error != QSerialPort::WriteError)
        return;
    const QString detail = m_serial.errorString();

    // Qt reports a full output queue (or an empty input one) as a resource error, and then
    // stops reading. The line is fine unless it has hung up: keep it, and read on.
    pollfd state{m_serial.handle(), POLLIN, 0};
    const bool hungUp
            = ::poll(&state, 1, 0) < 0 || (state.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    if (!hungUp && detail == qt_error_string(EAGAIN)) {
        m_serial.clearError();
        QTimer::singleShot(0, this, &LineTransport::readyRead);
        return;
    }

    // Once the device is gone, Qt repeats the read error as fast as it can until the port
    // closes: stop listening at the first one. The report is deferred to leave QSerialPort's own
    // notification handler first, since the port closes the device on it.
    // A hung-up line may come as a resource error whose text ("Resource temporarily
    // unavailable") says nothing to a user: it is told as the hang-up it is.
    const QSerialPort::SerialPortError kind
            = hungUp && error == QSerialPort::ResourceError ? QSerialPort::ReadError : error;
    m_losing = true;
    QTimer::singleShot(0, this, [this, kind, detail] { reportLost(kind, detail); });
}

void DeviceTransport::reportLost(QSerialPort::SerialPortError error, const QString &detail)
{
    if (!m_losing || !m_serial.isOpen())
        return;
    switch (error) {
    case QSerialPort::ReadError:
        // A hung-up line reads as end of file; the system's error text is then stale.
        Q_EMIT lost(Messages::portLostHungUp(describe()));
        break;
    case QSerialPort::WriteError:
        Q_EMIT lost(Messages::portLostWriteFailed(describe(), detail));
        break;
    default:
        Q_EMIT lost(Messages::portLostOther(describe(), detail));
        break;
    }
}
