#include "Scenery.h"

#include "Painting.h"

#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>
#include <QRandomGenerator>
#include <QtMath>
#include <vector>

namespace {

// Where the pages put text, pictures and controls, in page pixels (the
// background is the page's size): no stars there.
const QRectF calmAreas[] = {
    {16, 6, 160, 46},     // the logo with the name
    {250, 66, 140, 145},  // the centre picture
    {150, 200, 340, 56},  // the captions
    {230, 262, 180, 58},  // the button
};

void paintSky(QPainter &painter, const QSizeF &size)
{
    QLinearGradient sky(0, 0, 0, size.height());
    sky.setColorAt(0, QColor(0x03, 0x08, 0x1a));
    sky.setColorAt(0.45, QColor(0x08, 0x17, 0x3a));
    sky.setColorAt(0.75, QColor(0x0f, 0x2a, 0x5e));
    sky.setColorAt(1, QColor(0x12, 0x33, 0x6c));
    painter.fillRect(QRectF(QPointF(0, 0), size), sky);

    // The glow of a distant city behind the hills.
    QRadialGradient glow(QPointF(size.width() * 0.5, size.height() * 0.8), size.width() * 0.55);
    glow.setColorAt(0, QColor(0x2a, 0x6c, 0xc8, 90));
    glow.setColorAt(1, QColor(0x2a, 0x6c, 0xc8, 0));
    painter.fillRect(QRectF(QPointF(0, 0), size), glow);
}

QColor mix(const QColor &a, const QColor &b, qreal t)
{
    return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * t, a.greenF() + (b.greenF() - a.greenF()) * t,
                            a.blueF() + (b.blueF() - a.blueF()) * t, a.alphaF() + (b.alphaF() - a.alphaF()) * t);
}

// The flowing light: a ribbon across the upper sky, teal turning blue, with
// faint rays rising from it like an aurora; brightest in its middle, fading
// out at both ends.
QImage streakLayer(const QSizeF &size)
{
    const qreal w = size.width();
    QPainterPath curve;
    curve.moveTo(-40, 140);
    curve.cubicTo(150, 40, 380, 100, w + 60, -10);
    const QColor teal(0x2b, 0xe4, 0xd0), blue(0x3a, 0x8c, 0xff);

    QImage rays = newCanvas(size.toSize());
    {
        QPainter painter(&rays);
        setSmoothRendering(painter);
        for (qreal t = 0; t <= 1; t += 0.002) {
            const QPointF foot = curve.pointAtPercent(t);
            const qreal envelope = qSin(M_PI * t);
            const qreal height = 22 + 40 * (0.5 + 0.5 * qSin(t * 31)) * (0.6 + 0.4 * qSin(t * 7 + 1));
            QColor base = mix(teal, blue, t);
            base.setAlphaF(0.5 * envelope * envelope);
            QColor clear = base;
            clear.setAlpha(0);
            QLinearGradient rise(foot, foot - QPointF(0, height));
            rise.setColorAt(0, base);
            rise.setColorAt(1, clear);
            painter.setPen(QPen(QBrush(rise), 1.6));
            painter.drawLine(foot + QPointF(0, 3), foot - QPointF(0, height));
        }
    }

    QLinearGradient along(0, 0, w, 0);
    QColor tealClear = teal, blueClear = blue;
    tealClear.setAlpha(0);
    blueClear.setAlpha(0);
    along.setColorAt(0, tealClear);
    along.setColorAt(0.3, teal);
    along.setColorAt(0.7, blue);
    along.setColorAt(1, blueClear);

    QImage layer = blurred(rays, 3);
    struct Stroke { qreal width; qreal opacity; int blur; };
    for (const Stroke &s : {Stroke{60, 0.14, 20}, Stroke{16, 0.28, 6}, Stroke{2.5, 0.4, 1}}) {
        QImage band = newCanvas(size.toSize());
        QPainter bandPainter(&band);
        setSmoothRendering(bandPainter);
        bandPainter.setOpacity(s.opacity);
        bandPainter.strokePath(curve, QPen(QBrush(along), s.width, Qt::SolidLine, Qt::RoundCap));
        bandPainter.end();
        QPainter layerPainter(&layer);
        layerPainter.setCompositionMode(QPainter::CompositionMode_Plus);
        layerPainter.drawImage(0, 0, blurred(band, s.blur));
    }
    return layer;
}

void paintStreak(QPainter &painter, const QSizeF &size, bool mirrored)
{
    const QImage layer = streakLayer(size);
    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_Screen);
    painter.drawImage(0, 0, mirrored ? layer.mirrored(true, false) : layer);
    painter.restore();
}

bool inCalmArea(const QPointF &point)
{
    for (const QRectF &area : calmAreas)
        if (area.contains(point))
            return true;
    return false;
}

