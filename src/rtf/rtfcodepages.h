#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

#include <map>

// The code pages of a Rich Text Format document: the one a font's charset (\fcharset) stands
// for, whether a code page named by \ansicpg or \cpg is one the reader decodes, and the decoding
// of the bytes a document gives in one.
int rtfCodePageOfCharset(int charset);
bool rtfKnowsCodePage(int codePage);

// Decodes text of any known code page, keeping each converter it opens for the next text. Only
// the code pages of a fixed list get one, so a hostile document cannot open them by the
// thousand.
class RtfTextDecoder
{
public:
    // The bytes must not end inside a character; a lead byte left without its trail shows as
    // U+FFFD instead of vanishing or joining unrelated text. A code page the system has no
    // converter for shows its ASCII and U+FFFD for the rest.
    QString decode(QByteArrayView bytes, int codePage);

private:
    QStringDecoder &decoderFor(int codePage);

    std::map<int, QStringDecoder> m_decoders;
};
