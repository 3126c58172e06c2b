#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <array>

// ZMODEM's bytes on the line (Chuck Forsberg's public protocol, as lrzsz speaks it): headers in
// hexadecimal or binary with CRC-16 or CRC-32, data subpackets, and the ZDLE escape that keeps
// flow-control and (when the receiver asks) every control character off the line.
namespace Zmodem {

constexpr char ZPAD = '*';
constexpr char ZDLE = 0x18; // also CAN: five in a row cancel
constexpr char ZBIN = 'A';
constexpr char ZHEX = 'B';
constexpr char ZBIN32 = 'C';
// The ends of a data subpacket: end of frame, go on streaming, go on and answer, wait for answer.
constexpr char ZCRCE = 'h';
constexpr char ZCRCG = 'i';
constexpr char ZCRCQ = 'j';
constexpr char ZCRCW = 'k';
constexpr char ZRUB0 = 'l'; // 0x7f escaped
constexpr char ZRUB1 = 'm'; // 0xff escaped

enum Type : quint8 {
    ZRQINIT = 0,
    ZRINIT,
    ZSINIT,
    ZACK,
    ZFILE,
    ZSKIP,
    ZNAK,
    ZABORT,
    ZFIN,
    ZRPOS,
    ZDATA,
    ZEOF,
    ZFERR,
    ZCRC,
    ZCHALLENGE,
    ZCOMPL,
    ZCAN,
    ZFREECNT,
    ZCOMMAND,
    ZSTDERR,
};

// The receiver's abilities in ZRINIT's ZF0.
constexpr quint8 CANFDX = 0x01;
constexpr quint8 CANOVIO = 0x02;
constexpr quint8 CANFC32 = 0x20;
constexpr quint8 ESCCTL = 0x40;
// ZSINIT's ZF0: the sender wants control characters escaped too.
constexpr quint8 TESCCTL = 0x40;
// ZFILE's ZF0: binary, no conversion.
constexpr quint8 ZCBIN = 1;

// The longest subpacket taken: ZMODEM-8K's. Anything longer is damage or hostility.
constexpr qsizetype MaxSubpacket = 8192;

struct Header
{
    quint8 type = ZRQINIT;
    // As on the line: ZP0..ZP3 (a position, low byte first) or ZF3..ZF0 (flags).
    std::array<quint8, 4> b{};

    static Header at(quint8 type, qint64 pos);
    static Header flags(quint8 type, quint8 zf0, quint8 zf1 = 0);
    quint32 pos() const { return b[0] | b[1] << 8 | b[2] << 16 | quint32(b[3]) << 24; }
    quint8 zf0() const { return b[3]; }
    quint8 zf1() const { return b[2]; }
};

quint16 crc16(quint16 crc, QByteArrayView data);
// Running CRC-32 as ZMODEM (and zip) use it: start with 0xFFFFFFFF, send the complement.
quint32 crc32(quint32 crc, QByteArrayView data);

// Puts headers and subpackets on the line; escapes control characters too when escctl.
class Encoder
{
public:
    explicit Encoder(bool escctl = false);
    void setEscctl(bool on);

    static QByteArray hexHeader(const Header &h);
    QByteArray binaryHeader(const Header &h, bool crc32) const;
    void appendSubpacket(QByteArray &out, QByteArrayView data, char end, bool crc32) const;

private:
    void appendEscaped(QByteArray &out, QByteArrayView data) const;

    std::array<bool, 256> m_escape{};
};

// Reads ZMODEM from the line incrementally, in pieces of any size: the headers, the subpackets
// that follow ZFILE, ZDATA, ZSINIT and ZCOMMAND, damage, and the five CANs that cancel. Anything
// between frames (the sender's "rz\r", CR LF XON after a hex header) is skipped.
class Parser
{
public:
    class Events
    {
    public:
        virtual ~Events() = default;
        virtual void header(const Header &h, bool crc32) = 0;
        // end is ZCRCE, ZCRCG, ZCRCQ or ZCRCW; the data is valid only during the call.
        virtual void subpacket(QByteArrayView data, char end) = 0;
        // A header or subpacket with a bad CRC, a bad escape or too long: it is dropped and
        // the parser hunts for the next header.
        virtual void damaged() = 0;
        virtual void cancelled() = 0;
    };

    // Takes bytes; returns how many it read: all, unless halt() was called during an event.
    qsizetype feed(QByteArrayView bytes, Events &events);
    // Stops feed() after the current event (the engine ended), keeping the rest for the caller.
    void halt() { m_halt = true; }
    // The subpackets after the header just read are not wanted: the parser hunts for the next
    // header instead, and finds it even where it interrupts them.
    void skipData();
    void reset();

private:
    enum class State { Hunt, Pad, Dle, Hex, Binary, Data, Crc };

    bool step(char c, Events &events);
    // The escape layer: returns false when c was swallowed (ZDLE, flow control, damage).
    bool unescape(char c, Events &events, char &out, bool &end);
    void damage(Events &events);
    void headerDone(Events &events);

    State m_state = State::Hunt;
    bool m_escaped = false;
    bool m_halt = false;
    int m_cans = 0;
    bool m_binary32 = false;
    bool m_dataCrc32 = false;
    QByteArray m_header;
    std::array<char, MaxSubpacket> m_data{};
    qsizetype m_length = 0;
    char m_end = 0;
    QByteArray m_crc;
};

} // namespace Zmodem

namespace Zmodem {

// The stop both sides put on the line: five CANs cancel any ZMODEM state, the backspaces rub
// them out should a shell on the far end read them instead.
inline QByteArray cancelSequence()
{
    QByteArray bytes(5, ZDLE);
    bytes.append(5, '\b');
    return bytes;
}

} // namespace Zmodem
