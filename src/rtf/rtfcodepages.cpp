#include "rtf/rtfcodepages.h"

#include <algorithm>

namespace {

struct CharsetCodePage
{
    int charset;
    int codePage;
};

// Code pages of the font charsets; any other leaves the document's.
constexpr CharsetCodePage charsetCodePages[] = {
        {0, 1252},   {2, 1252}, // symbol fonts: their bytes name glyphs, shown best as Latin
        {77, 10000}, {128, 932},  {129, 949},  {134, 936},  {136, 950},  {161, 1253},
        {162, 1254}, {163, 1258}, {177, 1255}, {178, 1256}, {186, 1257}, {204, 1251},
        {222, 874},  {238, 1250}, {254, 437},  {255, 850},
};

struct CodePageName
{
    int codePage;
    const char *name;
};

// The code pages a document may name, with their decoders.
constexpr CodePageName decoderNames[] = {
        {437, "IBM437"},        {850, "IBM850"},        {852, "IBM852"},
        {866, "IBM866"},        {874, "windows-874"},   {932, "windows-31j"},
        {936, "GBK"},           {949, "windows-949"},   {950, "windows-950"},
        {1250, "windows-1250"}, {1251, "windows-1251"}, {1252, "windows-1252"},
        {1253, "windows-1253"}, {1254, "windows-1254"}, {1255, "windows-1255"},
        {1256, "windows-1256"}, {1257, "windows-1257"}, {1258, "windows-1258"},
        {10000, "macintosh"},   {54936, "GB18030"},     {65001, "UTF-8"},
};

const char *decoderName(int codePage)
{
    for (const CodePageName &entry : decoderNames) {
        if (entry.codePage == codePage)
            return entry.name;
    }
    return nullptr;
}

// Code page 1252 is the one most documents use, so it needs no converter: bytes 0xA0 to 0xFF
// are Latin-1, and 0x80 to 0x9F are these (the five unassigned ones pass through as Windows
// passes them).
constexpr char16_t windows1252High[32]
        = {0x20ac, 0x0081, 0x201a, 0x0192, 0x201e, 0x2026, 0x2020, 0x2021, 0x02c6, 0x2030, 0x0160,
           0x2039, 0x0152, 0x008d, 0x017d, 0x008f, 0x0090, 0x2018, 0x2019, 0x201c, 0x201d, 0x2022,
           0x2013, 0x2014, 0x02dc, 0x2122, 0x0161, 0x203a, 0x0153, 0x009d, 0x017e, 0x0178};

} // namespace

int rtfCodePageOfCharset(int charset)
{
    for (const CharsetCodePage &entry : charsetCodePages) {
        if (entry.charset == charset)
            return entry.codePage;
    }
    return 0;
}

bool rtfKnowsCodePage(int codePage)
{
    return decoderName(codePage) != nullptr;
}

QString RtfTextDecoder::decode(QByteArrayView bytes, int codePage)
{
    const bool ascii = std::all_of(bytes.cbegin(), bytes.cend(),
                                   [](char b) { return static_cast<unsigned char>(b) < 0x80; });
    if (ascii)
        return QString::fromLatin1(bytes);
    if (codePage == 1252) {
        QString decoded(bytes.size(), Qt::Uninitialized);
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            const auto b = static_cast<unsigned char>(bytes[i]);
            decoded[i] = QChar(b >= 0x80 && b < 0xa0 ? windows1252High[b - 0x80] : b);
        }
        return decoded;
    }
    QStringDecoder &decoder = decoderFor(codePage);
    if (!decoder.isValid()) {
        QString decoded = QString::fromLatin1(bytes);
        for (QChar &c : decoded) {
            if (c.unicode() >= 0x80)
                c = QChar::ReplacementCharacter;
        }
        return decoded;
    }
    // A line feed is no trail byte in any code page: a lead byte left without its trail meets
    // it and shows as U+FFFD.
    QString decoded = decoder.decode(bytes);
    decoded += decoder.decode(QByteArrayView("\n"));
    decoder.resetState();
    if (decoded.endsWith(u'\n'))
        decoded.chop(1);
    return decoded;
}

QStringDecoder &RtfTextDecoder::decoderFor(int codePage)
{
    auto found = m_decoders.find(codePage);
    if (found == m_decoders.end()) {
        const char *name = decoderName(codePage);
        found = m_decoders.emplace(codePage, QStringDecoder(name ? name : "windows-1252")).first;
    }
    return found->second;
}
