#include "platform/serialport.h"

#include "platform/messages.h"
#include "platform/portpath.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <poll.h>
#include <sys/stat.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Arrivals closer together than this belong to one burst; the first byte after a longer
// silence is raised at once.
constexpr int IdleGapMs = 15;
// Within a burst, an event goes out once the line has paused this long (beyond the time the line
// needed to carry what arrived last)...
constexpr int QuietMs = 4;
// ...or, for a continuous stream, this long after the burst's first byte...
constexpr int BurstCapMs = 25;
// ...or as soon as this much waits, so that no single event takes long to show, even in hex.
constexpr qsizetype ChunkCapBytes = 128 * 1024;
// The status strip asks for three lines in a row ten times a second: one system call serves all.
constexpr int ModemCacheMs = 10;

// ioctl() answers for a device without modem-control lines, such as a pseudo-terminal.
bool meansNoModemLines(int err)
{
    return err == ENOTTY || err == EINVAL || err == ENOTSUP;
}

} // namespace

SerialPort::SerialPort(QObject *parent)
    : CommPort(parent)
    , m_serial(this)
{
    // Nothing received may be dropped: the buffer grows as needed until it is handed on.
    m_serial.setReadBufferSize(0);
    m_raiseTimer.setSingleShot(true);
    m_raiseTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_raiseTimer, &QTimer::timeout, this, &SerialPort::raiseReceive);
    connect(&m_serial, &QSerialPort::readyRead, this, &SerialPort::onReadyRead);
    connect(&m_serial, &QSerialPort::errorOccurred, this, &SerialPort::onErrorOccurred);
    connect(&m_serial, &QSerialPort::bytesWritten, this, &CommPort::bytesWritten);
}

SerialPort::~SerialPort()
{
    if (m_serial.isOpen())
        closeDevice();
}

Result SerialPort::setCommPort(int number)
{
    if (number < 1) {
        return Result::failure(Messages::portNumberInvalid(number));
    }
    m_number = number;
    return Result::success();
}

Expected<SerialPort::LineSettings> SerialPort::parseSettings(const QString &text)
{
    const auto refuse = [&text](const QString &why) {
        return Expected<LineSettings>::failure(Messages::lineSettingsRefused(text, why));
    };
    const QStringList parts = text.split(u',');
    if (parts.size() != 4) {
        return refuse(u"应为以逗号分隔的波特率、校验、数据位和停止位，例如 9600,N,8,1"_s);
    }
    LineSettings line;

    const QString speed = parts[0].trimmed();
    bool ok = !speed.isEmpty();
    for (QChar c : speed)
        ok = ok && c >= u'0' && c <= u'9';
    const qint64 speedValue = ok ? speed.toLongLong(&ok) : 0;
    if (!ok || speedValue < 1 || speedValue > std::numeric_limits<qint32>::max())
        return refuse(Messages::speedInvalid(parts[0]));
    line.speed = qint32(speedValue);

    const QString parity = parts[1].trimmed().toUpper();
    if (parity == u"N")
        line.parity = QSerialPort::NoParity;
    else if (parity == u"E")
        line.parity = QSerialPort::EvenParity;
    else if (parity == u"O")
        line.parity = QSerialPort::OddParity;
    else if (parity == u"M")
        line.parity = QSerialPort::MarkParity;
    else if (parity == u"S")
        line.parity = QSerialPort::SpaceParity;
    else
        return refuse(Messages::parityInvalid(parts[1]));

    const QString data = parts[2].trimmed();
    if (data == u"5")
        line.dataBits = QSerialPort::Data5;
    else if (data == u"6")
        line.dataBits = QSerialPort::Data6;
    else if (data == u"7")
        line.dataBits = QSerialPort::Data7;
    else if (data == u"8")
        line.dataBits = QSerialPort::Data8;
    else if (data == u"4")
        return refuse(Messages::dataBitsFour());
    else
        return refuse(Messages::dataBitsInvalid(parts[2]));

    const QString stop = parts[3].trimmed();
    if (stop == u"1") {
        line.stopBits = QSerialPort::OneStop;
    } else if (stop == u"2") {
        line.stopBits = QSerialPort::TwoStop;
    } else if (stop == u"1.5") {
        // A UART sends one and a half stop bits when asked for two with 5-bit words; Linux
        // has no other way to ask for them.
        if (line.dataBits != QSerialPort::Data5)
            return refuse(Messages::stopBitsOneAndHalf());
        line.stopBits = QSerialPort::TwoStop;
    } else {
        return refuse(Messages::stopBitsInvalid(parts[3]));
    }
    return line;
}

