#pragma once

// What a boot loader download needs: the bytes as a Motorola S-record file. The CRC-32 that
// U-Boot's crc32 command prints over them, to prove on the board that every byte landed, is
// core's crc32().

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace SRecord {

// An S-record file as tools such as srec_cat write it: an S0 header naming the file, the data
// in S3 records (32-bit addresses) of up to 32 bytes from address on, and an S7 record that
// gives address as the start; lines end with LF.
QByteArray encode(QByteArrayView data, quint32 address, const QByteArray &header = "velmir");

} // namespace SRecord
