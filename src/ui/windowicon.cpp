#include "windowicon.h"

#include <QPainter>
#include <QPainterPath>

QPixmap VarnlockIconPixmap(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    // Shackle.
    QPen shackle(QColor(0x55, 0x5B, 0x66), 7, Qt::SolidLine, Qt::FlatCap);
    p.setPen(shackle);
    p.setBrush(Qt::NoBrush);
    QPainterPath arc;
    arc.moveTo(19, 30);
    arc.lineTo(19, 20);
    arc.arcTo(QRectF(19, 6, 26, 28), 180, -180);
    arc.lineTo(45, 30);
    p.drawPath(arc);
    // Body.
    QLinearGradient body(0, 28, 0, 60);
    body.setColorAt(0, QColor(0x2E, 0x6F, 0xC0));
    body.setColorAt(1, QColor(0x12, 0x3C, 0x7A));
    p.setPen(QPen(QColor(0x0B, 0x27, 0x52), 2));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(10, 28, 44, 32), 6, 6);
    // Keyhole.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xF2, 0xF4, 0xF8));
    p.drawEllipse(QPointF(32, 40), 4.5, 4.5);
    p.drawRect(QRectF(30, 42, 4, 10));
    return pixmap;
}

QIcon VarnlockIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128})
        icon.addPixmap(VarnlockIconPixmap(size));
    return icon;
}
