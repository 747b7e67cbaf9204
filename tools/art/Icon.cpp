#include "Icon.h"

#include "Emblem.h"
#include "Painting.h"

#include <QBuffer>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QtEndian>

QImage drawProgramIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    QPainterPath tile;
    tile.addRoundedRect(QRectF(0.5, 0.5, s - 1, s - 1), s * 0.2, s * 0.2);
    QLinearGradient night(0, 0, 0, s);
    night.setColorAt(0, QColor(0x10, 0x1c, 0x4a));
    night.setColorAt(1, QColor(0x05, 0x08, 0x1c));
    painter.fillPath(tile, night);
    // The emblem's design box is 100 units; it fills most of the tile.
    drawEmblem(painter, QRectF(s * 0.08, s * 0.08, s * 0.84, s * 0.84), false);
    return image;
}

QList<int> programIconSizes()
{
    return {16, 24, 32, 48, 64, 256};
}

// ICONDIR, one ICONDIRENTRY per image, then the images; Windows reads a
// PNG entry as it is (a width or height of 256 is written as 0).
QByteArray iconFile(const QList<QImage> &images)
{
    QList<QByteArray> pngs;
    for (const QImage &image : images) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "png");
        pngs.append(png);
    }
    QByteArray out;
    const auto put16 = [&out](quint16 v) { out.append(char(v & 0xff)).append(char(v >> 8)); };
    const auto put32 = [&](quint32 v) { put16(quint16(v & 0xffff)); put16(quint16(v >> 16)); };
    put16(0);
    put16(1);
    put16(quint16(images.size()));
    quint32 offset = 6 + 16 * quint32(images.size());
    for (int i = 0; i < images.size(); ++i) {
        out.append(char(images[i].width() >= 256 ? 0 : images[i].width()));
        out.append(char(images[i].height() >= 256 ? 0 : images[i].height()));
        out.append(char(0)).append(char(0));
        put16(1);
        put16(32);
        put32(quint32(pngs[i].size()));
        put32(offset);
        offset += quint32(pngs[i].size());
    }
    for (const QByteArray &png : pngs)
        out.append(png);
    return out;
}
