#include "port/telnetcodec.h"

#include <cstring>

namespace {

void appendCommand(QByteArray &out, quint8 verb, quint8 option)
{
    const char bytes[] = {char(TelnetCodec::Iac), char(verb), char(option)};
    out.append(bytes, sizeof bytes);
}

} // namespace

bool TelnetCodec::accepts(quint8 option)
{
    return option == OptionBinary || option == OptionSuppressGoAhead || option == OptionComPort;
}

TelnetCodec::Agreement TelnetCodec::agreement(Q q)
{
    switch (q) {
    case Q::No:
        return Agreement::No;
    case Q::Yes:
        return Agreement::Yes;
    default:
        return Agreement::Asking;
    }
}

TelnetCodec::Agreement TelnetCodec::local(quint8 option) const
{
    return agreement(m_options[option].us);
}

TelnetCodec::Agreement TelnetCodec::remote(quint8 option) const
{
    return agreement(m_options[option].him);
}

QByteArray TelnetCodec::start()
{
    QByteArray out;
    ask(out, Will, OptionBinary);
    ask(out, Do, OptionBinary);
    ask(out, Will, OptionSuppressGoAhead);
    ask(out, Do, OptionSuppressGoAhead);
    ask(out, Will, OptionComPort);
    return out;
}

void TelnetCodec::ask(QByteArray &out, quint8 verb, quint8 option)
{
    Q_ASSERT(verb == Will || verb == Do);
    OptionState &o = m_options[option];
    Q &side = verb == Will ? o.us : o.him;
    bool &opposite = verb == Will ? o.usOpposite : o.himOpposite;
    switch (side) {
    case Q::No:
        side = Q::WantYes;
        appendCommand(out, verb, option);
        break;
    case Q::WantNo:
        // Asked to turn it off and not yet answered: ask again once that answer is in.
        opposite = true;
        break;
    case Q::WantYes:
        opposite = false;
        break;
    case Q::Yes:
        break;
    }
}

void TelnetCodec::negotiate(quint8 verb, quint8 option, QByteArray &replies)
{
    OptionState &o = m_options[option];
    // WILL and WONT speak of the server's side and are answered with DO and DONT; DO and DONT
    // speak of ours and are answered with WILL and WONT. Both follow the same table.
    const bool aboutServer = verb == Will || verb == Wont;
    const bool enable = verb == Will || verb == Do;
    Q &side = aboutServer ? o.him : o.us;
    bool &opposite = aboutServer ? o.himOpposite : o.usOpposite;
    const quint8 yes = aboutServer ? Do : Will;
    const quint8 no = aboutServer ? Dont : Wont;

    if (enable) {
        switch (side) {
        case Q::No:
            if (accepts(option)) {
                side = Q::Yes;
                appendCommand(replies, yes, option);
            } else {
                appendCommand(replies, no, option);
            }
            break;
        case Q::Yes:
            break;
        case Q::WantNo:
            // Our refusal was answered with an offer: a protocol error by the server, taken as
            // the end of the exchange.
            side = opposite ? Q::Yes : Q::No;
            opposite = false;
            break;
        case Q::WantYes:
            if (opposite) {
                side = Q::WantNo;
                opposite = false;
                appendCommand(replies, no, option);
            } else {
                side = Q::Yes;
            }
            break;
        }
        return;
    }

    switch (side) {
    case Q::No:
        break;
    case Q::Yes:
        side = Q::No;
        appendCommand(replies, no, option);
        break;
    case Q::WantNo:
        if (opposite) {
            side = Q::WantYes;
            opposite = false;
            appendCommand(replies, yes, option);
        } else {
            side = Q::No;
        }
        break;
    case Q::WantYes:
        side = Q::No;
        opposite = false;
        break;
    }
}

