#include "receive/hextext.h"

#include "receive/charreader.h"

using namespace Qt::StringLiterals;

namespace {

constexpr char16_t HexDigits[] = u"0123456789ABCDEF";

void appendDigits(QString &out, quint8 byte)
{
    out.append(QChar(HexDigits[byte >> 4]));
    out.append(QChar(HexDigits[byte & 0x0F]));
}

void appendCode(QString &out, quint8 byte)
{
    appendDigits(out, byte);
    out.append(u' ');
}

} // namespace

QString hexCode(quint8 byte)
{
    QString out;
    out.reserve(3);
    appendCode(out, byte);
    return out;
}

QString hexCodes(QByteArrayView bytes)
{
    QString out;
    out.reserve(bytes.size() * 3);
    for (char b : bytes)
        appendCode(out, quint8(b));
    return out;
}

QChar hexViewChar(quint8 byte)
{
    return byte >= 33 && byte <= 126 ? QChar(char16_t(byte)) : QChar(u'.');
}

QString hexViewLine(QByteArrayView upTo24Bytes)
{
    Q_ASSERT(upTo24Bytes.size() <= 24);
    QString out = hexCodes(upTo24Bytes);
    out.reserve(upTo24Bytes.size() * 4 + 4);
    out.append(u" :"_s);
    for (char b : upTo24Bytes)
        out.append(hexViewChar(quint8(b)));
    out.append(u"\r\n"_s);
    return out;
}

QString sendEchoText(QByteArrayView bytes, int &column)
{
    Q_ASSERT(column >= 0 && column < 16);
    QString out;
    out.reserve(bytes.size() * 3 + (bytes.size() / 16 + 1) * 2);
    for (char b : bytes) {
        appendCode(out, quint8(b));
        if (++column == 16) {
            column = 0;
            out.append(u"\r\n"_s);
        }
    }
    return out;
}

QString hexDumpLine(QByteArrayView chunk, TextEncoding encoding)
{
    using TextEncodings::CharRead;
    QString codes;
    QString text;
    codes.reserve(chunk.size() * 3);
    text.reserve(chunk.size());
    for (qsizetype i = 0; i < chunk.size();) {
        const CharRead read = TextEncodings::readChar(encoding, chunk.sliced(i));
        if (read.kind == CharRead::Complete) {
            // A character's bytes stand together under one blank, as the text shows them as one.
            for (int k = 0; k < read.length; ++k)
                appendDigits(codes, quint8(chunk[i + k]));
            codes.append(u' ');
            text.append(QString::fromUcs4(&read.code, 1));
            i += read.length;
        } else {
            // A byte that starts no character here is shown as itself, and the next is read
            // afresh, so that no byte is hidden in a group it does not belong to.
            appendCode(codes, quint8(chunk[i]));
            text.append(QChar::ReplacementCharacter);
            ++i;
        }
    }
    return codes + u": "_s + text + u"\r\n"_s;
}
