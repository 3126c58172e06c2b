#include "platform/serialport.h"

#include "platform/portpath.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <poll.h>
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
// output() gives up when the line has taken nothing for this long while the buffer is full.
constexpr int OutputStallMs = 5000;
// Closing lets queued output go out for at most this long.
constexpr int CloseDrainMs = 1000;

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
    // Nothing received may be dropped: the buffer grows as needed until input() takes it.
    m_serial.setReadBufferSize(0);
    m_raiseTimer.setSingleShot(true);
    m_raiseTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_raiseTimer, &QTimer::timeout, this, &SerialPort::raiseReceive);
    connect(&m_serial, &QSerialPort::readyRead, this, &SerialPort::onReadyRead);
    connect(&m_serial, &QSerialPort::errorOccurred, this, &SerialPort::onErrorOccurred);
}

SerialPort::~SerialPort()
{
    if (m_serial.isOpen())
        (void)close();
}

Result SerialPort::setCommPort(int number)
{
    if (number < 1) {
        return Result::failure(
                u"Port number %1 is not valid: ports are numbered from 1 (COM1)."_s.arg(number));
    }
    m_number = number;
    return Result::success();
}

Expected<SerialPort::LineSettings> SerialPort::parseSettings(const QString &text)
{
    const auto refuse = [&text](const QString &why) {
        return Expected<LineSettings>::failure(
                u"Line settings \"%1\" refused: %2."_s.arg(text, why));
    };
    const QStringList parts = text.split(u',');
    if (parts.size() != 4) {
        return refuse(u"expected speed, parity, data bits and stop bits separated by commas, "
                      u"such as 9600,N,8,1"_s);
    }
    LineSettings line;

    const QString speed = parts[0].trimmed();
    bool ok = !speed.isEmpty();
    for (QChar c : speed)
        ok = ok && c >= u'0' && c <= u'9';
    const qint64 speedValue = ok ? speed.toLongLong(&ok) : 0;
    if (!ok || speedValue < 1 || speedValue > std::numeric_limits<qint32>::max())
        return refuse(u"the speed \"%1\" is not a positive whole number of bits per second"_s.arg(
                parts[0]));
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
        return refuse(u"the parity \"%1\" is not one of N, E, O, M, S"_s.arg(parts[1]));

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
        return refuse(u"4 data bits are not supported: Linux serial drivers send 5 to 8"_s);
    else
        return refuse(u"the data bits \"%1\" are not 5, 6, 7 or 8"_s.arg(parts[2]));

    const QString stop = parts[3].trimmed();
    if (stop == u"1") {
        line.stopBits = QSerialPort::OneStop;
    } else if (stop == u"2") {
        line.stopBits = QSerialPort::TwoStop;
    } else if (stop == u"1.5") {
        // A UART sends one and a half stop bits when asked for two with 5-bit words; Linux
        // has no other way to ask for them.
        if (line.dataBits != QSerialPort::Data5)
            return refuse(u"1.5 stop bits go only with 5 data bits; use 1 or 2"_s);
        line.stopBits = QSerialPort::TwoStop;
    } else {
        return refuse(u"the stop bits \"%1\" are not 1, 1.5 or 2"_s.arg(parts[3]));
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
        return Result::failure(
                u"%1 refused the line settings \"%2\": %3."_s.arg(describe(), settings, why));
    }
    m_line = *parsed;
    m_settings = settings;
    return Result::success();
}

