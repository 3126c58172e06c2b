#include "port/networklink.h"

#include <QTcpSocket>
#include <QtEndian>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

using namespace Qt::StringLiterals;

namespace {

// COM-PORT-OPTION commands (RFC 2217); the server answers each one with the same number plus
// ServerBase.
enum ComPortCommand : quint8 {
    Signature = 0,
    SetBaudRate = 1,
    SetDataSize = 2,
    SetParity = 3,
    SetStopSize = 4,
    SetControl = 5,
    NotifyModemState = 7,
    SetLineStateMask = 10,
    SetModemStateMask = 11,
};
constexpr quint8 ServerBase = 100;

// SET-CONTROL values.
enum Control : quint8 {
    FlowNone = 1,
    FlowXonXoff = 2,
    FlowHardware = 3,
    DtrOn = 8,
    DtrOff = 9,
    RtsOn = 11,
    RtsOff = 12,
    InboundFlowXonXoff = 15,
    FlowDcd = 17,
    FlowDsr = 19,
};

// NOTIFY-MODEMSTATE bits. The mask asks for the three lines the terminal shows and for their
// changes; ring indication would only cost notifications.
constexpr quint8 ModemCd = 0x80;
constexpr quint8 ModemDsr = 0x20;
constexpr quint8 ModemCts = 0x10;
constexpr quint8 ModemDeltaCd = 0x08;
constexpr quint8 ModemDeltaDsr = 0x02;
constexpr quint8 ModemDeltaCts = 0x01;
constexpr quint8 ModemStateMask
        = ModemCd | ModemDsr | ModemCts | ModemDeltaCd | ModemDeltaDsr | ModemDeltaCts;

constexpr auto OurSignature = "velmir-rs232";
// How much of what a server sent before hanging up goes into the message.
constexpr qsizetype MaxServerWords = 200;
// After close(), queued data may take this long to reach the server.
constexpr int CloseDrainMs = 1000;
// A server that vanishes without a word (power cut, cable pulled) is noticed by TCP keepalive:
// after this much silence, probes this far apart, this many unanswered. Unacknowledged data
// gives up after TCP_USER_TIMEOUT.
constexpr int KeepIdleS = 10;
constexpr int KeepIntervalS = 5;
constexpr int KeepCount = 3;
constexpr unsigned UserTimeoutMs = 30000;

quint8 parityCode(NetworkLink::Parity parity)
{
    switch (parity) {
    case NetworkLink::Parity::None:
        return 1;
    case NetworkLink::Parity::Odd:
        return 2;
    case NetworkLink::Parity::Even:
        return 3;
    case NetworkLink::Parity::Mark:
        return 4;
    case NetworkLink::Parity::Space:
        return 5;
    }
    return 1;
}

QString parityName(quint8 code)
{
    static const char16_t *const names[] = {u"?", u"N", u"O", u"E", u"M", u"S"};
    return QString::fromUtf16(code < 6 ? names[code] : names[0]);
}

// One and a half stop bits go as two: a UART gives 1.5 when asked for two with 5-bit words, and
// that is the only way Linux (and so ser2net) can ask for them; ser2net does not answer a
// request for 1.5 at all.
quint8 stopSizeCode(NetworkLink::StopBits stopBits)
{
    return stopBits == NetworkLink::StopBits::One ? 1 : 2;
}

QString stopSizeName(quint8 code)
{
    return code == 3 ? u"1.5"_s : QString::number(code);
}

quint8 flowCode(int handshaking)
{
    switch (handshaking) {
    case 1:
        return FlowXonXoff;
    case 2:
    case 3:
        return FlowHardware;
    default:
        return FlowNone;
    }
}

QString flowName(quint8 code)
{
    switch (code) {
    case FlowNone:
        return u"无"_s;
    case FlowXonXoff:
        return u"XON/XOFF"_s;
    case FlowHardware:
        return u"RTS/CTS"_s;
    case FlowDcd:
        return u"DCD"_s;
    case FlowDsr:
        return u"DSR"_s;
    default:
        return QString::number(code);
    }
}

void tuneKeepAlive(qintptr fd)
{
    // Best effort: without these the system's own keepalive (hours) still applies.
    const int on = 1;
    ::setsockopt(int(fd), SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPIDLE, &KeepIdleS, sizeof KeepIdleS);
    ::setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPINTVL, &KeepIntervalS, sizeof KeepIntervalS);
    ::setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPCNT, &KeepCount, sizeof KeepCount);
    ::setsockopt(int(fd), IPPROTO_TCP, TCP_USER_TIMEOUT, &UserTimeoutMs, sizeof UserTimeoutMs);
}

} // namespace

