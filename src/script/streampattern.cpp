#include "script/streampattern.h"

#include <algorithm>
#include <cctype>
#include <cstring>

using namespace Qt::StringLiterals;

namespace {

constexpr char Esc = '%';
constexpr int MaxCaptures = 32;
constexpr int MaxDepth = 200;
constexpr qsizetype Unfinished = -1;
constexpr qsizetype Position = -2;

struct PatternError
{
    QString text;
};

struct OutOfWork
{
};

bool matchClass(int c, int cl)
{
    bool res;
    switch (std::tolower(cl)) {
    case 'a':
        res = std::isalpha(c);
        break;
    case 'c':
        res = std::iscntrl(c);
        break;
    case 'd':
        res = std::isdigit(c);
        break;
    case 'g':
        res = std::isgraph(c);
        break;
    case 'l':
        res = std::islower(c);
        break;
    case 'p':
        res = std::ispunct(c);
        break;
    case 's':
        res = std::isspace(c);
        break;
    case 'u':
        res = std::isupper(c);
        break;
    case 'w':
        res = std::isalnum(c);
        break;
    case 'x':
        res = std::isxdigit(c);
        break;
    default:
        return cl == c;
    }
    return std::isupper(cl) ? !res : res;
}

// p at '[', ec at the closing ']'.
bool matchBracketClass(int c, const char *p, const char *ec)
{
    bool sig = true;
    if (*(p + 1) == '^') {
        sig = false;
        ++p;
    }
    while (++p < ec) {
        if (*p == Esc) {
            ++p;
            if (matchClass(c, uchar(*p)))
                return sig;
        } else if (*(p + 1) == '-' && p + 2 < ec) {
            p += 2;
            if (uchar(*(p - 2)) <= c && c <= uchar(*p))
                return sig;
        } else if (uchar(*p) == c) {
            return sig;
        }
    }
    return !sig;
}

} // namespace

// One attempt of Lua's matcher at one start. Reading at or past the end of the text marks the
// attempt as one that more text could change.
struct StreamPattern::Matcher
{
    Matcher(const char *init, const char *end, const char *patternEnd, qint64 &counter,
            qint64 limit)
        : srcInit(init)
        , srcEnd(end)
        , pEnd(patternEnd)
        , work(counter)
        , workLimit(limit)
    {}

    const char *srcInit;
    const char *srcEnd;
    const char *pEnd;
    qint64 &work;
    qint64 workLimit;
    bool touchedEnd = false;
    int depth = MaxDepth;
    int level = 0;
    struct
    {
        const char *init;
        qsizetype len;
    } capture[MaxCaptures] = {};

    const char *classEnd(const char *p)
    {
        switch (*p++) {
        case Esc:
            if (p == pEnd)
                throw PatternError{u"malformed pattern (ends with '%')"_s};
            return p + 1;
        case '[':
            if (*p == '^')
                ++p;
            do {
                if (p == pEnd)
                    throw PatternError{u"malformed pattern (missing ']')"_s};
                if (*(p++) == Esc && p < pEnd)
                    ++p;
            } while (*p != ']');
            return p + 1;
        default:
            return p;
        }
    }

    bool singleMatch(const char *s, const char *p, const char *ep)
    {
        if (++work > workLimit)
            throw OutOfWork{};
        if (s >= srcEnd) {
            touchedEnd = true;
            return false;
        }
        const int c = uchar(*s);
        switch (*p) {
        case '.':
            return true;
        case Esc:
            return matchClass(c, uchar(*(p + 1)));
        case '[':
            return matchBracketClass(c, p, ep - 1);
        default:
            return uchar(*p) == c;
        }
    }

    const char *matchBalance(const char *s, const char *p)
    {
        if (p >= pEnd - 1)
            throw PatternError{u"malformed pattern (missing arguments to '%b')"_s};
        if (s >= srcEnd) {
            touchedEnd = true;
            return nullptr;
        }
        if (*s != *p)
            return nullptr;
        const char b = *p;
        const char e = *(p + 1);
        int open = 1;
        while (++s < srcEnd) {
            ++work;
            if (*s == e) {
                if (--open == 0)
                    return s + 1;
            } else if (*s == b) {
                ++open;
            }
        }
        touchedEnd = true;
        return nullptr;
    }

