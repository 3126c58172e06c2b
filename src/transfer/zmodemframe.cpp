#include "transfer/zmodemframe.h"

namespace Zmodem {

namespace {

constexpr std::array<quint16, 256> crc16Table = [] {
    std::array<quint16, 256> table{};
    for (int i = 0; i < 256; ++i) {
        quint16 crc = quint16(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
        table[size_t(i)] = crc;
    }
    return table;
}();

constexpr std::array<quint32, 256> crc32Table = [] {
    std::array<quint32, 256> table{};
    for (quint32 i = 0; i < 256; ++i) {
        quint32 crc = i;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        table[i] = crc;
    }
    return table;
}();

constexpr char XON = 0x11;

bool flowControl(char c)
{
    const quint8 u = quint8(c) & 0x7f;
    return u == 0x11 || u == 0x13;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

QByteArray headerBytes(const Header &h)
{
    QByteArray bytes(5, 0);
    bytes[0] = char(h.type);
    for (int i = 0; i < 4; ++i)
        bytes[i + 1] = char(h.b[size_t(i)]);
    return bytes;
}

bool carriesData(quint8 type)
{
    return type == ZFILE || type == ZDATA || type == ZSINIT || type == ZCOMMAND;
}

} // namespace

Header Header::at(quint8 type, qint64 pos)
{
    Header h;
    h.type = type;
    for (int i = 0; i < 4; ++i)
        h.b[size_t(i)] = quint8(quint64(pos) >> (8 * i));
    return h;
}

Header Header::flags(quint8 type, quint8 zf0, quint8 zf1)
{
    Header h;
    h.type = type;
    h.b[3] = zf0;
    h.b[2] = zf1;
    return h;
}

quint16 crc16(quint16 crc, QByteArrayView data)
{
    for (const char c : data)
        crc = quint16(crc16Table[((crc >> 8) ^ quint8(c)) & 0xff] ^ (crc << 8));
    return crc;
}

quint32 crc32(quint32 crc, QByteArrayView data)
{
    for (const char c : data)
        crc = crc32Table[(crc ^ quint8(c)) & 0xff] ^ (crc >> 8);
    return crc;
}

// --- Encoder ------------------------------------------------------------------------------------

Encoder::Encoder(bool escctl)
{
    setEscctl(escctl);
}

void Encoder::setEscctl(bool on)
{
    for (int i = 0; i < 256; ++i) {
        const int low = i & 0x7f;
        // ZDLE itself, DLE and the flow-control characters, with or without the high bit.
        const bool always = i == quint8(ZDLE) || low == 0x10 || low == 0x11 || low == 0x13;
        m_escape[size_t(i)] = always || (on && (i & 0x60) == 0);
    }
}

QByteArray Encoder::hexHeader(const Header &h)
{
    const QByteArray bytes = headerBytes(h);
    const quint16 crc = crc16(0, bytes);
    QByteArray out;
    out.append(ZPAD).append(ZPAD).append(ZDLE).append(ZHEX);
    out.append(bytes.toHex());
    out += QByteArray::number(crc >> 8 & 0xff, 16).rightJustified(2, '0');
    out += QByteArray::number(crc & 0xff, 16).rightJustified(2, '0');
    // CR and LF with the high bit, as lrzsz sends them; XON undoes a stray XOFF.
    out += "\r\x8a";
    if (h.type != ZFIN && h.type != ZACK)
        out += XON;
    return out;
}

QByteArray Encoder::binaryHeader(const Header &h, bool crc32bit) const
{
    QByteArray bytes = headerBytes(h);
    if (crc32bit) {
        const quint32 crc = ~crc32(0xFFFFFFFFu, bytes);
        for (int i = 0; i < 4; ++i)
            bytes += char(crc >> (8 * i));
    } else {
        const quint16 crc = crc16(0, bytes);
        bytes += char(crc >> 8);
        bytes += char(crc);
    }
    QByteArray out;
    out.reserve(3 + bytes.size() * 2);
    out += ZPAD;
    out += ZDLE;
    out += crc32bit ? ZBIN32 : ZBIN;
    appendEscaped(out, bytes);
    return out;
}

void Encoder::appendSubpacket(QByteArray &out, QByteArrayView data, char end, bool crc32bit) const
{
    out.reserve(out.size() + data.size() + data.size() / 16 + 16);
    appendEscaped(out, data);
    out += ZDLE;
    out += end;
    QByteArray check;
    if (crc32bit) {
        const quint32 crc = ~crc32(crc32(0xFFFFFFFFu, data), QByteArrayView(&end, 1));
        for (int i = 0; i < 4; ++i)
            check += char(crc >> (8 * i));
    } else {
        const quint16 crc = crc16(crc16(0, data), QByteArrayView(&end, 1));
        check += char(crc >> 8);
        check += char(crc);
    }
    appendEscaped(out, check);
    if (end == ZCRCW)
        out += XON;
}

void Encoder::appendEscaped(QByteArray &out, QByteArrayView data) const
{
    for (const char c : data) {
        if (m_escape[quint8(c)]) {
            out += ZDLE;
            out += char(c ^ 0x40);
        } else {
            out += c;
        }
    }
}

// --- Parser -------------------------------------------------------------------------------------

void Parser::reset()
{
    m_state = State::Hunt;
    m_escaped = false;
    m_cans = 0;
    m_length = 0;
    m_header.clear();
}

void Parser::skipData()
{
    if (m_state == State::Data) {
        m_state = State::Hunt;
        m_length = 0;
    }
}

qsizetype Parser::feed(QByteArrayView bytes, Events &events)
{
    m_halt = false;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        // The common case, kept tight: plain data within a subpacket.
        if (m_state == State::Data && !m_escaped && (quint8(c) & 0x60) != 0
            && m_length < MaxSubpacket) {
            m_cans = 0;
            m_data[size_t(m_length++)] = c;
            continue;
        }
        if (!step(c, events) || m_halt) {
            m_halt = false;
            return i + 1;
        }
    }
    return bytes.size();
}

bool Parser::step(char c, Events &events)
{
    if (c == ZDLE) {
        if (++m_cans >= 5) {
            reset();
            events.cancelled();
            return true;
        }
    } else {
        m_cans = 0;
    }
    char byte = 0;
    bool end = false;
    switch (m_state) {
    case State::Hunt:
        if ((c & 0x7f) == ZPAD)
            m_state = State::Pad;
        break;
    case State::Pad:
        if (c == ZDLE)
            m_state = State::Dle;
        else if ((c & 0x7f) != ZPAD)
            m_state = State::Hunt;
        break;
    case State::Dle:
        m_header.clear();
        m_escaped = false;
        if (c == ZBIN || c == ZBIN32) {
            m_binary32 = c == ZBIN32;
            m_state = State::Binary;
        } else if (c == ZHEX) {
            m_state = State::Hex;
        } else {
            m_state = c == ZPAD ? State::Pad : State::Hunt;
        }
        break;
    case State::Hex: {
        const int value = hexValue(char(c & 0x7f));
        if (value < 0) {
            damage(events);
            break;
        }
        m_header += char(value);
        if (m_header.size() == 14)
            headerDone(events);
        break;
    }
    case State::Binary:
        if (!unescape(c, events, byte, end))
            break;
        if (end) {
            damage(events);
            break;
        }
        m_header += byte;
        if (m_header.size() == (m_binary32 ? 9 : 7))
            headerDone(events);
        break;
    case State::Data:
        if (!unescape(c, events, byte, end))
            break;
        if (end) {
            m_end = byte;
            m_crc.clear();
            m_state = State::Crc;
        } else if (m_length >= MaxSubpacket) {
            damage(events);
        } else {
            m_data[size_t(m_length++)] = byte;
        }
        break;
    case State::Crc: {
        if (!unescape(c, events, byte, end))
            break;
        if (end) {
            damage(events);
            break;
        }
        m_crc += byte;
        if (m_crc.size() < (m_dataCrc32 ? 4 : 2))
            break;
        const QByteArrayView data(m_data.data(), m_length);
        bool good;
        if (m_dataCrc32) {
            const quint32 crc = ~crc32(crc32(0xFFFFFFFFu, data), QByteArrayView(&m_end, 1));
            good = quint32(quint8(m_crc[0]) | quint8(m_crc[1]) << 8 | quint8(m_crc[2]) << 16
                           | quint32(quint8(m_crc[3])) << 24)
                   == crc;
        } else {
            const quint16 crc = crc16(crc16(0, data), QByteArrayView(&m_end, 1));
            good = quint16(quint8(m_crc[0]) << 8 | quint8(m_crc[1])) == crc;
        }
        if (!good) {
            damage(events);
            break;
        }
        const bool more = m_end == ZCRCG || m_end == ZCRCQ;
        m_state = more ? State::Data : State::Hunt;
        m_length = 0;
        events.subpacket(data, m_end);
        break;
    }
    }
    return true;
}

bool Parser::unescape(char c, Events &events, char &out, bool &end)
{
    end = false;
    if (!m_escaped) {
        if (c == ZDLE) {
            m_escaped = true;
            return false;
        }
        if (flowControl(c))
            return false;
        out = c;
        return true;
    }
    switch (c) {
    case ZCRCE:
    case ZCRCG:
    case ZCRCQ:
    case ZCRCW:
        m_escaped = false;
        out = c;
        end = true;
        return true;
    case ZRUB0:
        m_escaped = false;
        out = char(0x7f);
        return true;
    case ZRUB1:
        m_escaped = false;
        out = char(0xff);
        return true;
    case ZDLE:
        // Part of a cancel: the counter in step() decides.
        return false;
    default:
        break;
    }
    if (flowControl(c))
        return false;
    m_escaped = false;
    if ((c & 0x60) != 0x40) {
        damage(events);
        return false;
    }
    out = char(c ^ 0x40);
    return true;
}

void Parser::damage(Events &events)
{
    m_state = State::Hunt;
    m_escaped = false;
    m_length = 0;
    events.damaged();
}

void Parser::headerDone(Events &events)
{
    QByteArray bytes = m_header;
    bool hex = m_state == State::Hex;
    if (hex) {
        QByteArray packed;
        for (qsizetype i = 0; i < 14; i += 2)
            packed += char(bytes[i] << 4 | bytes[i + 1]);
        bytes = packed;
    }
    const QByteArrayView body = QByteArrayView(bytes).first(5);
    bool good;
    if (!hex && m_binary32) {
        const quint32 crc = ~crc32(0xFFFFFFFFu, body);
        good = quint32(quint8(bytes[5]) | quint8(bytes[6]) << 8 | quint8(bytes[7]) << 16
                       | quint32(quint8(bytes[8])) << 24)
               == crc;
    } else {
        good = quint16(quint8(bytes[5]) << 8 | quint8(bytes[6])) == crc16(0, body);
    }
    if (!good) {
        damage(events);
        return;
    }
    Header h;
    h.type = quint8(bytes[0]);
    for (int i = 0; i < 4; ++i)
        h.b[size_t(i)] = quint8(bytes[i + 1]);
    const bool crc32bit = !hex && m_binary32;
    m_dataCrc32 = crc32bit;
    m_length = 0;
    m_escaped = false;
    m_state = carriesData(h.type) ? State::Data : State::Hunt;
    events.header(h, crc32bit);
}

} // namespace Zmodem
