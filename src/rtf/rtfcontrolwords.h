#pragma once

#include <QtGlobal>

#include <string_view>

// What a control word of a Rich Text Format document does for a reader that wants only the
// visible text, its colours and the received mark.
enum class RtfAction : quint8 {
    Character,
    LineBreak,
    Tab,
    Cell,
    Row,
    Unicode,
    UnicodeSkip,
    Font,
    FontCharset,
    FontCodePage,
    DefaultFont,
    DocumentCodePage,
    Ansi,
    Mac,
    Pc,
    Pca,
    Color,
    Plain,
    Protect,
    Hidden,
    Red,
    Green,
    Blue,
    FontTable,
    ColorTable,
    Binary,
    SkipDestination,
};

struct RtfWord
{
    RtfAction action;
    // The character a Character word stands for.
    char16_t character = 0;
};

// The format limits control words to 32 letters; longer ones are nobody's and are ignored.
inline constexpr qsizetype rtfMaxWordLength = 32;

// The control words the reader acts on, with the destinations whose text is not shown; nullptr
// for every other word, which the reader passes over.
const RtfWord *rtfControlWord(std::string_view name);
