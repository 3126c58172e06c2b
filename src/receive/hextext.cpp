#include "receive/hextext.h"

#include "receive/codepage936.h"

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

QString hexDumpLine(QByteArrayView chunk)
{
    QString codes;
    QString text;
    codes.reserve(chunk.size() * 3);
    text.reserve(chunk.size());
    for (qsizetype i = 0; i < chunk.size(); ++i) {
        const auto byte = quint8(chunk[i]);
        if (CodePage936::isLeadByte(byte) && i + 1 < chunk.size()) {
            const auto trail = quint8(chunk[i + 1]);
            const QChar pair = CodePage936::pairChar(byte, trail);
            if (!pair.isNull()) {
                appendDigits(codes, byte);
                appendCode(codes, trail);
                text.append(pair);
                ++i;
                continue;
            }
        }
        appendCode(codes, byte);
        text.append(CodePage936::singleChar(byte));
    }
    return codes + u": "_s + text + u"\r\n"_s;
}
