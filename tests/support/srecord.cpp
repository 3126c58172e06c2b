#include "srecord.h"

namespace {

constexpr qsizetype BytesPerRecord = 32;

// One record: type, count, address, data, checksum. The count covers the address, the data and
// the checksum; the checksum is the ones' complement of the low byte of the sum of all of them.
QByteArray record(char type, int addressBytes, quint32 address, QByteArrayView data)
{
    QByteArray body;
    body.append(char(addressBytes + data.size() + 1));
    for (int shift = (addressBytes - 1) * 8; shift >= 0; shift -= 8)
        body.append(char((address >> shift) & 0xFF));
    body.append(data);
    quint8 sum = 0;
    for (char c : std::as_const(body))
        sum += quint8(c);
    body.append(char(~sum));
    return 'S' + QByteArray(1, type) + body.toHex().toUpper() + '\n';
}

} // namespace

QByteArray SRecord::encode(QByteArrayView data, quint32 address, const QByteArray &header)
{
    QByteArray file = record('0', 2, 0, header);
    for (qsizetype at = 0; at < data.size(); at += BytesPerRecord) {
        const QByteArrayView chunk = data.sliced(at, qMin(BytesPerRecord, data.size() - at));
        file += record('3', 4, address + quint32(at), chunk);
    }
    file += record('7', 4, address, {});
    return file;
}
