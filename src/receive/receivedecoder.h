#pragma once

#include <QByteArrayView>
#include <QString>

// Turns the received byte stream into terminal text in code page 936, chunk by chunk, so that
// the text does not depend on where the port happened to cut the stream.
class ReceiveDecoder
{
public:
    // Without joinCutCrLf every line feed is kept, for a reader that pairs CR LF itself.
    explicit ReceiveDecoder(bool joinCutCrLf = true)
        : m_joinCutCrLf(joinCutCrLf)
    {}

    // Text of the chunk. A lead byte at its end waits for its trail in the next chunk; a byte
    // that starts no character becomes U+FFFD without taking the byte after it; a line feed
    // that completes a CR LF cut between two chunks is dropped, the CR already broke the line.
    QString decode(QByteArrayView chunk);
    // U+FFFD for a lead byte still waiting, else empty; the stream then starts afresh.
    QString flush();
    // Forgets the waiting lead byte and the CR, as when the port is opened again.
    void reset();

private:
    int m_pendingLead = -1;
    bool m_afterCr = false;
    bool m_joinCutCrLf = true;
};
