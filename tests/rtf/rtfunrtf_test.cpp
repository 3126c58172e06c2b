#include "rtf/rtfwriter.h"
#include "core/colors.h"

#include "support/textrunprinters.h"

#include <QFile>
#include <QHash>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

// A colour unrtf gave no text: never one the terminal writes.
constexpr RgbColor noColor = 0;

TextRun run(const QString &text, RgbColor color, bool received = false)
{
    return TextRun{text, color, received};
}

// Text and colours of unrtf's HTML, run by run: <font color> tags nest (unrtf closes them
// unevenly, so a close without an open is ignored), <br> is a line break and the line ends of the
// HTML itself are not text.
TextRuns runsOfUnrtfHtml(const QString &html)
{
    TextRuns runs;
    QList<RgbColor> colors;
    const auto append = [&](const QString &text) {
        const RgbColor color = colors.isEmpty() ? noColor : colors.last();
        if (!runs.isEmpty() && runs.last().color == color)
            runs.last().text += text;
        else
            runs.append(run(text, color));
    };
    static const QHash<QString, QString> entities{
            {u"amp"_s, u"&"_s}, {u"lt"_s, u"<"_s}, {u"gt"_s, u">"_s}, {u"quot"_s, u"\""_s}};

    const qsizetype bodyStart = html.indexOf(u"<body>"_s);
    const qsizetype bodyEnd = html.indexOf(u"</body>"_s);
    if (bodyStart < 0 || bodyEnd < bodyStart) {
        ADD_FAILURE() << "no body in unrtf's output:\n" << html.toStdString();
        return runs;
    }
    for (qsizetype i = bodyStart + 6; i < bodyEnd; ++i) {
        const QChar c = html[i];
        if (c == u'<') {
            const qsizetype end = html.indexOf(u'>', i);
            const QString tag = html.mid(i + 1, end - i - 1);
            i = end;
            if (tag == u"br"_s) {
                append(u"\n"_s);
            } else if (tag.startsWith(u"font"_s)) {
                const qsizetype at = tag.indexOf(u"color=\"#"_s);
                colors.append(at >= 0 ? rgbColor(0, 0, 0) | tag.mid(at + 8, 6).toUInt(nullptr, 16)
                                      : (colors.isEmpty() ? noColor : colors.last()));
            } else if (tag == u"/font"_s && !colors.isEmpty()) {
                colors.removeLast();
            }
        } else if (c == u'&') {
            const qsizetype end = html.indexOf(u';', i);
            const QString name = html.mid(i + 1, end - i - 1);
            i = end;
            if (name.startsWith(u'#'))
                append(QString(QChar(char16_t(name.mid(1).toUInt()))));
            else if (entities.contains(name))
                append(entities.value(name));
            else
                ADD_FAILURE() << "unexpected entity &" << name.toStdString() << ";";
        } else if (c != u'\n') {
            append(QString(c));
        }
    }
    return runs;
}

} // namespace

// An outside reader must see in our files what our own reader sees: the same text in the same
// colours. unrtf is the reader at hand on every build machine.
TEST(RtfUnrtf, ReadsOurTextAndColoursRunByRun)
{
    const QString unrtf = QStandardPaths::findExecutable(u"unrtf"_s);
    ASSERT_FALSE(unrtf.isEmpty())
            << "unrtf is not installed (Debian package unrtf); without it our workspace files "
               "cannot be checked against an outside reader";

    using namespace TerminalColors;
    const TextRuns runs{
            run(u"AT+GMR"_s, Typed),
            run(u" [6 bytes]"_s, Count),
            run(u"\n"_s, Typed),
            run(u"+GMR: 你好，世界 V1.0\nOK\n"_s, Received, true),
            run(u"端口未打开"_s, Notice),
            run(u" 41 42 {x} \\ <a&b> \"q\"\n"_s, Echo),
            run(u"收到收到ab串口"_s, Received, true),
            run(u"12 typed digits"_s, Typed),
    };

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile file(dir.filePath(u"workspace.rtf"_s));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(writeRtf(runs));
    file.close();

    QProcess process;
    process.start(unrtf, {u"--html"_s, file.fileName()});
    ASSERT_TRUE(process.waitForFinished(30000)) << process.errorString().toStdString();
    ASSERT_EQ(process.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();

    // unrtf knows nothing of the received mark; text and colours it must keep.
    TextRuns expected;
    for (const TextRun &r : runs) {
        if (!expected.isEmpty() && expected.last().color == r.color)
            expected.last().text += r.text;
        else
            expected.append(run(r.text, r.color));
    }
    EXPECT_EQ(runsOfUnrtfHtml(QString::fromUtf8(process.readAllStandardOutput())), expected);
}
