#include "widgets/statusstrip.h"

#include "support/fakecommport.h"
#include "support/memorysettingsstore.h"
#include "support/testapp.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPaintEvent>
#include <QPushButton>
#include <QRegion>
#include <QSignalSpy>
#include <QTest>
#include <QTime>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// Collects what a widget paints, apart from grabs, and the line it was painted with.
class PaintRecorder : public QObject
{
public:
    explicit PaintRecorder(StatusStrip &strip)
        : m_strip(strip)
    {
        m_strip.installEventFilter(this);
    }

    QRegion painted;
    QStringList lines;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == &m_strip && event->type() == QEvent::Paint) {
            painted += static_cast<QPaintEvent *>(event)->region();
            lines.append(m_strip.currentText());
        }
        return false;
    }

private:
    StatusStrip &m_strip;
};

class StatusStripTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Shown, so that size changes reach the strip at once as they do in the main window.
        m_strip.show();
    }

    QPushButton *clearButton() const { return m_strip.findChild<QPushButton *>(u"ClearButton"_s); }
    // The line without its clock, which the tests check apart.
    QString lineBeforeClock() const
    {
        const QString text = m_strip.currentText();
        return text.left(std::max<qsizetype>(0, text.size() - 8));
    }
    // Waits for the strip's own timer to draw a line that satisfies the condition.
    bool tickUntil(const std::function<bool(const QString &)> &condition)
    {
        return QTest::qWaitFor([&] { return condition(m_strip.currentText()); }, 2000);
    }

    QApplication &m_app = ensureApp();
    FakeCommPort m_port;
    MemorySettingsStore m_store;
    StatusStrip m_strip{m_port, m_store};
};

TEST_F(StatusStripTest, FirstTickDrawsTheDefaultLineWithTheClock)
{
    EXPECT_TRUE(m_strip.currentText().isEmpty()) << "nothing is drawn before the first tick";
    const QTime before = QTime::currentTime();
    ASSERT_TRUE(tickUntil([](const QString &text) { return !text.isEmpty(); }));
    const QTime after = QTime::currentTime();

    EXPECT_EQ(lineBeforeClock(), u"COM1:9600,N,8,1  DTR:关  RTS:关  CD:关  CTS:关  DSR:关  时钟"_s);
    const QTime clock = QTime::fromString(m_strip.currentText().right(8), u"HH:mm:ss"_s);
    ASSERT_TRUE(clock.isValid()) << m_strip.currentText().toStdString();
    const auto wholeSeconds = [](const QTime &t) {
        return QTime(t.hour(), t.minute(), t.second());
    };
    EXPECT_GE(clock, wholeSeconds(before));
    EXPECT_LE(clock, wholeSeconds(after));
}

TEST_F(StatusStripTest, EachLineSwitchedOnShowsOnTheNextTick)
{
    struct Line
    {
        const char *label;
        std::function<void(FakeCommPort &, bool)> set;
    };
    const Line lines[] = {
            {"DTR",
             [](FakeCommPort &p, bool on) {
                 p.setDtrEnable(on);
             }},
            {"RTS",
             [](FakeCommPort &p, bool on) {
                 p.setRtsEnable(on);
             }},
            {"CD",
             [](FakeCommPort &p, bool on) {
                 p.setCd(on);
             }},
            {"CTS",
             [](FakeCommPort &p, bool on) {
                 p.setCts(on);
             }},
            {"DSR",
             [](FakeCommPort &p, bool on) {
                 p.setDsr(on);
             }},
    };
    for (const Line &line : lines) {
        SCOPED_TRACE(line.label);
        line.set(m_port, true);
        // Only this line may read "开": a swapped pair of lines would show another label on.
        QString expected = u"COM1:9600,N,8,1  DTR:关  RTS:关  CD:关  CTS:关  DSR:关  时钟"_s;
        const QString label = u"  "_s + QString::fromLatin1(line.label) + u":"_s;
        expected.replace(label + u"关"_s, label + u"开"_s);
        EXPECT_TRUE(tickUntil([&](const QString &) { return lineBeforeClock() == expected; }))
                << m_strip.currentText().toStdString();
        line.set(m_port, false);
    }
}

TEST_F(StatusStripTest, StoredPortNameShowsBesideThePortsOwnSettings)
{
    // The dialog stores another port while the port keeps the settings start-up gave it.
    m_port.setSettings(u"115200,S,7,1.5"_s).ok();
    // A name of a megabyte, as a damaged settings file may hold, shows its beginning: the line
    // keeps its clock and costs no more to build and draw each second.
    const QString huge(1024 * 1024, u'x');
    for (const QString &name : {u"COM12"_s, u"ttyUSB0"_s, QString(), huge}) {
        SCOPED_TRACE(name.left(20).toStdString());
        m_store.save(u"Comport"_s, name);
        const QString shown = name == huge ? u"xxxxxxxxxxxxxxx…"_s : name;
        const QString expected = shown + u":115200,S,7,1.5  DTR"_s;
        EXPECT_TRUE(tickUntil([&](const QString &text) { return text.startsWith(expected); }))
                << m_strip.currentText().toStdString();
    }
}

TEST_F(StatusStripTest, ButtonFollowsTheRightEndAndHeightStaysFixed)
{
    for (int width : {800, 300, 40}) {
        SCOPED_TRACE(width);
        m_strip.resize(width, 60);
        EXPECT_EQ(m_strip.height(), 25);
        EXPECT_EQ(clearButton()->geometry(), QRect(width - 60, 4, 57, 18));
    }
}