NetworkLink::NetworkLink(QObject *parent)
    : QObject(parent)
{
    m_openTimer.setSingleShot(true);
    connect(&m_openTimer, &QTimer::timeout, this, &NetworkLink::onOpenTimeout);
}

NetworkLink::~NetworkLink()
{
    // The socket is a child and goes with this object; queued data is dropped.
    m_state = State::Closed;
}

void NetworkLink::open(const NetworkAddress &address, const LineParameters &line)
{
    Q_ASSERT(m_state == State::Closed);
    Q_ASSERT(line.dataBits >= 5 && line.dataBits <= 8);
    Q_ASSERT(line.handshaking >= 0 && line.handshaking <= 3);
    ++m_session;
    m_address = address;
    m_line = line;
    m_codec = TelnetCodec();
    m_settingsSent = false;
    m_lineChangedWhileOpening = false;
    m_awaiting = 0;
    m_refused.clear();
    m_early.clear();
    m_modemState = 0;
    m_segments.clear();
    m_unsentData = 0;

    m_socket = new QTcpSocket(this);
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
    m_modemState = 0;
    m_early.clear();
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
    ++m_session;
    m_state = State::Closed;
    dropSocket(false);
    Q_EMIT lost(cause);
}

void NetworkLink::onConnected()
{
    // Keystrokes go out at once; a dead server is noticed within half a minute.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    tuneKeepAlive(m_socket->socketDescriptor());

    if (m_address.kind == NetworkAddress::Socket) {
        m_state = State::Open;
        m_openTimer.stop();
        Q_EMIT opened();
        return;
    }
    // RFC 2217: offer BINARY, SUPPRESS-GO-AHEAD and COM-PORT-OPTION; the settings follow once
    // the server has taken COM-PORT-OPTION.
    m_state = State::Negotiating;
    sendCommand(m_codec.start());
}

void NetworkLink::onReadyRead()
{
    if (!m_socket || m_socket->bytesAvailable() <= 0)
        return;
    const QByteArray bytes = m_socket->readAll();
    if (bytes.isEmpty())
        return;
    if (m_address.kind == NetworkAddress::Socket) {
        if (m_state == State::Open)
            Q_EMIT received(bytes);
        return;
    }
    takeTelnet(bytes);
}

void NetworkLink::takeTelnet(const QByteArray &bytes)
{
    TelnetCodec::Decoded decoded;
    m_codec.decode(bytes, decoded);
    if (!decoded.replies.isEmpty())
        sendCommand(decoded.replies);

    const quint64 session = m_session;
    for (const TelnetCodec::Subnegotiation &sub : std::as_const(decoded.subnegotiations)) {
        if (sub.option == TelnetCodec::OptionComPort)
            handleComPort(sub.payload);
        if (session != m_session)
            return;
    }

    if (m_state == State::Negotiating) {
        // Data may come before the server has confirmed everything: it is the device's, and
        // goes out right after opened().
        m_early += decoded.data;
        finishOpening();
        return;
    }
    if (m_state == State::Open && !decoded.data.isEmpty())
        Q_EMIT received(decoded.data);
}

