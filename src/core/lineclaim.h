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

// What looks at the line while nobody has claimed it, for a transfer that the far end begins
// (sz or rz on a board's console).
class LineWatcher
{
public:
    virtual ~LineWatcher() = default;
    // Bytes the terminal is about to show. When a transfer begins in them and has claimed the
    // line, returns where: what comes before is shown, the rest goes to the one who claimed it.
    // -1 otherwise.
    virtual qsizetype watch(QByteArrayView bytes) = 0;
};

// Who has the line at the moment: the receive pipeline asks it for every chunk, after the capture
// has recorded the chunk, so that a capture that is on still records everything that came off the
// line while the terminal shows none of the protocol.
class LineClaim
{
public:
    LineTaker *taker() const { return m_taker; }
    LineWatcher *watcher() const { return m_watcher; }
    void setWatcher(LineWatcher *watcher) { m_watcher = watcher; }
    void claim(LineTaker *taker) { m_taker = taker; }
    void release(LineTaker *taker)
    {
        if (m_taker == taker)
            m_taker = nullptr;
    }

private:
    LineTaker *m_taker = nullptr;
    LineWatcher *m_watcher = nullptr;
};