// A thin ray through a bright star, fading to both ends.
void paintFlareArm(QPainter &painter, const QPointF &from, const QPointF &to, int alpha)
{
    QLinearGradient fade(from, to);
    fade.setColorAt(0, QColor(255, 255, 255, 0));
    fade.setColorAt(0.5, QColor(255, 255, 255, alpha));
    fade.setColorAt(1, QColor(255, 255, 255, 0));
    QPainterPath arm(from);
    arm.lineTo(to);
    painter.strokePath(arm, QPen(QBrush(fade), 1));
}

void paintStar(QPainter &painter, const QPointF &at, qreal radius, int alpha, bool flare)
{
    painter.setPen(Qt::NoPen);
    QRadialGradient haze(at, radius * 4);
    haze.setColorAt(0, QColor(0xc8, 0xe6, 0xff, alpha / 3));
    haze.setColorAt(1, QColor(0xc8, 0xe6, 0xff, 0));
    painter.setBrush(haze);
    painter.drawEllipse(at, radius * 4, radius * 4);
    painter.setBrush(QColor(0xf2, 0xf8, 0xff, alpha));
    painter.drawEllipse(at, radius, radius);
    if (flare) {
        paintFlareArm(painter, at - QPointF(7, 0), at + QPointF(7, 0), alpha / 2);
        paintFlareArm(painter, at - QPointF(0, 7), at + QPointF(0, 7), alpha / 2);
    }
}

// Stars thin out towards the horizon; the calm areas get none.
void paintStars(QPainter &painter, const QSizeF &size, quint32 seed)
{
    QRandomGenerator random(seed);
    const qreal skyDepth = size.height() * 0.72;
    for (int i = 0; i < 140; ++i) {
        const qreal x = random.bounded(size.width());
        const qreal y = skyDepth * qPow(random.bounded(1.0), 1.3);
        const QPointF at(x, y);
        const qreal radius = 0.45 + qPow(random.bounded(1.0), 3) * 0.9;
        const int alpha = 70 + int(random.bounded(150));
        const bool flare = random.bounded(100) < 4;
        // Drawn after all values are taken, so the other stars keep their
        // places when an area changes.
        if (inCalmArea(at))
            continue;
        paintStar(painter, at, radius, alpha * (1.0 - 0.6 * at.y() / skyDepth), flare);
    }
}

struct Ridge {
    qreal base;                  // mean height of the crest above the bottom
    std::vector<QPointF> waves;  // (wavelength in pixels, amplitude)
    qreal phase;
    QColor top, bottom;
};

QPainterPath crestLine(const Ridge &ridge, const QSizeF &size)
{
    QPainterPath crest;
    for (qreal x = 0; x <= size.width() + 4; x += 4) {
        qreal y = size.height() - ridge.base;
        for (const QPointF &wave : ridge.waves)
            y += wave.y() * qSin(2 * M_PI * x / wave.x() + ridge.phase * wave.x());
        if (x == 0)
            crest.moveTo(x, y);
        else
            crest.lineTo(x, y);
    }
    return crest;
}

// Three ranges of hills, lighter and bluer with distance; the farthest
// catches a faint rim of the city glow.
void paintHills(QPainter &painter, const QSizeF &size)
{
    const Ridge ridges[] = {
        {128, {{310, 14}, {140, 6}, {57, 2}}, 0.011, QColor(0x13, 0x2f, 0x60), QColor(0x0c, 0x1f, 0x44)},
        {96, {{420, 16}, {170, 7}, {66, 2.5}}, 0.023, QColor(0x0b, 0x1d, 0x40), QColor(0x08, 0x15, 0x30)},
        {62, {{520, 14}, {230, 6}, {90, 2}}, 0.037, QColor(0x07, 0x11, 0x27), QColor(0x05, 0x0b, 0x1b)},
    };
    bool farthest = true;
    for (const Ridge &ridge : ridges) {
        const QPainterPath crest = crestLine(ridge, size);
        QPainterPath shape = crest;
        shape.lineTo(size.width() + 4, size.height());
        shape.lineTo(0, size.height());
        shape.closeSubpath();
        QLinearGradient fill(0, size.height() - ridge.base - 30, 0, size.height());
        fill.setColorAt(0, ridge.top);
        fill.setColorAt(1, ridge.bottom);
        painter.fillPath(shape, fill);
        if (farthest)
            painter.strokePath(crest, QPen(QColor(0x6f, 0xc8, 0xff, 45), 1.2));
        farthest = false;
    }
}

} // namespace

QImage drawNightSky(const QSize &size, const SkyStyle &style)
{
    QImage image = newCanvas(size, Qt::black);
    QPainter painter(&image);
    setSmoothRendering(painter);
    const QSizeF area(size);
    paintSky(painter, area);
    paintStreak(painter, area, style.mirrored);
    paintStars(painter, area, style.starSeed);
    paintHills(painter, area);
    return image;
}
