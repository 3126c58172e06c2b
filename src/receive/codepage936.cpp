#include "receive/codepage936.h"

#include <QByteArray>
#include <QStringDecoder>

#include <algorithm>
#include <array>

namespace {

constexpr int LeadCount = 0xFE - 0x81 + 1;
constexpr int TrailSlots = 0xFE - 0x40 + 1; // 0x7F included, never filled

using PairTable = std::array<char16_t, LeadCount * TrailSlots>;

// A usable result is one character of the basic plane; anything else leaves the pair unmapped.
char16_t usable(const QString &decoded)
{
    if (decoded.size() != 1 || decoded.front().isSurrogate()
        || decoded.front() == QChar::ReplacementCharacter)
        return 0;
    return decoded.front().unicode();
}

PairTable buildTable()
{
    PairTable table{};
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        char16_t *row = table.data() + (lead - 0x81) * TrailSlots;
        QByteArray bytes;
        bytes.reserve(2 * TrailSlots);
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            if (CodePage936::isTrailByte(quint8(trail))) {
                bytes.append(char(lead));
                bytes.append(char(trail));
            }
        }
        // A whole row in one call; if it does not come back as one character per pair, the
        // pairs are asked one by one so that none can shift its neighbours.
        QStringDecoder rowDecoder("GBK");
        const QString decoded
                = rowDecoder.isValid() ? QString(rowDecoder.decode(bytes)) : QString();
        const bool rowClean = decoded.size() == bytes.size() / 2
                              && !decoded.contains(QChar::ReplacementCharacter)
                              && std::none_of(decoded.begin(), decoded.end(),
                                              [](QChar c) { return c.isSurrogate(); });
        int index = 0;
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            if (!CodePage936::isTrailByte(quint8(trail)))
                continue;
            if (rowClean) {
                row[trail - 0x40] = decoded[index].unicode();
            } else {
                QStringDecoder pairDecoder("GBK");
                if (pairDecoder.isValid())
                    row[trail - 0x40] = usable(pairDecoder.decode(bytes.mid(2 * index, 2)));
            }
            ++index;
        }
    }
    return table;
}

const PairTable &pairTable()
{
    static const PairTable table = buildTable();
    return table;
}

} // namespace

QChar CodePage936::pairChar(quint8 lead, quint8 trail)
{
    if (!isLeadByte(lead) || !isTrailByte(trail))
        return QChar();
    return QChar(pairTable()[(lead - 0x81) * TrailSlots + (trail - 0x40)]);
}

QChar CodePage936::singleChar(quint8 byte)
{
    if (byte < 0x80)
        return QChar(char16_t(byte));
    if (byte == 0x80)
        return QChar(0x20AC);
    // A lead byte without its trail, and 0xFF, which Windows maps to an invisible private-use
    // character: both show as the replacement character, which a user recognises.
    return QChar::ReplacementCharacter;
}
