#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

// The checks a device expects after a frame, as the send panel and scripts append them: the
// CRCs by their catalogued parameters (check values for "123456789": Modbus 0x4B37,
// CCITT-FALSE 0x29B1, XMODEM 0x31C3, CRC-32 0xCBF43926), an 8-bit sum, an XOR and Modbus
// ASCII's LRC.
enum class ChecksumKind {
    None,
    Modbus,     // CRC-16/MODBUS, appended low byte first as the RTU frame carries it
    CcittFalse, // CRC-16/CCITT-FALSE, high byte first
    Xmodem,     // CRC-16/XMODEM, high byte first
    Crc32,      // CRC-32 (zlib, Ethernet), most significant byte first
    Sum8,       // sum of the bytes modulo 256
    Xor8,       // XOR of the bytes
    Lrc,        // Modbus ASCII LRC: the two's complement of the 8-bit sum
};

inline constexpr ChecksumKind AllChecksumKinds[] = {
        ChecksumKind::None,  ChecksumKind::Modbus, ChecksumKind::CcittFalse, ChecksumKind::Xmodem,
        ChecksumKind::Crc32, ChecksumKind::Sum8,   ChecksumKind::Xor8,       ChecksumKind::Lrc};

quint16 crc16Modbus(QByteArrayView data);
quint16 crc16CcittFalse(QByteArrayView data);
quint16 crc16Xmodem(QByteArrayView data);
quint32 crc32(QByteArrayView data);
quint8 sum8(QByteArrayView data);
quint8 xor8(QByteArrayView data);
quint8 lrc8(QByteArrayView data);

// The bytes that go after data on the line. For the LRC of a Modbus ASCII frame (':' and hex
// digits) the check is computed over the bytes the digits stand for and appended as two
// uppercase digits, as that frame carries it; for any other data it is one byte.
QByteArray checksumBytes(ChecksumKind kind, QByteArrayView data);

// The short names scripts and stored panels use: none, modbus, ccitt, xmodem, crc32, sum8,
// xor8, lrc.
QString checksumName(ChecksumKind kind);
std::optional<ChecksumKind> checksumFromName(QStringView name);
// What the user reads in a list, such as "Modbus CRC-16（低字节在前）".
QString checksumLabel(ChecksumKind kind);
