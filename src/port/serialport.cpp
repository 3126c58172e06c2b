#include "port/serialport.h"

#include "core/messages.h"
#include "port/networkaddress.h"
#include "port/portpath.h"

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
// A line that carried at least this share of what it can for a whole burst has no pause worth
// an event of its own: it is read on a timer alone, this often, until it eases...
constexpr int BusyPercent = 75;
constexpr int StreamTickMs = 50;
// ...or carries more in a tick than this, which only a flood or a fast line does: those are read
// as they come, well within what the system buffers for a line.
constexpr qsizetype StreamTickLimit = 2048;
// Modem-line changes reach the status strip at most this often.
constexpr int ModemFrameMs = 100;

} // namespace

SerialPort::SerialPort(QObject *parent)
    : CommPort(parent)
    , m_device(this)
    , m_network(this)
{
    m_raiseTimer.setSingleShot(true);
    m_raiseTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_raiseTimer, &QTimer::timeout, this, &SerialPort::raiseReceive);
    m_modemTimer.setSingleShot(true);
    m_breakTimer.setSingleShot(true);
    connect(&m_breakTimer, &QTimer::timeout, this, &SerialPort::endBreak);
    connect(&m_modemTimer, &QTimer::timeout, this, &CommPort::lineStateChanged);
    for (LineTransport *transport :
         {static_cast<LineTransport *>(&m_device), static_cast<LineTransport *>(&m_network)}) {
        connect(transport, &LineTransport::readyRead, this, &SerialPort::onReadyRead);
        connect(transport, &LineTransport::bytesWritten, this, &CommPort::bytesWritten);
        connect(transport, &LineTransport::opened, this, &SerialPort::onOpened);
        connect(transport, &LineTransport::failed, this, &SerialPort::onOpenFailed);
        connect(transport, &LineTransport::lost, this, &SerialPort::onLost);
        connect(transport, &LineTransport::modemLinesChanged, this, &SerialPort::modemLinesChanged);
        connect(transport, &LineTransport::notice, this, &CommPort::notice);
    }
}

SerialPort::~SerialPort()
{
    if (m_transport)
        m_transport->close();
}

Result SerialPort::setCommPort(int number)
{
    if (number < 1) {
        return Result::failure(Messages::portNumberInvalid(number));
    }
    m_number = number;
    Q_EMIT lineStateChanged();
    return Result::success();
}

Expected<LineSettings> SerialPort::parseSettings(const QString &text)
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
    if (m_transport) {
        const Result applied = m_transport->setLineSettings(*parsed);
        if (!applied)
            return Result::failure(
                    Messages::lineSettingsRefusedByDevice(describe(), settings, applied.message()));
    }
    m_line = *parsed;
    m_settings = settings;
    Q_EMIT lineStateChanged();
    return Result::success();
}

