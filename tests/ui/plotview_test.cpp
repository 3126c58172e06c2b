// The view menu through the real program over a pseudo-terminal: the wave plot fed by received
// lines, and the time stamps before received lines.

#include "app/menus.h"
#include "app/viewcommands.h"
#include "core/colors.h"
#include "plotdata/plotsamples.h"
#include "plot/plotwindow.h"
#include "widgets/terminalbox.h"
#include "support/mainwindowfixture.h"
#include "support/qtprinters.h"

#include <QAction>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QRegularExpression>
#include <QSet>
#include <QTimer>

#include <qcustomplot.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

QByteArray threeChannelLines(int from, int count)
{
    QByteArray lines;
    for (int n = from; n < from + count; ++n) {
        lines += QByteArray::number(std::sin(n / 20.0) * 10, 'f', 3) + ','
                 + QByteArray::number(std::cos(n / 20.0) * 5, 'f', 3) + ','
                 + QByteArray::number(n % 50) + "\r\n";
    }
    return lines;
}

const QRegularExpression &stampPattern()
{
    static const QRegularExpression pattern(u"^\\[\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d\\] $"_s);
    return pattern;
}

} // namespace

class PlotViewTest : public MainWindowFixture
{
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        startWindow();
        openPort();
    }

    PlotWindow *openPlot()
    {
        m_window->menus().plotAction()->trigger();
        return m_window->viewCommands().plotWindow();
    }
};

TEST_F(PlotViewTest, ThreeChannelsGiveThreeTracesInThreeColours)
{
    PlotWindow *plot = openPlot();
    ASSERT_NE(plot, nullptr);
    EXPECT_TRUE(plot->windowTitle().contains(u"波形图"_s));
    // Split mid-line and mixed with a line that is no numbers, as a device's start-up would be.
    const QByteArray lines = "boot ok\r\n" + threeChannelLines(0, 300);
    ASSERT_TRUE(m_pty.writeMaster(lines.left(1001)));
    ASSERT_TRUE(m_pty.writeMaster(lines.mid(1001)));
    ASSERT_TRUE(waitFor([&] { return plot->feed().plotLines() == 300; }, 10000));
    ASSERT_TRUE(waitFor([&] {
        return plot->plot().graphCount() == 3 && plot->plot().graph(0)->dataCount() == 300;
    }));
    EXPECT_EQ(plot->feed().skippedLines(), 1);

    // Each trace shows in its own colour on the picture itself.
    const QImage image = plot->plot().toPixmap(800, 500).toImage();
    QSet<QRgb> colours;
    for (int c = 0; c < 3; ++c) {
        const QRgb colour = plot->plot().graph(c)->pen().color().rgb();
        colours.insert(colour);
        int pixels = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x)
                pixels += image.pixel(x, y) == colour;
        }
        EXPECT_GT(pixels, 100) << "channel " << c + 1 << " is not drawn";
    }
    EXPECT_EQ(colours.size(), 3);
    // Everything also reached the terminal.
    EXPECT_TRUE(waitFor(
            [&] { return box().text().endsWith(u"\r\n"_s) && box().text().count(u'\n') == 301; }));
}

