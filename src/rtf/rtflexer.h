#pragma once

#include "rtf/rtfcontrolwords.h"

#include <QByteArrayView>

#include <string_view>

// Cuts a Rich Text Format document into its tokens, for the reader that gives them meaning. The
// document may come in pieces cut anywhere: a token cut in two is held in a few bytes of state
// until its end arrives, so the tokens are the same however the data is cut, and nothing of the
// data is kept.
class RtfLexer
{
public:
    class Sink
    {
    public:
        virtual ~Sink() = default;
        virtual void groupStart() = 0;
        virtual void groupEnd() = 0;
        // A name longer than rtfMaxWordLength comes cut to one letter more, so that it is no
        // known word. The parameter is clamped to a billion either way.
        virtual void controlWord(std::string_view name, bool hasParameter, qint64 parameter) = 0;
        // A backslash and one other character ("\~", "\*", "\{"); \' comes as hexByte.
        virtual void controlSymbol(char symbol) = 0;
        virtual void hexByte(char byte) = 0;
        // Bytes of the body as they stand, without syntax and without the line ends that only
        // wrap the file; other control characters are left in.
        virtual void text(QByteArrayView bytes) = 0;
    };

    explicit RtfLexer(Sink &sink);

    void feed(QByteArrayView data);
    // The end of the data: a word cut off there is finished as it stands.
    void finish();
    // No more tokens, whatever data comes: the reader found the document damaged.
    void stop();

    // The data does not start with "{\rtf" after white space or a UTF-8 byte-order mark.
    bool notRtf() const { return m_notRtf; }
    // The outermost group has closed; what follows is not part of the document.
    bool complete() const { return m_complete; }

private:
    // Where the lexer stands between two bytes; a piece of the document may end in any of them.
    enum class State : quint8 {
        Header,    // before "{\rtf" has been seen
        Text,      // between tokens
        Escape,    // after a backslash
        Word,      // in the letters of a control word
        Sign,      // after a word, a '-' that is a sign only if a digit follows
        Digits,    // in a control word's parameter
        HexFirst,  // after \'
        HexSecond, // after \' and one hex digit
        Binary,    // in the data of \binN
        Done,      // after the outermost group, or stopped
    };

    void lex(char c);
    void headerByte(char c);
    void textByte(char c);
    void wordLetter(char c);
    void parameterByte(char c);
    void endWord();

    Sink &m_sink;
    State m_state = State::Header;
    bool m_notRtf = false;
    bool m_complete = false;
    int m_depth = 0;
    int m_markMatched = 0; // bytes of the byte-order mark seen; -1 once another byte came
    int m_headerMatched = 0;
    char m_word[rtfMaxWordLength + 1] = {};
    qsizetype m_wordLength = 0;
    bool m_hasParameter = false;
    bool m_negative = false;
    qint64 m_parameter = 0;
    int m_hexHigh = -1;
    qint64 m_binaryLeft = 0;
};
