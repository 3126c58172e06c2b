#include "status/statusstrip.h"

#include "platform/commport.h"
#include "platform/settingsstore.h"
#include "settings/portsettings.h"
#include "status/statusline.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPushButton>
#include <QTime>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

constexpr int StripHeight = 25;
constexpr int RefreshInterval = 100;
// Where the top of the line's text sits, in pixels from the strip's top-left corner.
constexpr int TextLeft = 3;
constexpr int TextTop = 7;
// The button's left edge stays this far from the right end, its top this far down.
constexpr int ButtonFromRight = 60;
constexpr int ButtonTop = 4;

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
    setObjectName(u"CMD"_s);
    setFixedHeight(StripHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFont(boldArial(9.75));
    setAutoFillBackground(true);
    QPalette strip = palette();
    strip.setColor(QPalette::Window, QColor(0, 128, 128));
    setPalette(strip);

    m_command1 = new QPushButton(u"清除"_s, this);
    m_command1->setObjectName(u"Command1"_s);
    m_command1->setFont(boldArial(9));
    m_command1->setFixedSize(57, 18);
    m_command1->move(240, 3);
    // The terminal keeps the keyboard; a click must not take it away.
    m_command1->setFocusPolicy(Qt::NoFocus);
    connect(m_command1, &QPushButton::clicked, this, &StatusStrip::command1Clicked);

    m_timer1 = new QTimer(this);
    m_timer1->setObjectName(u"Timer1"_s);
    m_timer1->setInterval(RefreshInterval);
    connect(m_timer1, &QTimer::timeout, this, &StatusStrip::Timer1_Timer);
    m_timer1->start();
}

void StatusStrip::Timer1_Timer()
{
    CMD_Redraw();
}

void StatusStrip::CMD_Redraw()
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
    // The clock moves once a second but the strip is asked ten times: repainting the same line
    // would cost an idle window most of its CPU. A change repaints the whole strip, never a part.
    if (text == m_text)
        return;
    m_text = text;
    update();
}

void StatusStrip::CMD_Resize()
{
    m_command1->move(width() - ButtonFromRight, ButtonTop);
}

void StatusStrip::setCommand1Caption(const QString &caption)
{
    m_command1->setText(caption);
}

QString StatusStrip::command1Caption() const
{
    return m_command1->text();
}

void StatusStrip::paintEvent(QPaintEvent *)
{
    if (m_text.isEmpty())
        return;
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::ButtonText));
    const QFontMetrics metrics(font());
    painter.drawText(TextLeft, TextTop + metrics.ascent(), m_text);
}

void StatusStrip::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    CMD_Resize();
}
