#include "transfer/modemframe.h"

namespace Modem {

quint16 crc16(QByteArrayView data)
{
    quint16 crc = 0;
    for (const char c : data) {
        crc ^= quint16(quint8(c)) << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
    }
    return crc;
}

quint8 checksum(QByteArrayView data)
{
    quint8 sum = 0;
    for (const char c : data)
        sum = quint8(sum + quint8(c));
    return sum;
}

QByteArray frame(quint8 number, QByteArrayView data, qsizetype size, bool crc, char fill)
{
    Q_ASSERT(data.size() <= size);
    QByteArray block;
    block.reserve(size + 5);
    block.append(size == LongBlock ? STX : SOH);
    block.append(char(number));
    block.append(char(quint8(~number)));
    block.append(data);
    block.append(size - data.size(), fill);
    const QByteArrayView body = QByteArrayView(block).sliced(3, size);
    if (crc) {
        const quint16 value = crc16(body);
        block.append(char(value >> 8));
        block.append(char(value & 0xFF));
    } else {
        block.append(char(checksum(body)));
    }
    return block;
}

QByteArray headerBlock(const QByteArray &name, qint64 size, qint64 mtime, bool crc)
{
    QByteArray data;
    if (!name.isEmpty()) {
        data = name;
        data.append('\0');
        data.append(QByteArray::number(size));
        data.append(' ');
        data.append(QByteArray::number(mtime, 8));
    }
    // Room for the terminating NUL that readers of the info field expect.
    const qsizetype blockSize = data.size() < ShortBlock ? ShortBlock : LongBlock;
    return frame(0, data.left(blockSize - 1), blockSize, crc, '\0');
}

std::optional<Header> parseHeader(QByteArrayView data)
{
    if (data.isEmpty() || data.front() == '\0')
        return std::nullopt;
    Header header;
    const qsizetype nameEnd = data.indexOf('\0');
    header.name = data.first(nameEnd < 0 ? data.size() : nameEnd).toByteArray();
    if (nameEnd < 0)
        return header;
    const QByteArrayView info = data.sliced(nameEnd + 1);
    qsizetype digits = 0;
    while (digits < info.size() && info[digits] >= '0' && info[digits] <= '9')
        ++digits;
    // A size too large for any file is no size at all; its first digits would be a wrong one.
    bool fits = false;
    const qint64 size = info.first(digits).toLongLong(&fits);
    if (digits > 0 && fits)
        header.size = size;
    return header;
}

} // namespace Modem