Result SerialPort::setHandshaking(int code)
{
    if (code < 0 || code > 3) {
        return Result::failure(u"Handshaking %1 is not valid: use 0 (none), 1 (XON/XOFF), "
                               u"2 (RTS/CTS) or 3 (RTS/CTS and XON/XOFF)."_s.arg(code));
    }
    if (m_serial.isOpen() && !applyHandshaking(code)) {
        const QString why = m_serial.errorString();
        applyHandshaking(m_handshaking);
        return Result::failure(
                u"%1 refused handshaking %2: %3."_s.arg(describe(), QString::number(code), why));
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
        return Result::failure(u"%1 is already open."_s.arg(describe()));

    // Find the device: the user's link, else the conventional name.
    const QString path = devicePathFor(m_number);
    if (path.isEmpty()) {
        return Result::failure(
                u"Cannot open %1: there is no standard device for this number. "
                u"Link it to a device with:\n%2"_s.arg(name, PortPath::linkCommandFor(m_number)));
    }
    const QFileInfo info(path);
    const bool linked = info.isSymLink();
    const QString device = info.canonicalFilePath();
    if (device.isEmpty()) {
        if (linked) {
            return Result::failure(
                    u"Cannot open %1: its link %2 points to %3, which does not exist. Plug the "
                    u"device in, or link the port to another device with:\n%4"_s.arg(
                            name, path, info.symLinkTarget(), PortPath::linkCommandFor(m_number)));
        }
        return Result::failure(u"Cannot open %1: there is no device %2. If the port is another "
                               u"device, link it to %1 with:\n%3"_s.arg(
                                       name, path, PortPath::linkCommandFor(m_number)));
    }
    const QString where = linked ? u"%1 (%2, linked from %3)"_s.arg(name, device, path)
                                 : u"%1 (%2)"_s.arg(name, device);

    const auto denied = [&where] {
        return Result::failure(u"Cannot open %1: permission denied. Add your user to the "
                               u"'dialout' group (sudo usermod -aG dialout $USER), then log out "
                               u"and in again."_s.arg(where));
    };
    // Check access ourselves: Qt reports a held lock and a denied device alike.
    if (::access(QFile::encodeName(device).constData(), R_OK | W_OK) != 0 && errno == EACCES)
        return denied();

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
        switch (error) {
        case QSerialPort::PermissionError:
            if (why == qt_error_string(EACCES) || why == qt_error_string(EPERM))
                return denied();
            return Result::failure(u"Cannot open %1: the device is busy, another program holds "
                                   u"it. Close that program and try again."_s.arg(where));
        case QSerialPort::DeviceNotFoundError:
            return Result::failure(u"Cannot open %1: no such device (%2). Plug it in, or link "
                                   u"the port to another device with:\n%3"_s.arg(
                                           where, why, PortPath::linkCommandFor(m_number)));
        default:
            return Result::failure(u"Cannot open %1: %2."_s.arg(where, why));
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
        return Result::failure(u"%1 is not open."_s.arg(portName()));

    // Let what was sent go out, briefly; the system drains what is left after closing.
    QElapsedTimer drain;
    drain.start();
    while (!m_losing && m_serial.bytesToWrite() > 0 && drain.elapsed() < CloseDrainMs)
        m_serial.waitForBytesWritten(int(qMax<qint64>(1, CloseDrainMs - drain.elapsed())));

    // Bytes already received are still delivered.
    takeArrived();
    m_losing = true;
    m_serial.close();
    m_serial.clearError();
    m_losing = false;
    m_device.clear();
    if (!m_pending.isEmpty() && !m_raiseTimer.isActive())
        m_raiseTimer.start(0);
    return Result::success();
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
        return Result::failure(u"Cannot send: %1 is not open."_s.arg(portName()));
    if (bytes.isEmpty())
        return Result::success();

    // Back-pressure: with a full buffer, wait for the line before queueing more, so that a
    // fast sender cannot grow memory without bound.
    if (m_serial.bytesToWrite() > OutputHighWater) {
        QElapsedTimer stalled;
        stalled.start();
        qint64 waiting = m_serial.bytesToWrite();
        while (m_serial.isOpen() && !m_losing && waiting > OutputHighWater) {
            m_serial.waitForBytesWritten(20);
            const qint64 now = m_serial.bytesToWrite();
            if (now < waiting)
                stalled.restart();
            waiting = now;
            if (stalled.elapsed() > OutputStallMs) {
                return Result::failure(
                        u"Cannot send to %1: the line has taken nothing for %2 seconds "
                        u"(is the other side holding it with handshaking?); %3 bytes still "
                        u"wait to go out."_s.arg(describe(), QString::number(OutputStallMs / 1000),
                                                 QString::number(waiting)));
            }
        }
        if (!m_serial.isOpen() || m_losing)
            return Result::failure(u"Cannot send: %1 closed while sending."_s.arg(portName()));
    }

    if (m_serial.write(bytes) != bytes.size()) {
        return Result::failure(u"Cannot send to %1: %2."_s.arg(describe(), m_serial.errorString()));
    }
    // Start the line at once rather than at the next turn of the event loop.
    m_serial.flush();
    return Result::success();
}

QByteArray SerialPort::input()
{
    takeArrived();
    return std::exchange(m_pending, QByteArray());
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
    // A handler that lets events run must not be entered again; come back when it returns.
    if (m_raising) {
        m_raiseTimer.start(QuietMs);
        return;
    }
    takeArrived();
    if (m_pending.isEmpty())
        return;
    m_commEvent = EventReceive;
    m_raising = true;
    Q_EMIT commEventRaised();
    m_raising = false;
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
    QString cause;
    switch (error) {
    case QSerialPort::ReadError:
        // A hung-up line reads as end of file; the system's error text is then stale.
        cause = u"the line was hung up or the device was unplugged"_s;
        break;
    case QSerialPort::WriteError:
        cause = u"writing to the device failed (%1)"_s.arg(detail);
        break;
    default:
        cause = u"the device was unplugged or stopped responding (%1)"_s.arg(detail);
        break;
    }
    const QString message
            = u"%1 was closed: %2. Reconnect it and open the port again."_s.arg(describe(), cause);

    // Deliver what had arrived before the loss, then close and report once.
    takeArrived();
    m_serial.close();
    m_serial.clearError();
    m_device.clear();
    m_losing = false;
    m_raiseTimer.stop();
    if (!m_pending.isEmpty()) {
        if (m_raising) {
            // Inside a handler that lets events run: announce them when it returns.
            m_raiseTimer.start(0);
        } else {
            m_commEvent = EventReceive;
            m_raising = true;
            Q_EMIT commEventRaised();
            m_raising = false;
        }
    }
    Q_EMIT lost(message);
}
