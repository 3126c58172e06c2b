#include "receive/charreader.h"

#include "receive/codepage936.h"

namespace TextEncodings {

int maxCharBytes(TextEncoding encoding)
{
    return encoding == TextEncoding::Utf8 ? 4 : 2;
}

namespace {

CharRead readGbk(QByteArrayView bytes)
{
    const auto lead = quint8(bytes[0]);
    if (!CodePage936::isLeadByte(lead)) {
        const QChar single = CodePage936::singleChar(lead);
        if (single == QChar::ReplacementCharacter)
            return {CharRead::Invalid, 1, 0xFFFD};
        return {CharRead::Complete, 1, single.unicode()};
    }
    if (bytes.size() == 1)
        return {CharRead::Incomplete, 1, 0};
    const QChar pair = CodePage936::pairChar(lead, quint8(bytes[1]));
    if (pair.isNull())
        return {CharRead::Invalid, 1, 0xFFFD};
    return {CharRead::Complete, 2, pair.unicode()};
}

// Follows the Unicode standard's well-formed byte sequences (table 3-7): no overlong forms, no
// surrogates, nothing above U+10FFFF. A sequence that breaks off counts as one invalid
// character as far as it was well formed, and the byte that broke it is read afresh.
CharRead readUtf8(QByteArrayView bytes)
{
    const auto lead = quint8(bytes[0]);
    if (lead < 0x80)
        return {CharRead::Complete, 1, lead};
    int length = 0;
    char32_t code = 0;
    quint8 secondLow = 0x80;
    quint8 secondHigh = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
        if (lead == 0xE0)
            secondLow = 0xA0;
        else if (lead == 0xED)
            secondHigh = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
        if (lead == 0xF0)
            secondLow = 0x90;
        else if (lead == 0xF4)
            secondHigh = 0x8F;
    } else {
        return {CharRead::Invalid, 1, 0xFFFD};
    }
    for (int i = 1; i < length; ++i) {
        if (i == bytes.size())
            return {CharRead::Incomplete, i, 0};
        const auto next = quint8(bytes[i]);
        const quint8 low = i == 1 ? secondLow : 0x80;
        const quint8 high = i == 1 ? secondHigh : 0xBF;
        if (next < low || next > high)
            return {CharRead::Invalid, i, 0xFFFD};
        code = (code << 6) | (next & 0x3F);
    }
    return {CharRead::Complete, length, code};
}

} // namespace

CharRead readChar(TextEncoding encoding, QByteArrayView bytes)
{
    Q_ASSERT(!bytes.isEmpty());
    return encoding == TextEncoding::Utf8 ? readUtf8(bytes) : readGbk(bytes);
}

} // namespace TextEncodings
