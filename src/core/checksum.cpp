#include "core/checksum.h"

#include <array>
#include <initializer_list>

using namespace Qt::StringLiterals;

namespace {

// Reflected CRC-16 (input and output bit order reversed), as Modbus computes it.
quint16 crc16Reflected(QByteArrayView data, quint16 polyReflected, quint16 init)
{
    quint16 crc = init;
    for (const char c : data) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) ? quint16((crc >> 1) ^ polyReflected) : quint16(crc >> 1);
        }
    }
    return crc;
}

quint16 crc16Forward(QByteArrayView data, quint16 poly, quint16 init)
{
    quint16 crc = init;
    for (const char c : data) {
        crc ^= quint16(quint8(c) << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ poly) : quint16(crc << 1);
        }
    }
    return crc;
}

const std::array<quint32, 256> &crc32Table()
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int bit = 0; bit < 8; ++bit) {
                c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
            }
            t[i] = c;
        }
        return t;
    }();
    return table;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// The bytes a Modbus ASCII frame's digits stand for, when data is such a frame.
std::optional<QByteArray> modbusAsciiPayload(QByteArrayView data)
{
    if (data.size() < 3 || data.front() != ':' || (data.size() - 1) % 2 != 0) {
        return std::nullopt;
    }
    QByteArray bytes;
    for (qsizetype i = 1; i + 1 < data.size(); i += 2) {
        const int high = hexValue(data[i]);
        const int low = hexValue(data[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        bytes.append(char(high * 16 + low));
    }
    return bytes;
}

} // namespace

quint16 crc16Modbus(QByteArrayView data)
{
    return crc16Reflected(data, 0xA001, 0xFFFF);
}

quint16 crc16CcittFalse(QByteArrayView data)
{
    return crc16Forward(data, 0x1021, 0xFFFF);
}

quint16 crc16Xmodem(QByteArrayView data)
{
    return crc16Forward(data, 0x1021, 0x0000);
}

quint32 crc32(QByteArrayView data)
{
    const auto &table = crc32Table();
    quint32 crc = 0xFFFFFFFFu;
    for (const char c : data) {
        crc = table[(crc ^ quint8(c)) & 0xFF] ^ (crc >> 8);
    }
    return crc ^ 0xFFFFFFFFu;
}

quint8 sum8(QByteArrayView data)
{
    quint8 sum = 0;
    for (const char c : data) {
        sum = quint8(sum + quint8(c));
    }
    return sum;
}

quint8 xor8(QByteArrayView data)
{
    quint8 x = 0;
    for (const char c : data) {
        x ^= quint8(c);
    }
    return x;
}

quint8 lrc8(QByteArrayView data)
{
    return quint8(-sum8(data));
}

QByteArray checksumBytes(ChecksumKind kind, QByteArrayView data)
{
    const auto bytes = [](std::initializer_list<quint8> values) {
        QByteArray out;
        for (const quint8 v : values) {
            out.append(char(v));
        }
        return out;
    };
    const auto bigEndian16 = [&](quint16 v) {
        return bytes({quint8(v >> 8), quint8(v)});
    };
    switch (kind) {
    case ChecksumKind::None:
        return {};
    case ChecksumKind::Modbus: {
        const quint16 crc = crc16Modbus(data);
        return bytes({quint8(crc), quint8(crc >> 8)});
    }
    case ChecksumKind::CcittFalse:
        return bigEndian16(crc16CcittFalse(data));
    case ChecksumKind::Xmodem:
        return bigEndian16(crc16Xmodem(data));
    case ChecksumKind::Crc32: {
        const quint32 crc = crc32(data);
        return bytes({quint8(crc >> 24), quint8(crc >> 16), quint8(crc >> 8), quint8(crc)});
    }
    case ChecksumKind::Sum8:
        return QByteArray(1, char(sum8(data)));
    case ChecksumKind::Xor8:
        return QByteArray(1, char(xor8(data)));
    case ChecksumKind::Lrc:
        if (const auto payload = modbusAsciiPayload(data)) {
            return QByteArray::number(lrc8(*payload), 16).toUpper().rightJustified(2, '0');
        }
        return QByteArray(1, char(lrc8(data)));
    }
    Q_ASSERT(false);
    return {};
}

QString checksumName(ChecksumKind kind)
{
    switch (kind) {
    case ChecksumKind::None:
        return u"none"_s;
    case ChecksumKind::Modbus:
        return u"modbus"_s;
    case ChecksumKind::CcittFalse:
        return u"ccitt"_s;
    case ChecksumKind::Xmodem:
        return u"xmodem"_s;
    case ChecksumKind::Crc32:
        return u"crc32"_s;
    case ChecksumKind::Sum8:
        return u"sum8"_s;
    case ChecksumKind::Xor8:
        return u"xor8"_s;
    case ChecksumKind::Lrc:
        return u"lrc"_s;
    }
    Q_ASSERT(false);
    return {};
}

std::optional<ChecksumKind> checksumFromName(QStringView name)
{
    for (const ChecksumKind kind : AllChecksumKinds) {
        if (name.compare(checksumName(kind), Qt::CaseInsensitive) == 0) {
            return kind;
        }
    }
    return std::nullopt;
}

QString checksumLabel(ChecksumKind kind)
{
    switch (kind) {
    case ChecksumKind::None:
        return u"无"_s;
    case ChecksumKind::Modbus:
        return u"Modbus CRC-16（低字节在前）"_s;
    case ChecksumKind::CcittFalse:
        return u"CRC-16/CCITT-FALSE"_s;
    case ChecksumKind::Xmodem:
        return u"CRC-16/XMODEM"_s;
    case ChecksumKind::Crc32:
        return u"CRC-32"_s;
    case ChecksumKind::Sum8:
        return u"8 位累加和"_s;
    case ChecksumKind::Xor8:
        return u"异或校验"_s;
    case ChecksumKind::Lrc:
        return u"Modbus ASCII LRC"_s;
    }
    Q_ASSERT(false);
    return {};
}