void NetworkLink::handleComPort(const QByteArray &payload)
{
    if (payload.isEmpty() || quint8(payload[0]) < ServerBase)
        return;
    const quint8 command = quint8(payload[0]) - ServerBase;
    const QByteArrayView value = QByteArrayView(payload).sliced(1);
    const quint8 first = value.isEmpty() ? 0 : quint8(value[0]);

    switch (command) {
    case Signature:
        // An empty signature asks for ours.
        if (value.isEmpty())
            sendComPort(Signature, QByteArrayView(OurSignature));
        break;
    case SetBaudRate:
        if (value.size() >= 4) {
            const quint32 speed = qFromBigEndian<quint32>(value.data());
            confirm(AwaitBaud, speed == m_asked.speed ? QString()
                                                      : u"请求的速率 %1，服务器设为 %2"_s.arg(
                                                              QString::number(m_asked.speed),
                                                              QString::number(speed)));
        }
        break;
    case SetDataSize:
        if (!value.isEmpty()) {
            confirm(AwaitDataSize,
                    first == m_asked.dataBits
                            ? QString()
                            : u"请求的数据位 %1，服务器设为 %2"_s.arg(
                                    QString::number(m_asked.dataBits), QString::number(first)));
        }
        break;
    case SetParity:
        if (!value.isEmpty()) {
            const quint8 asked = parityCode(m_asked.parity);
            confirm(AwaitParity, first == asked ? QString()
                                                : u"请求的校验 %1，服务器设为 %2"_s.arg(
                                                        parityName(asked), parityName(first)));
        }
        break;
    case SetStopSize:
        if (!value.isEmpty()) {
            const quint8 asked = stopSizeCode(m_asked.stopBits);
            confirm(AwaitStopSize,
                    first == asked ? QString()
                                   : u"请求的停止位 %1，服务器设为 %2"_s.arg(stopSizeName(asked),
                                                                             stopSizeName(first)));
        }
        break;
    case SetControl:
        // Only the answer about outgoing flow control concerns the settings; the lines'
        // answers need nothing.
        if (first == FlowNone || first == FlowXonXoff || first == FlowHardware || first == FlowDcd
            || first == FlowDsr) {
            const quint8 asked = flowCode(m_asked.handshaking);
            confirm(AwaitFlow, first == asked ? QString()
                                              : u"请求的握手 %1，服务器设为 %2"_s.arg(
                                                      flowName(asked), flowName(first)));
        }
        break;
    case NotifyModemState:
        if (!value.isEmpty()) {
            const quint8 lines = ModemCd | ModemDsr | ModemCts;
            const bool changed = ((m_modemState ^ first) & lines) != 0;
            m_modemState = first;
            if (changed && m_state == State::Open)
                Q_EMIT modemLinesChanged();
        }
        break;
    default:
        // Line state, flow suspension (TCP holds the data back anyway) and the rest.
        break;
    }
}

void NetworkLink::confirm(int setting, const QString &refusal)
{
    if (!(m_awaiting & setting))
        return;
    m_awaiting &= ~setting;
    if (!refusal.isEmpty())
        m_refused += (m_refused.isEmpty() ? QString() : u"；"_s) + refusal;
}

void NetworkLink::finishOpening()
{
    if (m_state != State::Negotiating)
        return;
    const TelnetCodec::Agreement comPort = m_codec.local(TelnetCodec::OptionComPort);
    if (comPort == TelnetCodec::Agreement::No) {
        fail(u"无法打开 %1：服务器拒绝了 RFC 2217 串口控制（COM-PORT-OPTION）。ser2net 要用 "
             u"telnet(rfc2217) 接入方式；只转发字节的服务器请用 socket:// 地址。"_s.arg(
                     m_address.toString()));
        return;
    }
    if (comPort != TelnetCodec::Agreement::Yes)
        return;

    if (!m_settingsSent) {
        sendLineSettings();
        sendDtr();
        sendRts();
        sendComPort(SetLineStateMask, QByteArrayView("\0", 1));
        const char mask = char(ModemStateMask);
        sendComPort(SetModemStateMask, QByteArrayView(&mask, 1));
        m_settingsSent = true;
        m_awaiting = AwaitBaud | AwaitDataSize | AwaitParity | AwaitStopSize | AwaitFlow;
        return;
    }
    if (m_awaiting != 0)
        return;
    if (!m_refused.isEmpty()) {
        fail(u"无法打开 %1：服务器没有接受线路设置（%2）。"_s.arg(m_address.toString(), m_refused));
        return;
    }

    m_state = State::Open;
    m_openTimer.stop();
    if (m_lineChangedWhileOpening)
        sendLineSettings();
    const quint64 session = m_session;
    Q_EMIT opened();
    if (session != m_session || m_early.isEmpty())
        return;
    Q_EMIT received(std::exchange(m_early, QByteArray()));
}

