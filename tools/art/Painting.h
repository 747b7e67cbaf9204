#pragma once

// Drawing helpers shared by the artwork and the page preview.

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRectF>
#include <QSize>
#include <QString>

class QBrush;

// The CJK face every text is drawn with.
extern const char *const textFamily;
bool textFamilyInstalled();
QFont textFont(int pixelSize);

// An ARGB32 image filled with `fill` (transparent unless said otherwise).
QImage newCanvas(const QSize &size, const QColor &fill = Qt::transparent);
// Antialiased shapes, text and scaled images.
void setSmoothRendering(QPainter &painter);

// The outline of one line of text, left end of its baseline at the origin.
QPainterPath textOutline(const QString &text, int pixelSize, qreal letterSpacing = 0);
// `path` moved so that its bounds are centred in `box`.
QPainterPath centredIn(const QPainterPath &path, const QRectF &box);
// Fills `path` and strokes its edge with the same brush: the face has no bold
// cut, so this is how its strokes get thicker (`weight` is the pen width).
void fillEmboldened(QPainter &painter, const QPainterPath &path, const QBrush &brush, qreal weight);

// A soft copy of `image` (three box passes, close to a gaussian).
QImage blurred(const QImage &image, int radius);
// The shape of `layer` in one colour, blurred: a glow or a shadow to lay under it.
QImage halo(const QImage &layer, const QColor &color, int radius);

// Paints with `paint(QPainter &)` on a layer the size of `target` and lays
// the layer over `target` with a halo of `haloColor` and `radius` beneath it.
template <typename Paint>
void drawWithHalo(QImage &target, const QColor &haloColor, int radius, Paint paint)
{
    QImage layer = newCanvas(target.size());
    {
        QPainter layerPainter(&layer);
        setSmoothRendering(layerPainter);
        paint(layerPainter);
    }
    QPainter painter(&target);
    painter.drawImage(0, 0, halo(layer, haloColor, radius));
    painter.drawImage(0, 0, layer);
}