    const char *maxExpand(const char *s, const char *p, const char *ep)
    {
        qsizetype i = 0;
        while (singleMatch(s + i, p, ep))
            ++i;
        while (i >= 0) {
            if (const char *res = match(s + i, ep + 1))
                return res;
            --i;
        }
        return nullptr;
    }

    const char *minExpand(const char *s, const char *p, const char *ep)
    {
        for (;;) {
            if (const char *res = match(s, ep + 1))
                return res;
            if (!singleMatch(s, p, ep))
                return nullptr;
            ++s;
        }
    }

    const char *startCapture(const char *s, const char *p, qsizetype what)
    {
        if (level >= MaxCaptures)
            throw PatternError{u"too many captures"_s};
        capture[level].init = s;
        capture[level].len = what;
        ++level;
        const char *res = match(s, p);
        if (!res)
            --level;
        return res;
    }

    const char *endCapture(const char *s, const char *p)
    {
        int l = level - 1;
        while (l >= 0 && capture[l].len != Unfinished)
            --l;
        if (l < 0)
            throw PatternError{u"invalid pattern capture"_s};
        capture[l].len = s - capture[l].init;
        const char *res = match(s, p);
        if (!res)
            capture[l].len = Unfinished;
        return res;
    }

    const char *matchCapture(const char *s, int digit)
    {
        const int l = digit - '1';
        if (l < 0 || l >= level || capture[l].len == Unfinished)
            throw PatternError{u"invalid capture index %%%1"_s.arg(l + 1)};
        const qsizetype len = capture[l].len;
        const qsizetype left = srcEnd - s;
        const qsizetype compared = std::min(left, len);
        if (std::memcmp(capture[l].init, s, size_t(compared)) != 0)
            return nullptr;
        if (left < len) {
            touchedEnd = true;
            return nullptr;
        }
        return s + len;
    }

    const char *match(const char *s, const char *p)
    {
        if (depth-- == 0)
            throw PatternError{u"pattern too complex"_s};
    init:
        if (p != pEnd) {
            switch (*p) {
            case '(':
                s = *(p + 1) == ')' ? startCapture(s, p + 2, Position)
                                    : startCapture(s, p + 1, Unfinished);
                break;
            case ')':
                s = endCapture(s, p + 1);
                break;
            case '$':
                if (p + 1 != pEnd)
                    goto dflt;
                touchedEnd = true;
                s = s == srcEnd ? s : nullptr;
                break;
            case Esc:
                switch (*(p + 1)) {
                case 'b':
                    s = matchBalance(s, p + 2);
                    if (s) {
                        p += 4;
                        goto init;
                    }
                    break;
                case 'f': {
                    p += 2;
                    if (*p != '[')
                        throw PatternError{u"missing '[' after '%f' in pattern"_s};
                    const char *ep = classEnd(p);
                    const int previous = s == srcInit ? 0 : uchar(*(s - 1));
                    if (s >= srcEnd)
                        touchedEnd = true;
                    const int current = s < srcEnd ? uchar(*s) : 0;
                    if (!matchBracketClass(previous, p, ep - 1)
                        && matchBracketClass(current, p, ep - 1)) {
                        p = ep;
                        goto init;
                    }
                    s = nullptr;
                    break;
                }
                case '0':
                case '1':
                case '2':
                case '3':
                case '4':
                case '5':
                case '6':
                case '7':
                case '8':
                case '9':
                    s = matchCapture(s, uchar(*(p + 1)));
                    if (s) {
                        p += 2;
                        goto init;
                    }
                    break;
                default:
                    goto dflt;
                }
                break;
            default:
            dflt : {
                const char *ep = classEnd(p);
                if (!singleMatch(s, p, ep)) {
                    if (*ep == '*' || *ep == '?' || *ep == '-') {
                        p = ep + 1;
                        goto init;
                    }
                    s = nullptr;
                } else {
                    switch (*ep) {
                    case '?':
                        if (const char *res = match(s + 1, ep + 1)) {
                            s = res;
                        } else {
                            p = ep + 1;
                            goto init;
                        }
                        break;
                    case '+':
                        s = maxExpand(s + 1, p, ep);
                        break;
                    case '*':
                        s = maxExpand(s, p, ep);
                        break;
                    case '-':
                        s = minExpand(s, p, ep);
                        break;
                    default:
                        ++s;
                        p = ep;
                        goto init;
                    }
                }
                break;
            }
            }
        }
        ++depth;
        return s;
    }
};

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
