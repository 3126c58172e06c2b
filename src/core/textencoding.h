#pragma once

#include <QByteArrayView>
#include <QString>

// The encoding that text on the line is in: code page 936 (GBK), the desktop's own, or UTF-8,
// which most boards running Linux speak today. The user picks it in the view menu; received
// text, typed lines and loop send all follow the one choice.
enum class TextEncoding { Gbk, Utf8 };

namespace TextEncodings {
// The text the settings file keeps, "GBK" or "UTF-8", which is also the name the status strip
// shows.
QString name(TextEncoding encoding);
// A stored text that names no encoding (an old or edited file) keeps the default, GBK.
TextEncoding fromName(const QString &name);

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
