#include "script/streampattern.h"
#include "script/luamatcher.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// Runs the checks Lua makes while matching, once, so that a bad pattern is refused when the
// script asks for it and not only when text happens to reach the faulty part.
QString patternFault(const QByteArray &pattern)
{
    const char *p = pattern.constData();
    const char *end = p + pattern.size();
    qint64 work = 0;
    StreamPattern::Matcher m{p, p, end, work, 0};
    QList<bool> open;
    try {
        if (p < end && *p == '^')
            ++p;
        while (p < end) {
            switch (*p) {
            case '(':
                if (open.size() >= MaxCaptures)
                    return u"too many captures"_s;
                if (p + 1 < end && *(p + 1) == ')') {
                    open.append(false);
                    p += 2;
                } else {
                    open.append(true);
                    ++p;
                }
                continue;
            case ')': {
                const qsizetype last = open.lastIndexOf(true);
                if (last < 0)
                    return u"invalid pattern capture"_s;
                open[last] = false;
                ++p;
                continue;
            }
            case Esc:
                if (p + 1 == end)
                    return u"malformed pattern (ends with '%')"_s;
                if (*(p + 1) == 'b') {
                    if (p + 3 >= end)
                        return u"malformed pattern (missing arguments to '%b')"_s;
                    p += 4;
                    continue;
                }
                if (*(p + 1) == 'f') {
                    if (p + 2 == end || *(p + 2) != '[')
                        return u"missing '[' after '%f' in pattern"_s;
                    p = m.classEnd(p + 2);
                    continue;
                }
                if (std::isdigit(uchar(*(p + 1)))) {
                    const int l = *(p + 1) - '1';
                    if (l < 0 || l >= open.size() || open[l])
                        return u"invalid capture index %%%1"_s.arg(l + 1);
                    p += 2;
                    continue;
                }
                break;
            default:
                break;
            }
            p = m.classEnd(p);
            if (p < end && (*p == '*' || *p == '+' || *p == '-' || *p == '?'))
                ++p;
        }
    } catch (const PatternError &e) {
        return e.text;
    }
    if (open.contains(true))
        return u"unfinished capture"_s;
    return QString();
}

// Matching stops after this many comparisons in one call and goes on at the next, so that a
// pattern that backtracks badly over a long line cannot hold the window.
constexpr qint64 WorkPerCall = 20'000'000;

} // namespace

StreamPattern::StreamPattern(const QByteArray &pattern, bool plain)
    : m_pattern(pattern)
    , m_plain(plain)
{
    if (!m_plain) {
        m_error = patternFault(m_pattern);
        m_anchored = m_pattern.startsWith('^');
        // A pattern that must begin with one certain byte lets the search jump between
        // occurrences of it: any other start fails at its first byte.
        static const QByteArrayView special = "^$*+?.([%-)]";
        if (!m_anchored && !m_pattern.isEmpty() && !special.contains(m_pattern[0])
            && !(m_pattern.size() > 1 && QByteArrayView("*?-").contains(m_pattern[1])))
            m_first = uchar(m_pattern[0]);
    }
}

void StreamPattern::reset()
{
    m_next = 0;
    m_live.clear();
    m_unfinished = false;
}

void StreamPattern::dropFront(qsizetype count)
{
    m_next = std::max<qsizetype>(0, m_next - count);
    QList<qsizetype> live;
    for (qsizetype start : std::as_const(m_live)) {
        if (start >= count)
            live.append(start - count);
    }
    m_live = live;
    // An anchored pattern was tied to the old front.
    if (m_anchored && count > 0) {
        m_next = 0;
        m_live.clear();
    }
}

std::optional<StreamPattern::Match> StreamPattern::find(QByteArrayView text)
{
    m_work = 0;
    m_unfinished = false;
    if (!m_error.isEmpty())
        return std::nullopt;
    if (m_plain) {
        const qsizetype at = text.indexOf(QByteArrayView(m_pattern), m_next);
        m_work = text.size() - m_next;
        if (at >= 0)
            return Match{at, at + m_pattern.size(), {}, {}};
        // A match can still begin in the last characters, which the next text may complete.
        m_next = std::max(m_next, text.size() - m_pattern.size() + 1);
        return std::nullopt;
    }

    const char *src = text.data();
    Matcher matcher{src, src + text.size(), m_pattern.constData() + m_pattern.size(), m_work,
                    WorkPerCall};
    try {
        // The starts that ran into the end last time come first: they lie before the new ones.
        for (qsizetype i = 0; i < m_live.size();) {
            bool touched = false;
            if (std::optional<Match> m = tryAt(matcher, text, m_live[i], touched))
                return m;
            if (touched)
                ++i;
            else
                m_live.removeAt(i);
        }
        const qsizetype lastStart = m_anchored ? 0 : text.size();
        while (m_next <= lastStart) {
            if (m_first >= 0) {
                const qsizetype at = text.indexOf(char(m_first), m_next);
                if (at < 0) {
                    // The end itself stays to be tried: the byte may come next.
                    m_work += text.size() - m_next;
                    m_next = text.size();
                    break;
                }
                m_next = at;
            }
            bool touched = false;
            std::optional<Match> m = tryAt(matcher, text, m_next, touched);
            if (m)
                return m;
            if (touched)
                m_live.append(m_next);
            ++m_next;
        }
    } catch (const OutOfWork &) {
        m_unfinished = true;
    }
    return std::nullopt;
}

std::optional<StreamPattern::Match> StreamPattern::tryAt(Matcher &m, QByteArrayView text,
                                                         qsizetype start, bool &touchedEnd)
{
    const char *src = text.data();
    const char *pattern = m_pattern.constData() + (m_anchored ? 1 : 0);
    m.touchedEnd = false;
    m.depth = MaxDepth;
    m.level = 0;
    const char *end = nullptr;
    try {
        end = m.match(src + start, pattern);
    } catch (const PatternError &e) {
        // Past the checks made up front only the depth is left to fail.
        m_error = e.text;
        touchedEnd = false;
        return std::nullopt;
    }
    touchedEnd = m.touchedEnd;
    if (!end)
        return std::nullopt;
    Match found{start, end - src, {}, {}};
    for (int i = 0; i < m.level; ++i) {
        if (m.capture[i].len == Position) {
            found.positions.append(m.capture[i].init - src - start + 1);
            found.captures.append(QByteArray());
        } else {
            found.captures.append(QByteArray(m.capture[i].init, m.capture[i].len));
            found.positions.append(0);
        }
    }
    return found;
}
