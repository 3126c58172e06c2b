#include "port/networklink.h"

#include "core/messages.h"

#include <QTcpSocket>

#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

using namespace Qt::StringLiterals;

namespace {

// After close(), queued data may take this long to reach the server.
constexpr int CloseDrainMs = 1000;
// A server that vanishes without a word (power cut, cable pulled) is noticed by TCP keepalive:
// after this much silence, probes this far apart, this many unanswered.
constexpr int KeepIdleS = 10;
constexpr int KeepIntervalS = 5;
constexpr int KeepCount = 3;
// What Qt reads ahead of the port: past it, the server is held back by TCP itself.
constexpr qint64 ReadAheadBytes = 1024 * 1024;
// How often the window is looked at while data waits to go.
constexpr int HeldCheckMs = 1000;

void tuneKeepAlive(qintptr fd)
{
    // Best effort: without these the system's own keepalive (hours) still applies.
    const int on = 1;
    ::setsockopt(int(fd), SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPIDLE, &KeepIdleS, sizeof KeepIdleS);
    ::setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPINTVL, &KeepIntervalS, sizeof KeepIntervalS);
    ::setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPCNT, &KeepCount, sizeof KeepCount);
}

} // namespace

NetworkLink::NetworkLink(QObject *parent)
    : QObject(parent)
{
    m_openTimer.setSingleShot(true);
    connect(&m_openTimer, &QTimer::timeout, this, &NetworkLink::onOpenTimeout);
    m_heldTimer.setInterval(HeldCheckMs);
    connect(&m_heldTimer, &QTimer::timeout, this, &NetworkLink::checkHeld);
}

NetworkLink::~NetworkLink()
{
    // The socket is a child and goes with this object; queued data is dropped.
    m_state = State::Closed;
}

void NetworkLink::open(const NetworkAddress &address, const LineParameters &line)
{
    // A lost link keeps its socket for what arrived before the loss until it is closed.
    if (m_state == State::Lost)
        close();
    Q_ASSERT(m_state == State::Closed);
    ++m_session;
    m_address = address;
    m_line = line;
    m_protocol.reset();
    if (address.kind == NetworkAddress::Rfc2217)
        m_protocol.emplace(address.toString(), line);
    m_early.clear();
    m_segments.clear();
    m_unsentData = 0;
    m_userTimeoutMs = -1;

    m_socket = new QTcpSocket(this);
    m_socket->setReadBufferSize(ReadAheadBytes);
    connect(m_socket, &QAbstractSocket::connected, this, &NetworkLink::onConnected);
    connect(m_socket, &QIODevice::readyRead, this, &NetworkLink::onReadyRead);
    connect(m_socket, &QIODevice::bytesWritten, this, &NetworkLink::onBytesWritten);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, &NetworkLink::onErrorOccurred);
    connect(m_socket, &QAbstractSocket::disconnected, this, &NetworkLink::onDisconnected);
    m_state = State::Connecting;
    m_openTimer.start(m_openTimeoutMs);

    // Qt may report a numeric address's refusal from inside connectToHost(); starting from the
    // event loop keeps every answer out of this call.
    QMetaObject::invokeMethod(
            this,
            [this, session = m_session] {
                if (session == m_session && m_state == State::Connecting)
                    m_socket->connectToHost(m_address.host, m_address.port);
            },
            Qt::QueuedConnection);
}

void NetworkLink::close()
{
    if (m_state == State::Closed)
        return;
    ++m_session;
    m_state = State::Closed;
    m_openTimer.stop();
    dropSocket(true);
}

