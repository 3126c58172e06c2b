#pragma once

#include "core/textencoding.h"

#include <QByteArrayView>

// Where one character of received text ends, in either encoding: what the decoder and the
// hexadecimal dump both go by, so that they never disagree on a character's bytes.
namespace TextEncodings {
// How the bytes at the start of a stream read in an encoding.
struct CharRead
{
    enum Kind {
        // length bytes form the character code.
        Complete,
        // All the bytes given begin a character that needs more of them.
        Incomplete,
        // The first length bytes (one or more) begin no character: they stand for one U+FFFD.
        Invalid,
    };
    Kind kind;
    int length;
    char32_t code;
};
// Reads the character that starts at the first of bytes (never empty).
CharRead readChar(TextEncoding encoding, QByteArrayView bytes);
// The longest a character takes in the encoding.
int maxCharBytes(TextEncoding encoding);
} // namespace TextEncodings
