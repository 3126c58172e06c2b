#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

// A Lua pattern (or plain text) searched in text that keeps arriving: each call to find() looks
// at the same text grown at its end, and work done on the earlier text is not done again. A start
// that failed without needing a character beyond the text is dead for good; only the starts that
// ran into the end (a "%d+" at the last digit so far) are tried again when more arrives. The
// matching rules are Lua 5.4's string.find, so a script's pattern means what Lua's manual says.
class StreamPattern
{
public:
    struct Match
    {
        qsizetype start = 0;
        qsizetype end = 0;
        // The captures' texts; a position capture is its place in the match, counted from 1.
        QList<QByteArray> captures;
        QList<qsizetype> positions;
    };

    StreamPattern(const QByteArray &pattern, bool plain);

    // Why the pattern cannot be used ("malformed pattern ..."), or empty.
    QString error() const { return m_error; }
    // The first match in text, which must be what the previous call saw plus what came since.
    std::optional<Match> find(QByteArrayView text);
    // The front of the text was dropped (a match consumed it, or it overflowed): positions move.
    void dropFront(qsizetype count);
    // Starts again on new text.
    void reset();
    // How much matching the last find() did, in characters compared; for tests of the cost.
    qint64 lastWork() const { return m_work; }
    // The last find() stopped at its share of work before it was through; call it again soon,
    // with no new text needed.
    bool unfinished() const { return m_unfinished; }

    struct Matcher;

private:
    std::optional<Match> tryAt(Matcher &m, QByteArrayView text, qsizetype start, bool &touchedEnd);

    QByteArray m_pattern;
    bool m_plain = false;
    bool m_anchored = false;
    // The byte every match begins with, when there is one; -1 otherwise.
    int m_first = -1;
    QString m_error;
    // Every start below m_next has been tried; of those only m_live may still match.
    qsizetype m_next = 0;
    QList<qsizetype> m_live;
    qint64 m_work = 0;
    bool m_unfinished = false;
};