TEST_F(StatusStripTest, ButtonClickIsReportedAndCaptionCanChange)
{
    QSignalSpy clicked(&m_strip, &StatusStrip::buttonClicked);
    EXPECT_EQ(m_strip.buttonCaption(), u"清除"_s);
    QTest::mouseClick(clearButton(), Qt::LeftButton);
    EXPECT_EQ(clicked.count(), 1);

    m_strip.setButtonCaption(u"停止"_s);
    EXPECT_EQ(clearButton()->text(), u"停止"_s);
    EXPECT_EQ(m_strip.buttonCaption(), u"停止"_s);
}

TEST_F(StatusStripTest, TextIsDrawnFromSevenPixelsDownOnTheStripColour)
{
    m_strip.resize(640, 25);
    m_strip.redraw();
    const QImage image = m_strip.grab().toImage();
    const QRgb background = qRgb(0, 128, 128);
    int firstInkRow = image.height();
    int firstInkColumn = image.width();
    // The port and its settings only: a Chinese fallback font may reach above the ascent.
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < 100; ++x) {
            if (image.pixel(x, y) != background) {
                firstInkRow = std::min(firstInkRow, y);
                firstInkColumn = std::min(firstInkColumn, x);
            }
        }
    }
    ASSERT_LT(firstInkRow, image.height()) << "no text was drawn";
    // Text placed with its top left at (3, 7) starts there or a little further in, never before.
    EXPECT_GE(firstInkRow, 7);
    EXPECT_LE(firstInkRow, 12);
    EXPECT_GE(firstInkColumn, 3);
    EXPECT_LE(firstInkColumn, 6);
}

// The strip repaints only where its line changed. A region cut too short would leave part of
// the old line on screen: every pixel that differs must have been repainted.
TEST_F(StatusStripTest, RepaintCoversEveryPixelThatChanged)
{
    m_strip.resize(800, 25);
    // The test moves the strip on itself, so that no tick falls between two pictures.
    QTimer *timer = m_strip.findChild<QTimer *>(u"Clock"_s);
    ASSERT_NE(timer, nullptr);
    timer->stop();
    {
        // Nothing painted before the test may be counted as painted by it.
        PaintRecorder settled(m_strip);
        m_strip.redraw();
        m_strip.update();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !settled.lines.isEmpty(); }, 2000));
    }

    struct Change
    {
        const char *what;
        std::function<void()> apply;
        bool onlyTheClock;
    };
    const Change changes[] = {
            {"the clock's next second", [] {}, true},
            {"a modem line switched on", [this] { m_port.setCts(true); }, false},
            {"the stored port name grows", [this] { m_store.save(u"Comport"_s, u"COM12"_s); },
             false},
            {"the stored port name shrinks", [this] { m_store.save(u"Comport"_s, u"COM1"_s); },
             false},
            {"the line settings change, same width",
             [this] { (void)m_port.setSettings(u"4800,N,8,1"_s); }, false},
            {"the line settings change, wider",
             [this] { (void)m_port.setSettings(u"115200,E,7,2"_s); }, false},
    };
    for (const Change &change : changes) {
        SCOPED_TRACE(change.what);
        const QString before = m_strip.currentText();
        const QImage shownBefore = m_strip.grab().toImage();
        auto recorder = std::make_unique<PaintRecorder>(m_strip);
        change.apply();
        ASSERT_TRUE(QTest::qWaitFor(
                [&] {
                    m_strip.redraw();
                    return m_strip.currentText() != before;
                },
                2000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return recorder->lines.contains(m_strip.currentText()); },
                                    2000))
                << "the new line was never painted";
        const QRegion painted = recorder->painted;
        recorder.reset();
        const QImage shownAfter = m_strip.grab().toImage();

        ASSERT_EQ(shownBefore.size(), shownAfter.size());
        int changed = 0;
        int missed = 0;
        QPoint firstMissed;
        for (int y = 0; y < shownAfter.height(); ++y) {
            for (int x = 0; x < shownAfter.width(); ++x) {
                if (shownBefore.pixel(x, y) == shownAfter.pixel(x, y))
                    continue;
                ++changed;
                if (!painted.contains(QPoint(x, y)) && missed++ == 0)
                    firstMissed = QPoint(x, y);
            }
        }
        EXPECT_GT(changed, 0) << "the two lines look the same";
        EXPECT_EQ(missed, 0) << "first pixel left unpainted at " << firstMissed.x() << ","
                             << firstMissed.y() << "; " << before.toStdString() << " -> "
                             << m_strip.currentText().toStdString();
        // However the line was laid out to paint it, it reads as the line drawn whole.
        QImage whole(shownAfter.size(), QImage::Format_RGB32);
        whole.fill(QColor(0, 128, 128));
        {
            QPainter painter(&whole);
            painter.setFont(m_strip.font());
            painter.setPen(m_strip.palette().color(QPalette::ButtonText));
            painter.drawText(3, 7 + QFontMetrics(m_strip.font()).ascent(), m_strip.currentText());
        }
        // Up to the encoding's name, which stands left of the button.
        const auto *encoding = m_strip.findChild<QWidget *>(u"EncodingLabel"_s);
        ASSERT_NE(encoding, nullptr);
        const int lineEnd = std::min(clearButton()->x(), encoding->x());
        int differing = 0;
        for (int y = 0; y < whole.height(); ++y) {
            for (int x = 0; x < lineEnd; ++x)
                differing += whole.pixel(x, y) != shownAfter.pixel(x, y);
        }
        EXPECT_EQ(differing, 0) << "pixels unlike the line drawn whole";
        if (change.onlyTheClock) {
            // A tick of the clock repaints its digits, not the strip and its button.
            EXPECT_LT(painted.boundingRect().width(), m_strip.width() / 4);
            EXPECT_FALSE(painted.intersects(clearButton()->geometry()));
        }
    }
}

} // namespace
