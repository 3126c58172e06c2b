#include "rtf/rtflexer.h"

#include <algorithm>

namespace {

// Numeric parameters are clamped here: no real document needs more, and nothing overflows.
constexpr qint64 maxParameter = 1'000'000'000;

constexpr std::string_view header = "{\\rtf";
constexpr std::string_view byteOrderMark = "\xef\xbb\xbf";

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isWhiteSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A byte of the body that is neither syntax nor a line end.
bool isText(char c)
{
    return c != '\\' && c != '{' && c != '}' && c != '\r' && c != '\n';
}

} // namespace

RtfLexer::RtfLexer(Sink &sink)
    : m_sink(sink)
{}

void RtfLexer::feed(QByteArrayView data)
{
    const char *p = data.data();
    const char *const end = p + data.size();
    while (p < end && m_state != State::Done) {
        // The bulk of a document is text, words and the data of pictures: each is taken whole.
        if (m_state == State::Text && isText(*p)) {
            const char *run = p;
            while (p < end && isText(*p))
                ++p;
            m_sink.text(QByteArrayView(run, p - run));
            continue;
        }
        if (m_state == State::Word && isLetter(*p)) {
            for (; p < end && isLetter(*p); ++p)
                wordLetter(*p);
            continue;
        }
        if ((m_state == State::Word || m_state == State::Digits) && isDigit(*p)) {
            for (; p < end && isDigit(*p); ++p)
                m_parameter = std::min(m_parameter * 10 + (*p - '0'), maxParameter);
            m_hasParameter = true;
            m_state = State::Digits;
            continue;
        }
        if (m_state == State::Binary) {
            const qint64 skipped = std::min<qint64>(m_binaryLeft, end - p);
            p += skipped;
            m_binaryLeft -= skipped;
            if (m_binaryLeft == 0)
                m_state = State::Text;
            continue;
        }
        lex(*p++);
    }
}

void RtfLexer::finish()
{
    switch (m_state) {
    case State::Header:
        m_notRtf = true;
        break;
    case State::Word:
    case State::Digits:
        endWord();
        break;
    case State::Sign:
        endWord();
        if (m_state == State::Text)
            m_sink.text("-");
        break;
    default:
        // A backslash or \' with the data ended behind it stands for nothing.
        break;
    }
    m_state = State::Done;
}

void RtfLexer::stop()
{
    m_state = State::Done;
}

void RtfLexer::lex(char c)
{
    switch (m_state) {
    case State::Header:
        headerByte(c);
        break;
    case State::Text:
        textByte(c);
        break;
    case State::Escape:
        if (isLetter(c)) {
            m_wordLength = 0;
            m_hasParameter = false;
            m_negative = false;
            m_parameter = 0;
            wordLetter(c);
            m_state = State::Word;
        } else if (c == '\'') {
            m_state = State::HexFirst;
        } else {
            m_state = State::Text;
            m_sink.controlSymbol(c);
        }
        break;
    case State::Word:
        if (isLetter(c)) {
            wordLetter(c);
        } else if (c == '-') {
            m_state = State::Sign;
        } else {
            parameterByte(c);
        }
        break;
    case State::Sign:
        if (isDigit(c)) {
            m_negative = true;
            parameterByte(c);
        } else {
            // Not a sign after all: the word had no parameter, and the '-' is text.
            endWord();
            if (m_state == State::Text)
                m_sink.text("-");
            lex(c);
        }
        break;
    case State::Digits:
        parameterByte(c);
        break;
    case State::HexFirst:
        m_state = State::Text;
        m_hexHigh = hexValue(c);
        if (m_hexHigh >= 0) {
            m_state = State::HexSecond;
        } else {
            // Damaged: the symbol stands for nothing, and the byte is read for what it is.
            lex(c);
        }
        break;
    case State::HexSecond:
        m_state = State::Text;
        if (const int low = hexValue(c); low >= 0) {
            m_sink.hexByte(char(m_hexHigh * 16 + low));
        } else {
            lex(c);
        }
        break;
    case State::Binary:
    case State::Done:
        break;
    }
}

void RtfLexer::headerByte(char c)
{
    // A byte-order mark may come first, then white space, then "{\rtf".
    if (m_markMatched >= 0 && m_markMatched < int(byteOrderMark.size())) {
        if (c == byteOrderMark[size_t(m_markMatched)]) {
            ++m_markMatched;
            return;
        }
        if (m_markMatched > 0) {
            m_notRtf = true;
            m_state = State::Done;
            return;
        }
    }
    m_markMatched = -1;
    if (m_headerMatched == 0 && isWhiteSpace(c))
        return;
    if (c != header[size_t(m_headerMatched)]) {
        m_notRtf = true;
        m_state = State::Done;
        return;
    }
    if (++m_headerMatched < int(header.size()))
        return;
    m_state = State::Text;
    for (const char h : header)
        lex(h);
}

void RtfLexer::textByte(char c)
{
    switch (c) {
    case '{':
        ++m_depth;
        m_sink.groupStart();
        break;
    case '}':
        --m_depth;
        m_sink.groupEnd();
        if (m_depth == 0) {
            m_complete = true;
            m_state = State::Done;
        }
        break;
    case '\\':
        m_state = State::Escape;
        break;
    case '\r':
    case '\n':
        // Line ends only wrap the file.
        break;
    default:
        m_sink.text(QByteArrayView(&c, 1));
        break;
    }
}

void RtfLexer::wordLetter(char c)
{
    // Only as many letters as a known word may have are kept.
    if (m_wordLength < qsizetype(sizeof m_word))
        m_word[m_wordLength++] = c;
}

// A byte after a control word's letters, or in its parameter.
void RtfLexer::parameterByte(char c)
{
    if (isDigit(c)) {
        m_hasParameter = true;
        m_parameter = std::min(m_parameter * 10 + (c - '0'), maxParameter);
        m_state = State::Digits;
        return;
    }
    // A space ends the word and belongs to it; anything else is read on its own.
    endWord();
    if (c != ' ')
        lex(c);
}

void RtfLexer::endWord()
{
    m_state = State::Text;
    const std::string_view name(m_word, size_t(m_wordLength));
    const qint64 parameter = m_negative ? -m_parameter : m_parameter;
    m_sink.controlWord(name, m_hasParameter, parameter);
    // The count of bytes behind \binN is data, not text; a count past the end means a
    // truncated document.
    if (name == "bin" && m_hasParameter && parameter > 0 && m_state == State::Text) {
        m_binaryLeft = parameter;
        m_state = State::Binary;
    }
}