void TelnetCodec::decode(QByteArrayView bytes, Decoded &out)
{
    const char *p = bytes.data();
    const char *const end = p + bytes.size();
    while (p < end) {
        switch (m_state) {
        case State::Data: {
            // Hand over the run of plain data up to the next IAC in one piece.
            const void *iac = std::memchr(p, Iac, size_t(end - p));
            const char *stop = iac ? static_cast<const char *>(iac) : end;
            out.data.append(p, stop - p);
            p = stop;
            if (p < end) {
                m_state = State::Command;
                ++p;
            }
            break;
        }
        case State::Command: {
            const quint8 byte = quint8(*p++);
            switch (byte) {
            case Iac:
                out.data.append(char(Iac));
                m_state = State::Data;
                break;
            case Will:
            case Wont:
            case Do:
            case Dont:
                m_verb = byte;
                m_state = State::Verb;
                break;
            case Sb:
                m_state = State::SubOption;
                break;
            default:
                // NOP, data mark, go-ahead, break and the rest mean nothing to a serial line.
                m_state = State::Data;
                break;
            }
            break;
        }
        case State::Verb:
            negotiate(m_verb, quint8(*p++), out.replies);
            m_state = State::Data;
            break;
        case State::SubOption:
            m_subOption = quint8(*p++);
            m_subPayload.clear();
            m_subOverflow = false;
            m_subLength = 0;
            m_state = State::Sub;
            break;
        case State::Sub: {
            const void *iac = std::memchr(p, Iac, size_t(end - p));
            const char *stop = iac ? static_cast<const char *>(iac) : end;
            if (stop - p > SubnegotiationCut - m_subLength) {
                // A subnegotiation without end would swallow the line for good: past the cut,
                // what follows is read as data again.
                p += SubnegotiationCut - m_subLength;
                m_subPayload.clear();
                m_subLength = 0;
                ++out.cutSubnegotiations;
                m_state = State::Data;
                break;
            }
            m_subLength += stop - p;
            if (m_subPayload.size() + (stop - p) > MaxSubnegotiation)
                m_subOverflow = true;
            else
                m_subPayload.append(p, stop - p);
            p = stop;
            if (p < end) {
                m_state = State::SubIac;
                ++p;
            }
            break;
        }
        case State::SubIac: {
            const quint8 byte = quint8(*p);
            if (byte == Iac) {
                ++p;
                if (++m_subLength > SubnegotiationCut) {
                    m_subPayload.clear();
                    m_subLength = 0;
                    ++out.cutSubnegotiations;
                    m_state = State::Data;
                    break;
                }
                if (m_subPayload.size() < MaxSubnegotiation)
                    m_subPayload.append(char(Iac));
                else
                    m_subOverflow = true;
                m_state = State::Sub;
            } else if (byte == Se) {
                if (!m_subOverflow)
                    out.subnegotiations.append({m_subOption, m_subPayload});
                m_subPayload.clear();
                m_state = State::Data;
                ++p;
            } else {
                // IAC and anything else ends a subnegotiation that lost its IAC SE: drop it and
                // read the command afresh, so that a broken server cannot swallow the data.
                m_subPayload.clear();
                m_state = State::Command;
            }
            break;
        }
        }
    }
}

QByteArray TelnetCodec::escape(QByteArrayView data)
{
    QByteArray out;
    appendEscaped(out, data);
    return out;
}

void TelnetCodec::appendEscaped(QByteArray &out, QByteArrayView data)
{
    const char *p = data.data();
    const char *const end = p + data.size();
    while (p < end) {
        const void *iac = std::memchr(p, Iac, size_t(end - p));
        if (!iac) {
            out.append(p, end - p);
            return;
        }
        const char *stop = static_cast<const char *>(iac) + 1;
        out.append(p, stop - p);
        out.append(char(Iac));
        p = stop;
    }
}

QByteArray TelnetCodec::subnegotiation(quint8 option, QByteArrayView payload)
{
    QByteArray out;
    out.reserve(payload.size() + 6);
    out.append(char(Iac));
    out.append(char(Sb));
    out.append(char(option));
    appendEscaped(out, payload);
    out.append(char(Iac));
    out.append(char(Se));
    return out;
}
