#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// The bytes that XMODEM and YMODEM put on the line, shared by the sender and the receiver.
namespace Modem {

constexpr char SOH = 0x01; // a block of 128 bytes follows
constexpr char STX = 0x02; // a block of 1024 bytes follows
constexpr char EOT = 0x04;
constexpr char ACK = 0x06;
constexpr char NAK = 0x15;
constexpr char CAN = 0x18;
constexpr char CRC = 'C'; // a receiver's request for blocks checked with CRC-16
constexpr char PAD = 0x1A;

constexpr qsizetype ShortBlock = 128;
constexpr qsizetype LongBlock = 1024;
// Retries of one block before the transfer is given up, as both protocols say.
constexpr int MaxRetries = 10;

// CRC-16 with the polynomial 0x1021 from 0, as XMODEM-CRC and YMODEM check blocks.
quint16 crc16(QByteArrayView data);
// The low byte of the sum of the data, as plain XMODEM checks blocks.
quint8 checksum(QByteArrayView data);

// One block ready for the line: its mark, number, complemented number, data padded to the block
// size with fill, and the CRC (big-endian) or checksum. data.size() <= size.
QByteArray frame(quint8 number, QByteArrayView data, qsizetype size, bool crc, char fill = PAD);

// YMODEM's block 0: the name, a NUL, the size in decimal, a space, the modification time in
// octal seconds; a 1024-byte block when that does not fit into 128. An empty name gives the
// empty block that ends a batch.
QByteArray headerBlock(const QByteArray &name, qint64 size, qint64 mtime, bool crc);

struct Header
{
    QByteArray name;
    // -1 when the sender gave none.
    qint64 size = -1;
};
// Reads block 0's data: nullopt for the empty block that ends a batch.
std::optional<Header> parseHeader(QByteArrayView data);

} // namespace Modem

namespace Modem {

// How a transfer ended; reason is the user's sentence when it did not complete.
struct Outcome
{
    enum class Kind { Completed, Stopped, Failed };
    Kind kind = Kind::Completed;
    QString reason;

    bool completed() const { return kind == Kind::Completed; }
};

// What the user's stop puts on the line, as lrzsz does: enough CANs that a receiver or sender
// in any state sees two in a row.
inline QByteArray cancelSequence()
{
    return QByteArray(5, CAN);
}

} // namespace Modem