Result SerialPort::setHandshaking(int code)
{
    if (code < 0 || code > 3) {
        return Result::failure(Messages::handshakingInvalid(code));
    }
    if (m_transport) {
        const Result applied = m_transport->setHandshaking(code);
        if (!applied)
            return Result::failure(
                    Messages::handshakingRefusedByDevice(describe(), code, applied.message()));
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

QString SerialPort::devicePath() const
{
    return m_transport ? m_transport->target() : QString();
}

QString SerialPort::describe() const
{
    const QString target = devicePath();
    return target.isEmpty() ? portName() : u"%1 (%2)"_s.arg(portName(), target);
}

LineSetup SerialPort::setup() const
{
    return LineSetup{m_line, m_handshaking, m_dtr, m_rts};
}

Result SerialPort::open()
{
    const QString name = portName();
    if (portOpen() || portOpening())
        return Result::failure(Messages::portAlreadyOpen(describe()));

    // Find the line: the user's link, else the conventional device. A link may name a serial
    // server instead of a device; that opening finishes later.
    const QString path = devicePathFor(m_number);
    if (path.isEmpty())
        return Result::failure(
                Messages::noStandardDevice(name, PortPath::linkCommandFor(m_number)));
    m_lastArrival.invalidate();
    m_streaming = false;
    if (const std::optional<NetworkAddress> address = NetworkAddress::fromLink(path)) {
        m_transport = &m_network;
        m_network.open(m_number, path, *address, setup());
        return Result::success();
    }
    m_transport = &m_device;
    const Result result = m_device.open(m_number, path, setup());
    if (result)
        Q_EMIT lineStateChanged();
    return result;
}

Result SerialPort::close()
{
    if (portOpening()) {
        m_transport->close();
        return Result::success();
    }
    if (!portOpen())
        return Result::failure(Messages::portNotOpen(portName()));
    closeTransport();
    Q_EMIT lineStateChanged();
    return Result::success();
}

void SerialPort::closeTransport()
{
    // A break still held would leave the device's line in it after the close.
    if (m_breakTimer.isActive())
        endBreak();
    // Bytes already received are still delivered.
    takeArrived();
    m_transport->close();
    m_streaming = false;
    if (!m_pending.isEmpty() && !m_raiseTimer.isActive())
        m_raiseTimer.start(0);
}

void SerialPort::setDtrEnable(bool on)
{
    m_dtr = on;
    if (m_transport)
        m_transport->setDtr(on);
    Q_EMIT lineStateChanged();
}

void SerialPort::setRtsEnable(bool on)
{
    m_rts = on;
    if (m_transport)
        m_transport->setRts(on);
    Q_EMIT lineStateChanged();
}

bool SerialPort::cdHolding() const
{
    return portOpen() && m_transport->cd();
}

bool SerialPort::ctsHolding() const
{
    return portOpen() && m_transport->cts();
}

bool SerialPort::dsrHolding() const
{
    return portOpen() && m_transport->dsr();
}

Result SerialPort::output(const QByteArray &bytes)
{
    if (!portOpen())
        return Result::failure(Messages::portNotOpen(portName()));
    if (bytes.isEmpty())
        return Result::success();
    return m_transport->write(bytes);
}

Result SerialPort::sendBreak(int ms)
{
    if (!portOpen())
        return Result::failure(Messages::portNotOpen(portName()));
    if (m_breakTimer.isActive())
        return Result::failure(Messages::breakAlreadyHeld());
    if (const Result held = m_transport->setBreak(true); !held.ok())
        return held;
    m_breakTimer.start(ms);
    return Result::success();
}

void SerialPort::endBreak()
{
    m_breakTimer.stop();
    if (portOpen()) {
        // A line that went away meanwhile is reported by its loss, not here.
        const Result released = m_transport->setBreak(false);
        if (!released.ok())
            Q_EMIT notice(Messages::panelBreakFailed(released.message()));
    }
}

qint64 SerialPort::bytesToWrite() const
{
    return m_transport ? m_transport->bytesToWrite() : 0;
}

void SerialPort::takeArrived()
{
    if (m_transport)
        m_pending += m_transport->takeArrived();
}

void SerialPort::onReadyRead()
{
    const qsizetype before = m_pending.size();
    takeArrived();
    if (m_pending.size() == before)
        return;
    if (m_streaming) {
        // The burst timer is running; only a flood may cut it short.
        if (m_pending.size() >= ChunkCapBytes)
            m_raiseTimer.start(0);
        return;
    }

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

void SerialPort::modemLinesChanged()
{
    // Lines that bounce, or a server that floods notices, would have the status strip redrawn
    // at every change: the latest state is shown once a frame at most, and nothing queues.
    if (!m_modemTimer.isActive())
        m_modemTimer.start(m_lastModemChange.isValid() && m_lastModemChange.elapsed() < ModemFrameMs
                                   ? ModemFrameMs
                                   : 0);
    m_lastModemChange.start();
}

int SerialPort::bitsPerByte() const
{
    // A start bit, the data bits, a parity bit if any and the stop bits (one and a half
    // counted as two).
    const int stopBits = m_line.stopBits == QSerialPort::OneStop ? 1 : 2;
    return 1 + int(m_line.dataBits) + (m_line.parity == QSerialPort::NoParity ? 0 : 1) + stopBits;
}

qint64 SerialPort::lineTimeMs(qsizetype bytes) const
{
    const qint64 speed = qMax<qint64>(1, m_line.speed);
    return qMin<qint64>(BurstCapMs, (qint64(bytes) * bitsPerByte() * 1000 + speed - 1) / speed);
}

bool SerialPort::keptLineBusy(qsizetype bytes, qint64 ms) const
{
    const qint64 carriedBitMs = qint64(bytes) * bitsPerByte() * 1000;
    const qint64 capacityBitMs = qint64(qMax(1, m_line.speed)) * ms;
    return bytes <= StreamTickLimit && carriedBitMs * 100 >= capacityBitMs * BusyPercent;
}

void SerialPort::raiseReceive()
{
    takeArrived();
    // Each piece a busy line's driver hands over would wake the program: a line that stayed busy
    // for a whole burst is read on this timer alone while it stays so, a tick's arrivals making
    // one event. The first byte after a pause still wakes the program at once.
    const bool wasStreaming = m_streaming;
    const qint64 windowMs = m_burst.isValid() ? m_burst.elapsed() : 0;
    const bool busy = m_transport && windowMs >= BurstCapMs * 4 / 5
                      && keptLineBusy(m_pending.size(), windowMs);
    m_streaming = m_transport && m_transport->holdReading(busy);
    if (m_streaming) {
        m_burst.start();
        m_raiseTimer.start(StreamTickMs);
    }
    if (m_streaming || (wasStreaming && !m_pending.isEmpty()))
        m_lastArrival.start();
    if (m_pending.isEmpty())
        return;
    Q_EMIT received(std::exchange(m_pending, QByteArray()));
}

void SerialPort::onOpened()
{
    Q_EMIT lineStateChanged();
    Q_EMIT opened();
}

void SerialPort::onOpenFailed(const QString &message)
{
    Q_EMIT openFailed(message);
}

void SerialPort::onLost(const QString &message)
{
    // Deliver what had arrived before the loss, then close and report once.
    takeArrived();
    m_transport->close();
    m_streaming = false;
    m_raiseTimer.stop();
    if (!m_pending.isEmpty())
        Q_EMIT received(std::exchange(m_pending, QByteArray()));
    Q_EMIT lineStateChanged();
    Q_EMIT lost(message);
}
