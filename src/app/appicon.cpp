#include "app/appicon.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

using namespace Qt::StringLiterals;

QImage AppIcon::image(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    // A teal screen in a dark bezel, with a plug's two rows of pins below the text.
    QPainterPath bezel;
    bezel.addRoundedRect(QRectF(0.5, 0.5, s - 1, s - 1), s * 0.16, s * 0.16);
    painter.fillPath(bezel, QColor(32, 48, 56));
    const QRectF screen(s * 0.12, s * 0.12, s * 0.76, s * 0.5);
    painter.fillRect(screen, QColor(0, 128, 128));
    if (size >= 24) {
        QFont font(u"DejaVu Sans Mono"_s);
        font.setBold(true);
        font.setPixelSize(qMax(6, static_cast<int>(s * 0.26)));
        painter.setFont(font);
        painter.setPen(QColor(192, 192, 0));
        painter.drawText(screen, Qt::AlignCenter, u"232"_s);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 192, 192));
    const qreal pin = qMax(1.0, s * 0.06);
    for (int i = 0; i < 5; ++i) {
        painter.drawEllipse(QPointF(s * (0.22 + 0.14 * i), s * 0.72), pin, pin);
    }
    for (int i = 0; i < 4; ++i) {
        painter.drawEllipse(QPointF(s * (0.29 + 0.14 * i), s * 0.85), pin, pin);
    }
    return image;
}

QIcon AppIcon::icon()
{
    static const QIcon icon = [] {
        QIcon result;
        for (int size : {16, 24, 32, 48, 64, 128, 256}) {
            result.addPixmap(QPixmap::fromImage(image(size)));
        }
        return result;
    }();
    return icon;
}