TEST_F(PlotViewTest, WindowKeepsAnsweringAtAThousandLinesASecond)
{
    PlotWindow *plot = openPlot();
    ASSERT_NE(plot, nullptr);
    constexpr int Lines = 3000;
    QByteArray lines;
    for (int n = 0; n < Lines; ++n)
        lines += QByteArray::number(n) + ",1.5,-2.25,3e-3,+.5,6,7,8\r\n";
    // The device, paced at about a thousand lines a second from a thread of its own.
    std::atomic<bool> failed = false;
    std::thread device([&] {
        const int fd = m_pty.masterFd();
        for (int at = 0; at < lines.size() && !failed;) {
            const int piece = std::min<int>(int(lines.size()) - at, 270); // ten lines
            const ssize_t n = ::write(fd, lines.constData() + at, size_t(piece));
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                failed = true;
            at += std::max<int>(int(n), 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    // A timer on the window's thread: it keeps ticking only if the window keeps answering.
    int ticks = 0;
    QTimer heartbeat;
    heartbeat.callOnTimeout([&] { ++ticks; });
    heartbeat.start(10);
    const bool all = waitFor([&] { return plot->feed().plotLines() == Lines; }, 60000);
    device.join();
    ASSERT_FALSE(failed);
    ASSERT_TRUE(all) << plot->feed().plotLines() << " of " << Lines << " lines";
    EXPECT_GT(ticks, 10);
    EXPECT_TRUE(waitFor([&] { return plot->redraws() > 1; }));
}

TEST_F(PlotViewTest, ClosingThePlotLeavesTheTerminalReceiving)
{
    QPointer<PlotWindow> plot = openPlot();
    peerSends(threeChannelLines(0, 5));
    ASSERT_TRUE(waitFor([&] { return plot->feed().plotLines() == 5; }));
    plot->close();
    ASSERT_TRUE(waitFor([&] { return plot.isNull(); }));
    box().clearText();
    peerSends("still here\r\n");
    EXPECT_EQ(box().text(), u"still here\r\n"_s);
    // And it opens afresh.
    PlotWindow *again = openPlot();
    peerSends("1,2\r\n");
    EXPECT_TRUE(waitFor([&] { return again->feed().plotLines() == 1; }));
}

TEST_F(PlotViewTest, TimeStampsStartEveryReceivedLineInTextAndHexMode)
{
    QAction *stamps = m_window->menus().timeStampsAction();
    ASSERT_FALSE(stamps->isChecked());
    stamps->trigger();
    EXPECT_EQ(m_store.read(u"TimeStamps"_s, u"0"_s), u"1"_s);

    // A line split between arrivals gets one stamp; CR LF is one break; a typed line that
    // ended the terminal's line makes the next received text a new line.
    peerSends("ab");
    peerSends("c\r\nde\r\n");
    peerSends("> ");
    type(u"AT"_s);
    pressKey(Qt::Key_Return);
    ASSERT_EQ(m_pty.readMasterExactly(3, 2000), QByteArray("AT\r"));
    peerSends("OK\r\n");
    QStringList received;
    for (const TextRun &run : box().runs()) {
        if (run.color == TerminalColors::Stamp) {
            EXPECT_TRUE(stampPattern().match(run.text).hasMatch()) << run.text.toStdString();
            EXPECT_TRUE(run.received);
            received.append(u"[T]"_s);
        } else if (run.received) {
            received.append(run.text);
        }
    }
    EXPECT_EQ(received.join(QString()), u"[T]abc\n[T]de\n[T]> [T]OK\n"_s);

    click(Menus::HexMode);
    box().clearText();
    // The characters column of a dump shows the line breaks received; they start no line.
    peerSends("1\r\n");
    peerSends("3");
    int stampCount = 0;
    for (const TextRun &run : box().runs())
        stampCount += run.color == TerminalColors::Stamp;
    EXPECT_EQ(stampCount, 2);
    const QStringList lines = box().text().split(u"\r\n"_s, Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    for (const QString &line : lines)
        EXPECT_TRUE(stampPattern().match(line.left(15)).hasMatch()) << line.toStdString();

    stamps->trigger();
    box().clearText();
    peerSends("4");
    EXPECT_FALSE(box().text().startsWith(u'['));
    EXPECT_EQ(m_store.read(u"TimeStamps"_s, u"0"_s), u"0"_s);
}

TEST_F(PlotViewTest, HugeValuesAreDrawnAndNonFiniteOnesLeftOutWithANote)
{
    PlotWindow *plot = openPlot();
    ASSERT_NE(plot, nullptr);
    ASSERT_TRUE(m_pty.writeMaster("1e308 -1e308 nan inf -inf\r\n1 2 3 4 5\r\n"));
    ASSERT_TRUE(waitFor([&] { return plot->feed().plotLines() == 2; }, 10000));
    // The axis reaches both huge values, drawn in units of a power of ten that it names.
    QCPAxis *values = plot->plot().yAxis;
    ASSERT_TRUE(waitFor([&] { return values->label().contains(u"×10^"_s); }, 10000))
            << values->label().toStdString();
    ASSERT_TRUE(waitFor([&] { return plot->plot().graph(0)->dataCount() == 2; }, 10000));
    const double unit = std::pow(10.0, values->label().section(u'^', 1).chopped(1).toInt());
    EXPECT_GE(values->range().upper * unit, 1e308);
    EXPECT_LE(values->range().lower * unit, -1e308);
    // nan, inf and -inf leave gaps, and the window says so.
    bool noted = false;
    for (const QLabel *label : plot->findChildren<QLabel *>())
        noted = noted || label->text().contains(u"3 个值是 nan 或 inf，未画出"_s);
    EXPECT_TRUE(noted);
}