void NetworkLink::onOpenTimeout()
{
    if (!isOpening())
        return;
    const QString where = m_address.toString();
    const QString seconds = QString::number((m_openTimeoutMs + 999) / 1000);
    switch (m_socket->state()) {
    case QAbstractSocket::HostLookupState:
        fail(u"无法连接 %1：%2 秒内未能解析主机名“%3”，请检查 DNS 设置。"_s.arg(where, seconds,
                                                                                m_address.host));
        return;
    case QAbstractSocket::ConnectedState:
        if (!m_settingsSent) {
            fail(u"无法打开 %1：服务器 %2 秒内没有答应 RFC 2217 串口控制。它也许不是 RFC 2217 "
                 u"服务器；只转发字节的服务器请用 socket:// 地址。"_s.arg(where, seconds));
        } else {
            fail(u"无法打开 %1：服务器 %2 秒内没有确认线路设置。"_s.arg(where, seconds));
        }
        return;
    default:
        fail(u"无法连接 %1：%2 秒内没有建立连接（主机不可达，或被防火墙拦截）。"_s.arg(where,
                                                                                       seconds));
        return;
    }
}

QString NetworkLink::closedWhileOpeningCause() const
{
    // ser2net says why in a line of text before it hangs up ("Port already in use", "Device
    // open failure: ..."): that line is the cause a user can act on.
    QString words = QString::fromUtf8(m_early.left(MaxServerWords));
    for (QChar &c : words) {
        if (!c.isPrint())
            c = u' ';
    }
    words = words.simplified();
    if (words.isEmpty()) {
        return u"无法打开 %1：服务器接受连接后立即断开了（这个端口也许正被别人使用）。"_s.arg(
                m_address.toString());
    }
    return u"无法打开 %1：服务器拒绝了，它的答复是“%2”。"_s.arg(m_address.toString(), words);
}

QString NetworkLink::socketCause() const
{
    const QString where = m_address.toString();
    const bool opening = m_state != State::Open;
    switch (m_socket->error()) {
    case QAbstractSocket::ConnectionRefusedError:
        return u"无法连接 %1：连接被拒绝，这个地址上没有服务在监听（服务器是否在运行？端口号是否"
               u"正确？）。"_s.arg(where);
    case QAbstractSocket::HostNotFoundError:
        return u"无法连接 %1：主机名“%2”无法解析，请检查拼写、DNS 或 /etc/hosts。"_s.arg(
                where, m_address.host);
    case QAbstractSocket::RemoteHostClosedError:
        return opening ? closedWhileOpeningCause() : u"与 %1 的连接被服务器关闭。"_s.arg(where);
    default:
        if (opening)
            return u"无法连接 %1：%2。"_s.arg(where, m_socket->errorString());
        return u"与 %1 的连接中断：%2。"_s.arg(where, m_socket->errorString());
    }
}

void NetworkLink::onErrorOccurred()
{
    if (m_state == State::Closed || !m_socket)
        return;
    // What arrived before the failure or loss is taken first: the server's last words, or the
    // device's data.
    const quint64 session = m_session;
    onReadyRead();
    if (session != m_session)
        return;
    if (m_state != State::Open)
        fail(socketCause());
    else
        lose(socketCause());
}

void NetworkLink::onDisconnected()
{
    if (m_state == State::Closed || !m_socket)
        return;
    const quint64 session = m_session;
    onReadyRead();
    if (session != m_session)
        return;
    if (m_state != State::Open)
        fail(closedWhileOpeningCause());
    else
        lose(u"与 %1 的连接被服务器关闭。"_s.arg(m_address.toString()));
}

