#pragma once

#include "core/textencoding.h"

#include <QByteArrayView>
#include <QString>

#include <array>

// Turns the received byte stream into terminal text in the chosen encoding (code page 936 or
// UTF-8), chunk by chunk, so that the text does not depend on where the port happened to cut
// the stream.
class ReceiveDecoder
{
public:
    // Without joinCutCrLf every line feed is kept, for a reader that pairs CR LF itself.
    explicit ReceiveDecoder(bool joinCutCrLf = true)
        : m_joinCutCrLf(joinCutCrLf)
    {}

    // Text of the chunk. The start of a character at its end waits for the rest in the next
    // chunk; bytes that start no character become one U+FFFD without taking the byte after
    // them; a line feed that completes a CR LF cut between two chunks is dropped, the CR
    // already broke the line.
    QString decode(QByteArrayView chunk);
    // U+FFFD for a character still waiting, else empty; the stream then starts afresh.
    QString flush();
    // Forgets the waiting character and the CR, as when the port is opened again.
    void reset();

    // Bytes waiting from the old encoding are dropped: they would read as something else.
    void setEncoding(TextEncoding encoding);
    TextEncoding encoding() const { return m_encoding; }

private:
    TextEncoding m_encoding = TextEncoding::Gbk;
    // The start of a character cut off at the end of the last chunk; at most three bytes, kept
    // in place since a slow line brings one byte a chunk.
    std::array<char, 4> m_pending{};
    int m_pendingSize = 0;
    bool m_afterCr = false;
    bool m_joinCutCrLf = true;
};
