#include "desktop/Pictures.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace vantor::desktop {

QPixmap Picture(const std::string& name, int size) {
    if (name != "vantor" || size <= 0) return {};
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    // A handset-blue tile with a white V: readable at 16 pixels in a tray.
    QLinearGradient fill(0, 0, 0, size);
    fill.setColorAt(0, QColor(0x2a, 0x6f, 0xc9));
    fill.setColorAt(1, QColor(0x12, 0x3e, 0x7c));
    const qreal r = size * 0.18;
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(0.5, 0.5, size - 1.0, size - 1.0), r, r);
    QPainterPath v;
    v.moveTo(size * 0.2, size * 0.22);
    v.lineTo(size * 0.5, size * 0.8);
    v.lineTo(size * 0.8, size * 0.22);
    QPen pen(Qt::white, size * 0.13, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPath(v);
    return pixmap;
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) icon.addPixmap(Picture("vantor", size));
    return icon;
}

} // namespace vantor::desktop
