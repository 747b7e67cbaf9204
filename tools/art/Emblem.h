#pragma once

// The product's emblem and the colours it is drawn in.

#include <QColor>
#include <QRectF>

class QPainter;

namespace palette {
const QColor white(255, 255, 255);
const QColor iceCyan(0xb8, 0xf8, 0xff);
const QColor brightCyan(0x35, 0xd8, 0xff);
const QColor deepBlue(0x1f, 0x62, 0xf0);
} // namespace palette

// A lightning bolt breaking out of an open ring, drawn in the square `box`
// (a 100-unit design box). With `trails`, streaks of light run off to its
// left, up to 46 units beyond the box.
void drawEmblem(QPainter &painter, const QRectF &box, bool trails);
