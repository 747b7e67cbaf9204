#include "Emblem.h"

#include "Painting.h"

#include <QLinearGradient>
#include <QPainter>

namespace {

QLinearGradient ringGradient()
{
    QLinearGradient gradient(15, 10, 85, 90);
    gradient.setColorAt(0, palette::iceCyan);
    gradient.setColorAt(0.45, palette::brightCyan);
    gradient.setColorAt(1, palette::deepBlue);
    return gradient;
}

// A lightning bolt leaning forward, centred in the design box.
QPainterPath boltOutline()
{
    QPainterPath bolt;
    bolt.moveTo(4, -46);
    bolt.lineTo(22, -46);
    bolt.lineTo(8, -9);
    bolt.lineTo(22, -9);
    bolt.lineTo(-12, 46);
    bolt.lineTo(-2, 5);
    bolt.lineTo(-17, 5);
    bolt.closeSubpath();
    QTransform place;
    place.translate(50, 51);
    place.rotate(18);
    place.scale(0.82, 0.82);
    return place.map(bolt);
}

// The ring is open at the upper right, where the bolt breaks out.
void drawRing(QPainter &painter)
{
    QPainterPath ring;
    const QRectF circle(10, 10, 80, 80);
    ring.arcMoveTo(circle, 78);
    ring.arcTo(circle, 78, 300);
    painter.strokePath(ring, QPen(QBrush(ringGradient()), 10, Qt::SolidLine, Qt::RoundCap));
}

void drawTrails(QPainter &painter)
{
    struct Trail { qreal y, from, to, width; };
    for (const Trail &t : {Trail{33, -40, -2, 6}, Trail{50, -46, 0, 8}, Trail{67, -30, -2, 6}}) {
        QLinearGradient fade(t.from, 0, t.to, 0);
        QColor clear = palette::brightCyan;
        clear.setAlpha(0);
        fade.setColorAt(0, clear);
        fade.setColorAt(1, palette::brightCyan);
        QPainterPath line;
        line.moveTo(t.from, t.y);
        line.lineTo(t.to, t.y);
        painter.strokePath(line, QPen(QBrush(fade), t.width, Qt::SolidLine, Qt::RoundCap));
    }
}

void drawBolt(QPainter &painter)
{
    QLinearGradient fill(40, 5, 60, 95);
    fill.setColorAt(0, palette::white);
    fill.setColorAt(0.55, palette::iceCyan);
    fill.setColorAt(1, palette::brightCyan);
    fillEmboldened(painter, boltOutline(), QBrush(fill), 2);
}

} // namespace

void drawEmblem(QPainter &painter, const QRectF &box, bool trails)
{
    painter.save();
    painter.translate(box.topLeft());
    painter.scale(box.width() / 100.0, box.height() / 100.0);
    drawRing(painter);
    if (trails)
        drawTrails(painter);
    drawBolt(painter);
    painter.restore();
}