Result SerialPort::setSettings(const QString &settings)
{
    const Expected<LineSettings> parsed = parseSettings(settings);
    if (!parsed)
        return Result::failure(parsed.message());
    if (m_serial.isOpen() && !applyLineSettings(*parsed)) {
        const QString why = m_serial.errorString();
        applyLineSettings(m_line);
        return Result::failure(Messages::lineSettingsRefusedByDevice(describe(), settings, why));
    }
    m_line = *parsed;
    m_settings = settings;
    return Result::success();
}

Result SerialPort::setHandshaking(int code)
{
    if (code < 0 || code > 3) {
        return Result::failure(Messages::handshakingInvalid(code));
    }
    if (m_serial.isOpen() && !applyHandshaking(code)) {
        const QString why = m_serial.errorString();
        applyHandshaking(m_handshaking);
        return Result::failure(Messages::handshakingRefusedByDevice(describe(), code, why));
    }
    m_handshaking = code;
    return Result::success();
}

Result SerialPort::setPortOpen(bool open)
{
    return open ? this->open() : close();
}

QString SerialPort::portName() const
{
    return u"COM"_s + QString::number(m_number);
}

QString SerialPort::describe() const
{
    return m_device.isEmpty() ? portName() : u"%1 (%2)"_s.arg(portName(), m_device);
}

Result SerialPort::open()
{
    const QString name = portName();
    if (m_serial.isOpen())
        return Result::failure(Messages::portAlreadyOpen(describe()));

    // Find the device: the user's link, else the conventional name.
    const QString path = devicePathFor(m_number);
    if (path.isEmpty())
        return Result::failure(
                Messages::noStandardDevice(name, PortPath::linkCommandFor(m_number)));
    const QFileInfo info(path);
    const bool linked = info.isSymLink();
    const QString device = info.canonicalFilePath();
    if (device.isEmpty()) {
        if (linked) {
            return Result::failure(Messages::linkTargetMissing(name, path, info.symLinkTarget(),
                                                               PortPath::linkCommandFor(m_number)));
        }
        return Result::failure(
                Messages::deviceMissing(name, path, PortPath::linkCommandFor(m_number)));
    }
    const QString where = linked ? u"%1 (%2, 链接自 %3)"_s.arg(name, device, path)
                                 : u"%1 (%2)"_s.arg(name, device);

    // Check access ourselves: Qt reports a held lock and a denied device alike.
    const QByteArray encoded = QFile::encodeName(device);
    if (::access(encoded.constData(), R_OK | W_OK) != 0 && errno == EACCES)
        return Result::failure(Messages::permissionDenied(where));
    // Only a character device can be a serial line; opening a FIFO or a file would either block
    // or read garbage.
    struct stat st
    {
    };
    if (::stat(encoded.constData(), &st) == 0 && !S_ISCHR(st.st_mode))
        return Result::failure(Messages::notASerialDevice(where));

    // Open with exclusive access and the configured line.
    m_serial.setPortName(device);
    applyLineSettings(m_line);
    m_serial.setFlowControl(m_handshaking == 1   ? QSerialPort::SoftwareControl
                            : m_handshaking >= 2 ? QSerialPort::HardwareControl
                                                 : QSerialPort::NoFlowControl);
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
                return Result::failure(Messages::permissionDenied(where));
            return Result::failure(Messages::deviceBusy(where));
        case QSerialPort::DeviceNotFoundError:
            return Result::failure(
                    Messages::deviceMissing(name, device, PortPath::linkCommandFor(m_number)));
        default:
            return Result::failure(Messages::openFailed(where, why));
        }
    }
    m_device = device;

    // Handshaking that Qt cannot express, then the output lines as last set.
    if (m_handshaking == 3)
        applyHandshaking(3);
    m_modemLinesKnownMissing = false;
    m_modemBitsAge.invalidate();
    applyModemLine(TIOCM_DTR, m_dtr);
    applyModemLine(TIOCM_RTS, m_rts);
    m_lastArrival.invalidate();
    return Result::success();
}