void NetworkLink::dropSocket(bool drain)
{
    QTcpSocket *socket = std::exchange(m_socket, nullptr);
    m_segments.clear();
    m_unsentData = 0;
    m_early.clear();
    m_heldTimer.stop();
    m_heldSince.invalidate();
    m_unansweredSince.invalidate();
    if (!socket)
        return;
    socket->disconnect(this);
    if (drain && socket->state() == QAbstractSocket::ConnectedState) {
        // Let what was queued go out, then say goodbye; a server that takes nothing more is
        // cut off after a while.
        connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(CloseDrainMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        socket->disconnectFromHost();
        return;
    }
    socket->abort();
    socket->deleteLater();
}

void NetworkLink::fail(const QString &cause)
{
    ++m_session;
    m_state = State::Closed;
    m_openTimer.stop();
    dropSocket(false);
    Q_EMIT failed(cause);
}

void NetworkLink::lose(const QString &cause)
{
    // The socket stays until close(), so that what arrived before the loss can still be taken.
    ++m_session;
    m_state = State::Lost;
    m_heldTimer.stop();
    Q_EMIT lost(cause);
}

void NetworkLink::onConnected()
{
    // Keystrokes go out at once; a dead server is noticed within half a minute.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    tuneKeepAlive(m_socket->socketDescriptor());
    setUserTimeout(m_lossTimeoutMs);

    if (!m_protocol) {
        m_state = State::Open;
        m_openTimer.stop();
        Q_EMIT opened();
        return;
    }
    // RFC 2217: offer BINARY, SUPPRESS-GO-AHEAD and COM-PORT-OPTION; the settings follow once
    // the server has taken COM-PORT-OPTION.
    m_state = State::Negotiating;
    sendCommand(m_protocol->start());
}

void NetworkLink::onReadyRead()
{
    if (m_state == State::Open) {
        Q_EMIT readyRead();
        return;
    }
    if (m_state != State::Negotiating || !m_socket)
        return;
    // While the negotiation runs the link reads for itself; the session keeps what belongs to
    // the device, up to its bound.
    const quint64 session = m_session;
    m_early += take(m_socket->readAll());
    if (session != m_session || m_state != State::Negotiating)
        return;
    switch (m_protocol->state()) {
    case Rfc2217Session::State::Failed:
        fail(m_protocol->failure());
        return;
    case Rfc2217Session::State::Open:
        m_state = State::Open;
        m_openTimer.stop();
        Q_EMIT opened();
        if (session == m_session && m_state == State::Open
            && (!m_early.isEmpty() || m_socket->bytesAvailable() > 0))
            Q_EMIT readyRead();
        return;
    case Rfc2217Session::State::Negotiating:
        return;
    }
}

QByteArray NetworkLink::takeArrived()
{
    QByteArray data = std::exchange(m_early, QByteArray());
    if (!m_socket || (m_state != State::Open && m_state != State::Lost)
        || m_socket->bytesAvailable() <= 0)
        return data;
    const QByteArray bytes = m_socket->readAll();
    data += m_protocol ? take(bytes) : bytes;
    return data;
}

QByteArray NetworkLink::take(const QByteArray &bytes)
{
    Rfc2217Session::Output out;
    m_protocol->receive(bytes, out);
    if (!out.wire.isEmpty() && m_state != State::Lost)
        sendCommand(out.wire);
    const quint64 session = m_session;
    if (out.subnegotiationCut) {
        Q_EMIT notice(
                Messages::subnegotiationCut(m_address.toString(), TelnetCodec::SubnegotiationCut));
    }
    if (out.modemLinesChanged && session == m_session)
        Q_EMIT modemLinesChanged();
    return out.data;
}

void NetworkLink::onOpenTimeout()
{
    if (!isOpening())
        return;
    const int seconds = (m_openTimeoutMs + 999) / 1000;
    const QString where = m_address.toString();
    switch (m_socket->state()) {
    case QAbstractSocket::HostLookupState:
        fail(Messages::hostLookupTimedOut(where, QString::number(seconds), m_address.host));
        return;
    case QAbstractSocket::ConnectedState:
        fail(m_protocol->openTimedOut(seconds));
        return;
    default:
        fail(Messages::connectTimedOut(where, QString::number(seconds)));
        return;
    }
}

QString NetworkLink::socketCause() const
{
    const QString where = m_address.toString();
    const bool opening = m_state != State::Open;
    switch (m_socket->error()) {
    case QAbstractSocket::ConnectionRefusedError:
        return Messages::connectionRefused(where);
    case QAbstractSocket::HostNotFoundError:
        return Messages::hostNotFound(where, m_address.host);
    case QAbstractSocket::RemoteHostClosedError:
        if (opening)
            return m_protocol ? m_protocol->hungUpWhileOpening()
                              : Messages::serverHungUpAtOnce(where);
        return Messages::serverClosedConnection(where);
    case QAbstractSocket::SocketTimeoutError:
        return Messages::serverStoppedAnswering(where);
    default:
        // The system's own words, untranslated, only where nothing better is known; a timeout
        // (ETIMEDOUT) is the usual one and has its own.
        if (m_socket->errorString().contains(u"timed out"_s, Qt::CaseInsensitive))
            return Messages::serverStoppedAnswering(where);
        if (opening)
            return Messages::connectFailed(where, m_socket->errorString());
        return Messages::connectionBroken(where, m_socket->errorString());
    }
}

void NetworkLink::onErrorOccurred()
{
    if (m_state == State::Closed || m_state == State::Lost || !m_socket)
        return;
    if (m_state == State::Negotiating) {
        // The server's last words may explain the failure.
        const quint64 session = m_session;
        onReadyRead();
        if (session != m_session || m_state != State::Negotiating)
            return;
    }
    if (m_state != State::Open)
        fail(socketCause());
    else
        lose(socketCause());
}

void NetworkLink::onDisconnected()
{
    if (m_state == State::Closed || m_state == State::Lost || !m_socket)
        return;
    if (m_state == State::Negotiating) {
        const quint64 session = m_session;
        onReadyRead();
        if (session != m_session || m_state != State::Negotiating)
            return;
    }
    if (m_state != State::Open) {
        fail(m_protocol ? m_protocol->hungUpWhileOpening()
                        : Messages::serverHungUpAtOnce(m_address.toString()));
    } else {
        lose(Messages::serverClosedConnection(m_address.toString()));
    }
}

bool NetworkLink::writeToSocket(const QByteArray &bytes)
{
    const qint64 written = m_socket->write(bytes);
    if (written == bytes.size())
        return true;
    // Qt buffers without limit, so only a socket already broken refuses; the loss is told
    // from the event loop, never from inside the caller's write.
    const QString cause
            = Messages::networkWriteFailed(m_address.toString(), m_socket->errorString());
    QMetaObject::invokeMethod(
            this,
            [this, cause, session = m_session] {
                if (session != m_session)
                    return;
                if (m_state == State::Open)
                    lose(cause);
                else if (isOpening())
                    fail(cause);
            },
            Qt::QueuedConnection);
    return false;
}

qint64 NetworkLink::write(const QByteArray &data)
{
    if (m_state != State::Open)
        return -1;
    if (data.isEmpty())
        return 0;
    Segment segment;
    segment.data = data.size();
    bool ok = false;
    if (m_protocol && data.contains(char(TelnetCodec::Iac))) {
        segment.escaped = TelnetCodec::escape(data);
        segment.wire = segment.escaped.size();
        ok = writeToSocket(segment.escaped);
    } else {
        segment.wire = data.size();
        ok = writeToSocket(data);
    }
    if (!ok)
        return -1;
    m_segments.push_back(std::move(segment));
    m_unsentData += data.size();
    if (!m_heldTimer.isActive())
        m_heldTimer.start();
    return data.size();
}

void NetworkLink::onBytesWritten(qint64 wireBytes)
{
    qint64 dataBytes = 0;
    while (wireBytes > 0 && !m_segments.empty()) {
        Segment &s = m_segments.front();
        const qint64 take = qMin(wireBytes, s.wire - s.wireDone);
        if (s.data > 0 && s.escaped.isEmpty()) {
            dataBytes += take;
        } else if (s.data > 0) {
            // A doubled 0xFF counts once, when its second half has gone.
            for (qint64 i = s.wireDone; i < s.wireDone + take; ++i) {
                if (s.halfIac) {
                    s.halfIac = false;
                    ++dataBytes;
                } else if (quint8(s.escaped[i]) == TelnetCodec::Iac) {
                    s.halfIac = true;
                } else {
                    ++dataBytes;
                }
            }
        }
        s.wireDone += take;
        wireBytes -= take;
        if (s.wireDone == s.wire)
            m_segments.pop_front();
    }
    if (dataBytes == 0)
        return;
    m_unsentData -= dataBytes;
    Q_EMIT bytesWritten(dataBytes);
}

void NetworkLink::setUserTimeout(int milliseconds)
{
    if (!m_socket || milliseconds == m_userTimeoutMs)
        return;
    // Unacknowledged data gives up after this; 0 leaves it to the probes and to checkHeld().
    const unsigned value = unsigned(milliseconds);
    if (::setsockopt(int(m_socket->socketDescriptor()), IPPROTO_TCP, TCP_USER_TIMEOUT, &value,
                     sizeof value)
        == 0)
        m_userTimeoutMs = milliseconds;
}

void NetworkLink::checkHeld()
{
    if (m_state != State::Open || !m_socket) {
        m_heldTimer.stop();
        return;
    }
    tcp_info info{};
    socklen_t size = sizeof info;
    const bool known
            = ::getsockopt(int(m_socket->socketDescriptor()), IPPROTO_TCP, TCP_INFO, &info, &size)
              == 0;
    const bool waiting = m_unsentData > 0 || m_socket->bytesToWrite() > 0;
    // Nothing in flight while data waits: the server's window is closed and the system probes
    // it. Linux applies TCP_USER_TIMEOUT to how long the window stays closed, even while the
    // server answers every probe, as a held line behind it does; so the timeout is off while
    // held, and only probes left unanswered count as a loss.
    const bool held = known && waiting && info.tcpi_unacked == 0;
    if (!held) {
        m_heldSince.invalidate();
        m_unansweredSince.invalidate();
        setUserTimeout(m_lossTimeoutMs);
        if (!waiting)
            m_heldTimer.stop();
        return;
    }
    if (!m_heldSince.isValid())
        m_heldSince.start();
    setUserTimeout(0);
    if (info.tcpi_probes == 0) {
        m_unansweredSince.invalidate();
        return;
    }
    if (!m_unansweredSince.isValid())
        m_unansweredSince.start();
    else if (m_unansweredSince.elapsed() >= m_lossTimeoutMs)
        lose(Messages::serverStoppedAnswering(m_address.toString()));
}

bool NetworkLink::sendCommand(const QByteArray &bytes)
{
    if (!m_socket || bytes.isEmpty())
        return true;
    if (!writeToSocket(bytes))
        return false;
    if (!m_segments.empty() && m_segments.back().data == 0) {
        m_segments.back().wire += bytes.size();
    } else {
        Segment segment;
        segment.wire = bytes.size();
        m_segments.push_back(std::move(segment));
    }
    return true;
}

void NetworkLink::setLineParameters(const LineParameters &line)
{
    m_line = line;
    if (!m_protocol || m_state == State::Closed || m_state == State::Lost)
        return;
    const QByteArray wire = m_protocol->setLineParameters(line);
    if (m_state != State::Connecting)
        sendCommand(wire);
}

void NetworkLink::setBreak(bool on)
{
    // A failed write is reported as the link's loss, like any other.
    if (m_protocol && m_state == State::Open)
        sendCommand(m_protocol->breakCommand(on));
}

void NetworkLink::setDtr(bool on)
{
    LineParameters line = m_line;
    line.dtr = on;
    setLineParameters(line);
}

void NetworkLink::setRts(bool on)
{
    LineParameters line = m_line;
    line.rts = on;
    setLineParameters(line);
}
