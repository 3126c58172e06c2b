#include "widgets/statusstrip.h"

#include "core/commport.h"
#include "core/settingsstore.h"
#include "core/portsettings.h"
#include "widgets/statusline.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QTime>
#include <QTimer>
#include <QtMath>

#include <algorithm>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

constexpr int StripHeight = 25;
// The clock's tick comes this long after the second turns, so that a timer a little early still
// reads the new second.
constexpr int TickAfterSecondMs = 5;
// Where the top of the line's text sits, in pixels from the strip's top-left corner.
constexpr int TextLeft = 3;
constexpr int TextTop = 7;
// The button's left edge stays this far from the right end, its top this far down.
constexpr int ButtonFromRight = 60;
constexpr int ButtonTop = 4;
// The encoding's name ends this far left of the button.
constexpr int EncodingGap = 8;

QFont boldArial(qreal pointSize)
{
    QFont font(u"Arial"_s);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    font.setBold(true);
    return font;
}

} // namespace

StatusStrip::StatusStrip(CommPort &port, SettingsStore &store, QWidget *parent)
    : QWidget(parent)
    , m_port(port)
    , m_store(store)
{
    setObjectName(u"StatusStrip"_s);
    setFixedHeight(StripHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFont(boldArial(9.75));
    setAutoFillBackground(true);
    QPalette strip = palette();
    strip.setColor(QPalette::Window, QColor(0, 128, 128));
    setPalette(strip);

    m_button = new QPushButton(u"清除"_s, this);
    m_button->setObjectName(u"ClearButton"_s);
    m_button->setFont(boldArial(9));
    m_button->setFixedSize(57, 18);
    m_button->move(240, 3);
    // The terminal keeps the keyboard; a click must not take it away.
    m_button->setFocusPolicy(Qt::NoFocus);
    connect(m_button, &QPushButton::clicked, this, &StatusStrip::buttonClicked);

    // Beside the button rather than in the line, whose text and layout stay as they are.
    m_encoding = new QLabel(u"GBK"_s, this);
    m_encoding->setObjectName(u"EncodingLabel"_s);
    m_encoding->setForegroundRole(QPalette::ButtonText);
    m_encoding->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_encoding->setContentsMargins(0, 0, 0, 0);

    // Each tick is aimed anew at the next whole second, so the clock never drifts from the
    // system's and never shows a second late. The first comes as soon as the window runs.
    m_clock = new QTimer(this);
    m_clock->setObjectName(u"Clock"_s);
    m_clock->setSingleShot(true);
    m_clock->setTimerType(Qt::PreciseTimer);
    connect(m_clock, &QTimer::timeout, this, &StatusStrip::clockTicked);
    m_clock->start(0);

    // Everything else on the line changes when the port says so.
    connect(&m_port, &CommPort::lineStateChanged, this, &StatusStrip::redraw);
}

void StatusStrip::clockTicked()
{
    // Reading the whole line, not only the clock, also catches a stored port name changed
    // behind the window's back.
    redraw();
    m_clock->start(1000 - QTime::currentTime().msec() + TickAfterSecondMs);
}

void StatusStrip::redraw()
{
    const QString portName = m_store.read(SettingKeys::comport(), SettingKeys::defaultComport());
    const QString settings = m_port.settings();
    const bool dtr = m_port.dtrEnable();
    const bool rts = m_port.rtsEnable();
    const bool cd = m_port.cdHolding();
    const bool cts = m_port.ctsHolding();
    const bool dsr = m_port.dsrHolding();
    const QString text
            = statusLineText(portName, settings, dtr, rts, cd, cts, dsr, QTime::currentTime());
    // The port may report changes the line does not show, and the clock's tick often finds only
    // the clock moved: repainting the same line would cost an idle window most of its CPU. A
    // change repaints only the characters that changed, so the clock's tick leaves the rest of
    // the line and the button alone.
    if (text == m_text)
        return;
    const QString before = std::exchange(m_text, text);
    update(layOutChange(before));
}

QRect StatusStrip::layOutChange(const QString &before)
{
    if (before.isEmpty()) {
        m_split = 0;
        layOut(m_steady, QString());
        layOut(m_moving, m_text);
        return rect();
    }
    // The characters both lines share at the start and at the end; a surrogate pair stays whole.
    const qsizetype shorter = std::min(before.size(), m_text.size());
    qsizetype head = 0;
    while (head < shorter && before[head] == m_text[head])
        ++head;
    if (head > 0 && head < shorter && m_text[head - 1].isHighSurrogate())
        --head;
    qsizetype tail = 0;
    while (tail < shorter - head
           && before[before.size() - 1 - tail] == m_text[m_text.size() - 1 - tail])
        ++tail;
    if (tail > 0 && tail < shorter - head && m_text[m_text.size() - tail].isLowSurrogate())
        --tail;

    const qreal beforeEnd = xOf(before.size() - tail);
    const qreal beforeWidth = xOf(before.size());
    // The steady piece ends where the change starts; it is laid out again only when a change
    // reaches into it, or when the moving piece carries more than a clock's worth of unchanged
    // characters. Ticks of the clock then lay out its eight characters, not the line.
    constexpr qsizetype MovingSlack = 8;
    if (head < m_split || head - m_split > MovingSlack) {
        m_split = head;
        layOut(m_steady, m_text.left(m_split));
    }
    layOut(m_moving, m_text.sliced(m_split));

    const qreal left = xOf(head);
    const qreal afterEnd = xOf(m_text.size() - tail);
    // A change of width moves everything after it: then the line is repainted to the end of
    // the longer of the two.
    const qreal right = qFuzzyCompare(beforeEnd, afterEnd)
                                ? afterEnd
                                : std::max(beforeWidth, xOf(m_text.size()));
    // Pieces laid out apart miss kerning across the cut, and glyphs may overhang their advance:
    // a character's width either side covers both.
    const int margin = fontMetrics().averageCharWidth();
    return QRect(TextLeft + qFloor(left) - margin, 0, qCeil(right - left) + 2 * margin + 1,
                 height());
}

void StatusStrip::layOut(QTextLayout &layout, const QString &text) const
{
    layout.clearLayout();
    layout.setText(text);
    layout.setFont(font());
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    layout.setTextOption(option);
    // Keeps the shaped glyphs, so that painting does not shape the line again.
    layout.setCacheEnabled(true);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
}

qreal StatusStrip::xOf(qsizetype position) const
{
    const auto lineOf = [](const QTextLayout &layout) {
        return layout.lineCount() > 0 ? layout.lineAt(0) : QTextLine();
    };
    if (position < m_split) {
        const QTextLine line = lineOf(m_steady);
        return line.isValid() ? line.cursorToX(int(position)) : 0.0;
    }
    const qreal steadyWidth
            = lineOf(m_steady).isValid() ? lineOf(m_steady).horizontalAdvance() : 0.0;
    const QTextLine line = lineOf(m_moving);
    return steadyWidth + (line.isValid() ? line.cursorToX(int(position - m_split)) : 0.0);
}

void StatusStrip::placeButton()
{
    m_button->move(width() - ButtonFromRight, ButtonTop);
    m_encoding->adjustSize();
    // On the line's baseline, so that it reads as part of the line.
    const int baseline = TextTop + QFontMetrics(font()).ascent();
    m_encoding->move(m_button->x() - EncodingGap - m_encoding->width(),
                     baseline - QFontMetrics(m_encoding->font()).ascent());
}

void StatusStrip::setEncodingName(const QString &name)
{
    m_encoding->setText(name);
    placeButton();
}

QString StatusStrip::encodingName() const
{
    return m_encoding->text();
}

void StatusStrip::setButtonCaption(const QString &caption)
{
    m_button->setText(caption);
}

QString StatusStrip::buttonCaption() const
{
    return m_button->text();
}

void StatusStrip::paintEvent(QPaintEvent *event)
{
    if (m_text.isEmpty())
        return;
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::ButtonText));
    // Both pieces stand on the baseline of the strip's own font, as one line drawn whole would.
    // A tick repaints a few characters of the moving piece: the steady one, wholly outside the
    // area, is not drawn at all, and the painter's clip keeps the rest to that area.
    const QFontMetrics metrics(font());
    const qreal baseline = TextTop + metrics.ascent();
    const int overhang = metrics.averageCharWidth();
    const QRect area = event->rect();
    qreal x = TextLeft;
    for (const QTextLayout *layout : {&m_steady, &m_moving}) {
        if (layout->lineCount() == 0)
            continue;
        const QTextLine line = layout->lineAt(0);
        const qreal width = line.horizontalAdvance();
        if (x - overhang <= area.right() && x + width + overhang >= area.left())
            layout->draw(&painter, QPointF(x, baseline - line.ascent()));
        x += width;
    }
}

void StatusStrip::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    // The pieces were shaped in the old font.
    if (event->type() == QEvent::FontChange && !m_text.isEmpty()) {
        layOut(m_steady, m_text.left(m_split));
        layOut(m_moving, m_text.sliced(m_split));
        update();
    }
}

void StatusStrip::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeButton();
}