Result SerialPort::close()
{
    if (!m_serial.isOpen())
        return Result::failure(Messages::portNotOpen(portName()));
    closeDevice();
    return Result::success();
}

void SerialPort::closeDevice()
{
    // Hand the system what it takes now without waiting; a sender that still had bytes queued
    // learns from bytesToWrite() how far it got.
    if (!m_losing)
        m_serial.flush();

    // Bytes already received are still delivered.
    takeArrived();
    m_losing = true;
    m_serial.close();
    m_serial.clearError();
    m_losing = false;
    m_device.clear();
    if (!m_pending.isEmpty() && !m_raiseTimer.isActive())
        m_raiseTimer.start(0);
}

bool SerialPort::applyLineSettings(const LineSettings &line)
{
    // Each setter stops at the first refusal so that errorString() names it.
    return m_serial.setBaudRate(line.speed) && m_serial.setParity(line.parity)
           && m_serial.setDataBits(line.dataBits) && m_serial.setStopBits(line.stopBits);
}

bool SerialPort::applyHandshaking(int code)
{
    const QSerialPort::FlowControl flow = code == 1   ? QSerialPort::SoftwareControl
                                          : code >= 2 ? QSerialPort::HardwareControl
                                                      : QSerialPort::NoFlowControl;
    // Qt rewrites the whole termios from its own copy on every change, so the software
    // flags of code 3 are put back after each one.
    if (!m_serial.setFlowControl(flow))
        return false;
    if (code != 3 || !m_serial.isOpen())
        return true;
    termios tio{};
    const int fd = m_serial.handle();
    if (::tcgetattr(fd, &tio) != 0)
        return false;
    tio.c_iflag |= IXON | IXOFF | IXANY;
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

void SerialPort::setDtrEnable(bool on)
{
    m_dtr = on;
    applyModemLine(TIOCM_DTR, on);
}

void SerialPort::setRtsEnable(bool on)
{
    m_rts = on;
    applyModemLine(TIOCM_RTS, on);
}

void SerialPort::applyModemLine(int line, bool on)
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

bool SerialPort::modemLine(int line) const
{
    if (!m_serial.isOpen() || m_losing || m_modemLinesKnownMissing)
        return false;
    if (!m_modemBitsAge.isValid() || m_modemBitsAge.elapsed() >= ModemCacheMs) {
        int bits = 0;
        if (::ioctl(m_serial.handle(), TIOCMGET, &bits) != 0) {
            if (meansNoModemLines(errno))
                m_modemLinesKnownMissing = true;
            bits = 0;
        }
        m_modemBits = bits;
        m_modemBitsAge.start();
    }
    return (m_modemBits & line) != 0;
}

bool SerialPort::cdHolding() const
{
    return modemLine(TIOCM_CAR);
}

bool SerialPort::ctsHolding() const
{
    return modemLine(TIOCM_CTS);
}

bool SerialPort::dsrHolding() const
{
    return modemLine(TIOCM_DSR);
}

Result SerialPort::output(const QByteArray &bytes)
{
    if (!m_serial.isOpen() || m_losing)
        return Result::failure(Messages::portNotOpen(portName()));
    if (bytes.isEmpty())
        return Result::success();
    // Qt's write queue grows as needed and drains as the line takes bytes; the caller is never
    // held here, however long the far end holds the line.
    if (m_serial.write(bytes) != bytes.size())
        return Result::failure(Messages::sendFailed(describe(), m_serial.errorString()));
    // Start the line at once rather than at the next turn of the event loop.
    m_serial.flush();
    return Result::success();
}

void SerialPort::takeArrived()
{
    // Reading also restarts Qt's reading of the device where an error had paused it.
    if (m_serial.isOpen())
        m_pending += m_serial.readAll();
}

void SerialPort::onReadyRead()
{
    const qsizetype before = m_pending.size();
    takeArrived();
    if (m_pending.size() == before)
        return;

    // Group arrivals: the first byte after a silence goes out at once, later ones gather
    // until the line pauses, with caps so that a steady stream still shows regularly.
    const bool idle = !m_lastArrival.isValid() || m_lastArrival.elapsed() >= IdleGapMs;
    m_lastArrival.start();
    // The system hands over what a busy line carries in pieces; a gap no longer than the pieces
    // took on the line is not a pause.
    const qint64 quietMs = QuietMs + lineTimeMs(m_pending.size() - before);
    if (m_pending.size() >= ChunkCapBytes) {
        if (!m_raiseTimer.isActive() || m_raiseTimer.interval() > 0)
            m_raiseTimer.start(0);
    } else if (!m_raiseTimer.isActive()) {
        m_burst.start();
        m_raiseTimer.start(idle ? 0 : int(qMin<qint64>(quietMs, BurstCapMs)));
    } else if (m_raiseTimer.interval() > 0) {
        m_raiseTimer.start(int(qBound<qint64>(0, BurstCapMs - m_burst.elapsed(), quietMs)));
    }
}

qint64 SerialPort::lineTimeMs(qsizetype bytes) const
{
    // A start bit, the data bits, a parity bit if any and the stop bits (one and a half
    // counted as two).
    const int stopBits = m_line.stopBits == QSerialPort::OneStop ? 1 : 2;
    const int bitsPerByte = 1 + int(m_line.dataBits)
                            + (m_line.parity == QSerialPort::NoParity ? 0 : 1) + stopBits;
    const qint64 speed = qMax<qint64>(1, m_line.speed);
    return qMin<qint64>(BurstCapMs, (qint64(bytes) * bitsPerByte * 1000 + speed - 1) / speed);
}

void SerialPort::raiseReceive()
{
    takeArrived();
    if (m_pending.isEmpty())
        return;
    Q_EMIT received(std::exchange(m_pending, QByteArray()));
}

void SerialPort::onErrorOccurred(QSerialPort::SerialPortError error)
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
        QTimer::singleShot(0, this, &SerialPort::onReadyRead);
        return;
    }

    // Once the device is gone, Qt repeats the read error as fast as it can until the port
    // closes: close on the first one. The close is deferred to leave QSerialPort's own
    // notification handler first.
    m_losing = true;
    QTimer::singleShot(0, this, [this, error, detail] { closeLost(error, detail); });
}

void SerialPort::closeLost(QSerialPort::SerialPortError error, const QString &detail)
{
    if (!m_losing || !m_serial.isOpen())
        return;
    QString message;
    switch (error) {
    case QSerialPort::ReadError:
        // A hung-up line reads as end of file; the system's error text is then stale.
        message = Messages::portLostHungUp(describe());
        break;
    case QSerialPort::WriteError:
        message = Messages::portLostWriteFailed(describe(), detail);
        break;
    default:
        message = Messages::portLostOther(describe(), detail);
        break;
    }

    // Deliver what had arrived before the loss, then close and report once.
    takeArrived();
    m_serial.close();
    m_serial.clearError();
    m_device.clear();
    m_losing = false;
    m_raiseTimer.stop();
    if (!m_pending.isEmpty())
        Q_EMIT received(std::exchange(m_pending, QByteArray()));
    Q_EMIT lost(message);
}
