// Hostile input, exhaustively where the space is small: every UTF-16 code unit typed, every
// chunk of one or two bytes dumped in hex, every pair of received bytes cut between them.

#include "receive/hextext.h"
#include "core/lineconvert.h"
#include "receive/receivedecoder.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

// The bytes a hexadecimal dump line names in its codes: two digits a byte, four a pair.
QByteArray codesOf(const QString &line)
{
    const qsizetype end = line.indexOf(u':');
    QByteArray bytes;
    for (const QString &group : line.first(qMax<qsizetype>(0, end)).split(u' ', Qt::SkipEmptyParts))
        bytes += QByteArray::fromHex(group.toLatin1());
    return bytes;
}

// One insertion's text as the terminal shows it: every kind of line end is one break.
QString shown(QString text)
{
    text.replace(u"\r\n"_s, u"\n"_s);
    text.replace(u'\r', u'\n');
    return text;
}

} // namespace

TEST(BadInput, EveryTypedCodeUnitReachesTheWireAndCountsOnce)
{
    int silent = 0;
    int miscounted = 0;
    for (int unit = 0; unit <= 0xFFFF; ++unit) {
        const QString typed{QChar(char16_t(unit))};
        const ConvertedLine line = convertLine(typed, false);
        // A carriage return is dropped; anything else is one character and at least one byte,
        // lone surrogates and characters beyond the code page included.
        const bool cr = unit == '\r';
        silent += !cr && line.bytes.isEmpty();
        miscounted += line.count != (cr ? 0 : 1);
        // Between an escape's brackets it makes no escape ("<6?5>" could only be 600 and up).
        const ConvertedLine escaped = convertLine(u"<6"_s + typed + u"5>"_s, false);
        if (!cr && unit != '<' && unit != '>')
            miscounted += escaped.count != 5;
    }
    EXPECT_EQ(silent, 0) << "typed characters that send nothing";
    EXPECT_EQ(miscounted, 0);
}

TEST(BadInput, EveryOneAndTwoByteChunkDumpsCodesThatReadBackAsTheChunk)
{
    int wrong = 0;
    for (int a = 0; a < 256; ++a) {
        const QByteArray one(1, char(a));
        wrong += codesOf(hexDumpLine(one)) != one || !hexDumpLine(one).endsWith(u"\r\n"_s);
        for (int b = 0; b < 256; ++b) {
            const QByteArray two = one + char(b);
            if (codesOf(hexDumpLine(two)) != two) {
                ++wrong;
                ADD_FAILURE() << two.toHex(' ').toStdString() << " dumps as "
                              << hexDumpLine(two).toStdString();
            }
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST(BadInput, EveryPairOfBytesShowsTheSameWhetherCutBetweenThemOrNot)
{
    // What came before the pair: nothing, a CR whose LF may follow, a lead byte waiting.
    const QByteArray contexts[] = {QByteArray(), "\r", "\x81", "a\xb0"};
    int wrong = 0;
    for (const QByteArray &before : contexts) {
        for (int a = 0; a < 256; ++a) {
            for (int b = 0; b < 256; ++b) {
                const QByteArray stream = before + char(a) + char(b);
                ReceiveDecoder whole;
                // Decoded before the flush: an expression would leave their order open.
                QString once = shown(whole.decode(stream));
                once += whole.flush();
                ReceiveDecoder cut;
                QString twice = shown(cut.decode(stream.first(stream.size() - 1)));
                twice += shown(cut.decode(stream.last(1)));
                twice += cut.flush();
                if (once != twice && ++wrong < 10)
                    ADD_FAILURE() << stream.toHex(' ').toStdString();
            }
        }
    }
    EXPECT_EQ(wrong, 0);
}
