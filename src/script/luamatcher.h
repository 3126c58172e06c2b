#pragma once

// Lua 5.4's pattern matcher (lstrlib.c's rules), as StreamPattern runs it: one attempt at one
// start, noting whether it read at the end of the text. Included by streampattern.cpp only.

#include "script/streampattern.h"

#include <cctype>
#include <cstring>

using namespace Qt::StringLiterals;
namespace LuaPatternRules {

inline constexpr char Esc = '%';
inline constexpr int MaxCaptures = 32;
inline constexpr int MaxDepth = 200;
inline constexpr qsizetype Unfinished = -1;
inline constexpr qsizetype Position = -2;

struct PatternError
{
    QString text;
};

struct OutOfWork
{
};

inline bool matchClass(int c, int cl)
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
inline bool matchBracketClass(int c, const char *p, const char *ec)
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

} // namespace LuaPatternRules

using namespace LuaPatternRules;

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
