#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Finds the start of a ZMODEM transfer in what the terminal receives: "**" ZDLE "B00" (ZRQINIT,
// sz begins to send) or "**" ZDLE "B01" (ZRINIT, rz waits for files). Reads pieces of any size
// and finds a start split across them; looks for ZDLE with a byte search, so plain text costs
// next to nothing.
class ZmodemDetector
{
public:
    enum class Found { Nothing, Sender, Receiver };
    struct Hit
    {
        Found found = Found::Nothing;
        // Where in the piece the start begins; 0 when it began in an earlier piece.
        qsizetype at = -1;
    };

    Hit feed(QByteArrayView bytes);
    void reset() { m_tail.clear(); }

private:
    // The last bytes of what came before, which a start may continue.
    QByteArray m_tail;
};
