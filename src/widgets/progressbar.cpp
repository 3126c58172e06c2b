#include "widgets/progressbar.h"

#include <QPainter>

namespace {
constexpr double ScaleHeight = 13.5;
constexpr double MarkHeight = 10.0;
} // namespace

ProgressBar::ProgressBar(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("Bar1"));
    setFixedHeight(11);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(192, 255, 255));
    setPalette(p);
}

void ProgressBar::setScaleWidth(double width)
{
    m_scaleWidth = width;
}

static int markPixels(double mark, double scaleWidth, int widthPixels)
{
    if (scaleWidth <= 0 || mark <= 0) {
        return 0;
    }
    return static_cast<int>(qMin(1.0, mark / scaleWidth) * widthPixels);
}

void ProgressBar::drawMark(double x)
{
    m_mark = x;
    // The view calls this once per byte; repaint only when the mark grows by a pixel.
    const int pixels = markPixels(m_mark, m_scaleWidth, width());
    if (pixels != m_paintedPixels) {
        update();
    }
}

void ProgressBar::clear()
{
    m_mark = 0;
    update();
}

void ProgressBar::paintEvent(QPaintEvent *)
{
    m_paintedPixels = markPixels(m_mark, m_scaleWidth, width());
    if (m_paintedPixels <= 0) {
        return;
    }
    QPainter painter(this);
    const int h = static_cast<int>(height() * MarkHeight / ScaleHeight);
    painter.fillRect(0, 0, m_paintedPixels, h, palette().color(QPalette::WindowText));
}
