#pragma once

#include <QByteArrayView>

// What takes the bytes from the line in the terminal's place while it talks a protocol with the
// far end (a file transfer).
class LineTaker
{
public:
    virtual ~LineTaker() = default;
    // Bytes as they came off the line; returns how many from the front it took. The rest (the
    // device talking again once the transfer has ended) goes to the terminal as usual.
    virtual qsizetype takeFromLine(QByteArrayView bytes) = 0;
};

// Who has the line at the moment: the receive pipeline asks it for every chunk, after the capture
// has recorded the chunk, so that a capture that is on still records everything that came off the
// line while the terminal shows none of the protocol.
class LineClaim
{
public:
    LineTaker *taker() const { return m_taker; }
    void claim(LineTaker *taker) { m_taker = taker; }
    void release(LineTaker *taker)
    {
        if (m_taker == taker)
            m_taker = nullptr;
    }

private:
    LineTaker *m_taker = nullptr;
};