qint64 NetworkLink::write(const QByteArray &data)
{
    if (m_state != State::Open)
        return -1;
    if (data.isEmpty())
        return 0;
    Segment segment;
    segment.data = data.size();
    if (m_address.kind == NetworkAddress::Rfc2217 && data.contains(char(TelnetCodec::Iac))) {
        segment.escaped = TelnetCodec::escape(data);
        segment.wire = segment.escaped.size();
        m_socket->write(segment.escaped);
    } else {
        segment.wire = data.size();
        m_socket->write(data);
    }
    m_segments.push_back(std::move(segment));
    m_unsentData += data.size();
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

void NetworkLink::sendCommand(const QByteArray &bytes)
{
    if (!m_socket || bytes.isEmpty())
        return;
    m_socket->write(bytes);
    if (!m_segments.empty() && m_segments.back().data == 0) {
        m_segments.back().wire += bytes.size();
    } else {
        Segment segment;
        segment.wire = bytes.size();
        m_segments.push_back(std::move(segment));
    }
}

void NetworkLink::sendComPort(quint8 command, QByteArrayView payload)
{
    QByteArray body;
    body.reserve(payload.size() + 1);
    body.append(char(command));
    body.append(payload);
    sendCommand(TelnetCodec::subnegotiation(TelnetCodec::OptionComPort, body));
}

void NetworkLink::sendLineSettings()
{
    m_asked = m_line;
    uchar speed[4];
    qToBigEndian(m_line.speed, speed);
    sendComPort(SetBaudRate, QByteArrayView(speed, 4));
    const char dataSize = char(m_line.dataBits);
    sendComPort(SetDataSize, QByteArrayView(&dataSize, 1));
    const char parity = char(parityCode(m_line.parity));
    sendComPort(SetParity, QByteArrayView(&parity, 1));
    const char stopSize = char(stopSizeCode(m_line.stopBits));
    sendComPort(SetStopSize, QByteArrayView(&stopSize, 1));
    const char flow = char(flowCode(m_line.handshaking));
    sendComPort(SetControl, QByteArrayView(&flow, 1));
    // Both kinds of handshaking: RTS/CTS for the whole line, and XON/XOFF for what the device
    // sends us, the one half RFC 2217 can set on its own.
    if (m_line.handshaking == 3) {
        const char inbound = char(InboundFlowXonXoff);
        sendComPort(SetControl, QByteArrayView(&inbound, 1));
    }
}

void NetworkLink::sendDtr()
{
    const char value = char(m_line.dtr ? DtrOn : DtrOff);
    sendComPort(SetControl, QByteArrayView(&value, 1));
}

void NetworkLink::sendRts()
{
    const char value = char(m_line.rts ? RtsOn : RtsOff);
    sendComPort(SetControl, QByteArrayView(&value, 1));
}

void NetworkLink::setLineParameters(const LineParameters &line)
{
    Q_ASSERT(line.dataBits >= 5 && line.dataBits <= 8);
    Q_ASSERT(line.handshaking >= 0 && line.handshaking <= 3);
    const LineParameters before = std::exchange(m_line, line);
    if (m_address.kind != NetworkAddress::Rfc2217 || !m_settingsSent || m_state == State::Closed)
        return;
    const bool lineChanged = line.speed != before.speed || line.dataBits != before.dataBits
                             || line.parity != before.parity || line.stopBits != before.stopBits
                             || line.handshaking != before.handshaking;
    if (lineChanged && m_state == State::Negotiating) {
        // The answers still awaited are checked against what was asked; the new settings go
        // once they are in.
        m_lineChangedWhileOpening = true;
    } else if (lineChanged) {
        sendLineSettings();
    }
    if (line.dtr != before.dtr)
        sendDtr();
    if (line.rts != before.rts)
        sendRts();
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

bool NetworkLink::cd() const
{
    return m_state == State::Open && (m_modemState & ModemCd);
}

bool NetworkLink::cts() const
{
    return m_state == State::Open && (m_modemState & ModemCts);
}

bool NetworkLink::dsr() const
{
    return m_state == State::Open && (m_modemState & ModemDsr);
}
