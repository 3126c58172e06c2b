#include "port/rfc2217session.h"

#include "core/messages.h"

#include <QtEndian>

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
    BreakOn = 5,
    BreakOff = 6,
    InboundFlowXonXoff = 15,
    FlowDcd = 17,
    FlowDsr = 19,
};

// NOTIFY-MODEMSTATE bits. The mask asks for the three lines the terminal shows and for their
// changes; ring indication would only cost notifications.
constexpr quint8 ModemCd = 0x80;
constexpr quint8 ModemDsr = 0x20;
constexpr quint8 ModemCts = 0x10;
constexpr quint8 ModemLines = ModemCd | ModemDsr | ModemCts;
constexpr quint8 ModemStateMask = ModemLines | 0x08 | 0x02 | 0x01;

constexpr auto OurSignature = "velmir-rs232";
// How much of what a server sent before hanging up goes into the message.
constexpr qsizetype MaxServerWords = 200;

using Parity = Rfc2217Session::Parity;
using StopBits = Rfc2217Session::StopBits;

quint8 parityCode(Parity parity)
{
    switch (parity) {
    case Parity::None:
        return 1;
    case Parity::Odd:
        return 2;
    case Parity::Even:
        return 3;
    case Parity::Mark:
        return 4;
    case Parity::Space:
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
quint8 stopSizeCode(StopBits stopBits)
{
    return stopBits == StopBits::One ? 1 : 2;
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
        return Messages::handshakingNoneName();
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

} // namespace

Rfc2217Session::Rfc2217Session(const QString &where, const LineParameters &line)
    : m_where(where)
    , m_line(line)
{
    Q_ASSERT(line.dataBits >= 5 && line.dataBits <= 8);
    Q_ASSERT(line.handshaking >= 0 && line.handshaking <= 3);
}

void Rfc2217Session::receive(QByteArrayView bytes, Output &out)
{
    if (m_state == State::Failed)
        return;
    TelnetCodec::Decoded decoded;
    m_codec.decode(bytes, decoded);
    out.wire += decoded.replies;
    if (decoded.cutSubnegotiations > 0 && !m_cutReported) {
        m_cutReported = true;
        out.subnegotiationCut = true;
    }
    for (const TelnetCodec::Subnegotiation &sub : std::as_const(decoded.subnegotiations)) {
        if (sub.option == TelnetCodec::OptionComPort)
            handleComPort(sub.payload, out);
    }
    if (m_state == State::Open) {
        out.data += decoded.data;
        return;
    }
    // Data may come before the server has confirmed everything: it is the device's, and goes
    // out once the link is open. Only so much: a stream that never negotiates is no server.
    if (m_early.size() + decoded.data.size() > EarlyLimit) {
        fail(Messages::serverNotRfc2217(m_where, EarlyLimit));
        return;
    }
    m_early += decoded.data;
    advance(out);
}

void Rfc2217Session::handleComPort(const QByteArray &payload, Output &out)
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
            appendComPort(out.wire, Signature, QByteArrayView(OurSignature));
        break;
    case SetBaudRate:
        if (value.size() >= 4) {
            const quint32 speed = qFromBigEndian<quint32>(value.data());
            confirm(AwaitBaud, speed == m_asked.speed
                                       ? QString()
                                       : Messages::serverSetSpeed(QString::number(m_asked.speed),
                                                                  QString::number(speed)));
        }
        break;
    case SetDataSize:
        if (!value.isEmpty()) {
            confirm(AwaitDataSize,
                    first == m_asked.dataBits
                            ? QString()
                            : Messages::serverSetDataBits(QString::number(m_asked.dataBits),
                                                          QString::number(first)));
        }
        break;
    case SetParity:
        if (!value.isEmpty()) {
            const quint8 asked = parityCode(m_asked.parity);
            confirm(AwaitParity, first == asked ? QString()
                                                : Messages::serverSetParity(parityName(asked),
                                                                            parityName(first)));
        }
        break;
    case SetStopSize:
        if (!value.isEmpty()) {
            const quint8 asked = stopSizeCode(m_asked.stopBits);
            confirm(AwaitStopSize, first == asked
                                           ? QString()
                                           : Messages::serverSetStopBits(stopSizeName(asked),
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
                                              : Messages::serverSetHandshaking(flowName(asked),
                                                                               flowName(first)));
        }
        break;
    case NotifyModemState:
        // Only the latest state counts: however many notices come, the link hears of a change
        // once per call.
        if (!value.isEmpty()) {
            if (((m_modemState ^ first) & ModemLines) != 0 && m_state == State::Open)
                out.modemLinesChanged = true;
            m_modemState = first;
        }
        break;
    default:
        // Line state, flow suspension (TCP holds the data back anyway) and the rest.
        break;
    }
}

void Rfc2217Session::confirm(int setting, const QString &refusal)
{
    if (!(m_awaiting & setting))
        return;
    m_awaiting &= ~setting;
    if (!refusal.isEmpty())
        m_refused += (m_refused.isEmpty() ? QString() : Messages::settingsSeparator()) + refusal;
}

void Rfc2217Session::advance(Output &out)
{
    if (m_state != State::Negotiating)
        return;
    const TelnetCodec::Agreement comPort = m_codec.local(TelnetCodec::OptionComPort);
    if (comPort == TelnetCodec::Agreement::No) {
        fail(Messages::serverRefusedComPort(m_where));
        return;
    }
    if (comPort != TelnetCodec::Agreement::Yes)
        return;

    if (!m_settingsSent) {
        appendLineSettings(out.wire);
        appendDtr(out.wire);
        appendRts(out.wire);
        appendComPort(out.wire, SetLineStateMask, QByteArrayView("\0", 1));
        const char mask = char(ModemStateMask);
        appendComPort(out.wire, SetModemStateMask, QByteArrayView(&mask, 1));
        m_settingsSent = true;
        m_awaiting = AwaitBaud | AwaitDataSize | AwaitParity | AwaitStopSize | AwaitFlow;
        return;
    }
    if (m_awaiting != 0)
        return;
    if (!m_refused.isEmpty()) {
        fail(Messages::serverRefusedSettings(m_where, m_refused));
        return;
    }
    m_state = State::Open;
    out.opened = true;
    if (m_lineChangedWhileOpening)
        appendLineSettings(out.wire);
    out.data += std::exchange(m_early, QByteArray());
}

void Rfc2217Session::fail(const QString &cause)
{
    m_state = State::Failed;
    m_failure = cause;
    m_early.clear();
}

QString Rfc2217Session::hungUpWhileOpening() const
{
    // ser2net says why in a line of text before it hangs up ("Port already in use", "Device
    // open failure: ..."): that line is the cause a user can act on.
    QString words = QString::fromUtf8(m_early.left(MaxServerWords));
    for (QChar &c : words) {
        if (!c.isPrint())
            c = u' ';
    }
    words = words.simplified();
    if (words.isEmpty())
        return Messages::serverHungUpAtOnce(m_where);
    return Messages::serverRefusedWithWords(m_where, words);
}

QString Rfc2217Session::openTimedOut(int seconds) const
{
    const QString count = QString::number(seconds);
    return m_settingsSent ? Messages::settingsNotConfirmed(m_where, count)
                          : Messages::comPortNotAnswered(m_where, count);
}

QByteArray Rfc2217Session::setLineParameters(const LineParameters &line)
{
    Q_ASSERT(line.dataBits >= 5 && line.dataBits <= 8);
    Q_ASSERT(line.handshaking >= 0 && line.handshaking <= 3);
    const LineParameters before = std::exchange(m_line, line);
    QByteArray wire;
    if (!m_settingsSent || m_state == State::Failed)
        return wire;
    const bool lineChanged = line.speed != before.speed || line.dataBits != before.dataBits
                             || line.parity != before.parity || line.stopBits != before.stopBits
                             || line.handshaking != before.handshaking;
    if (lineChanged && m_state == State::Negotiating) {
        // The answers still awaited are checked against what was asked; the new settings go
        // once they are in.
        m_lineChangedWhileOpening = true;
    } else if (lineChanged) {
        appendLineSettings(wire);
    }
    if (line.dtr != before.dtr)
        appendDtr(wire);
    if (line.rts != before.rts)
        appendRts(wire);
    return wire;
}

void Rfc2217Session::appendComPort(QByteArray &wire, quint8 command, QByteArrayView payload) const
{
    QByteArray body;
    body.reserve(payload.size() + 1);
    body.append(char(command));
    body.append(payload);
    wire += TelnetCodec::subnegotiation(TelnetCodec::OptionComPort, body);
}

void Rfc2217Session::appendLineSettings(QByteArray &wire)
{
    m_asked = m_line;
    uchar speed[4];
    qToBigEndian(m_line.speed, speed);
    appendComPort(wire, SetBaudRate, QByteArrayView(speed, 4));
    const char dataSize = char(m_line.dataBits);
    appendComPort(wire, SetDataSize, QByteArrayView(&dataSize, 1));
    const char parity = char(parityCode(m_line.parity));
    appendComPort(wire, SetParity, QByteArrayView(&parity, 1));
    const char stopSize = char(stopSizeCode(m_line.stopBits));
    appendComPort(wire, SetStopSize, QByteArrayView(&stopSize, 1));
    const char flow = char(flowCode(m_line.handshaking));
    appendComPort(wire, SetControl, QByteArrayView(&flow, 1));
    // Both kinds of handshaking: RTS/CTS for the whole line, and XON/XOFF for what the device
    // sends us, the one half RFC 2217 can set on its own.
    if (m_line.handshaking == 3) {
        const char inbound = char(InboundFlowXonXoff);
        appendComPort(wire, SetControl, QByteArrayView(&inbound, 1));
    }
}

void Rfc2217Session::appendDtr(QByteArray &wire) const
{
    const char value = char(m_line.dtr ? DtrOn : DtrOff);
    appendComPort(wire, SetControl, QByteArrayView(&value, 1));
}

void Rfc2217Session::appendRts(QByteArray &wire) const
{
    const char value = char(m_line.rts ? RtsOn : RtsOff);
    appendComPort(wire, SetControl, QByteArrayView(&value, 1));
}

QByteArray Rfc2217Session::breakCommand(bool on) const
{
    QByteArray wire;
    const char value = char(on ? BreakOn : BreakOff);
    appendComPort(wire, SetControl, QByteArrayView(&value, 1));
    return wire;
}

bool Rfc2217Session::cd() const
{
    return m_state == State::Open && (m_modemState & ModemCd);
}

bool Rfc2217Session::cts() const
{
    return m_state == State::Open && (m_modemState & ModemCts);
}

bool Rfc2217Session::dsr() const
{
    return m_state == State::Open && (m_modemState & ModemDsr);
}
