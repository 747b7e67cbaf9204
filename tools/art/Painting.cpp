#include "Painting.h"

#include <QFontDatabase>
#include <QPainter>
#include <vector>

const char *const textFamily = "WenQuanYi Micro Hei";

bool textFamilyInstalled()
{
    return QFontDatabase().families().contains(QLatin1String(textFamily));
}

QFont textFont(int pixelSize)
{
    QFont font{QLatin1String(textFamily)};
    font.setPixelSize(pixelSize);
    return font;
}

QImage newCanvas(const QSize &size, const QColor &fill)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(fill);
    return image;
}

void setSmoothRendering(QPainter &painter)
{
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing
                           | QPainter::SmoothPixmapTransform);
}

QPainterPath textOutline(const QString &text, int pixelSize, qreal letterSpacing)
{
    QFont font = textFont(pixelSize);
    font.setLetterSpacing(QFont::AbsoluteSpacing, letterSpacing);
    font.setHintingPreference(QFont::PreferNoHinting);
    QPainterPath path;
    path.addText(0, 0, font, text);
    return path;
}

QPainterPath centredIn(const QPainterPath &path, const QRectF &box)
{
    return path.translated(box.center() - path.boundingRect().center());
}

void fillEmboldened(QPainter &painter, const QPainterPath &path, const QBrush &brush, qreal weight)
{
    painter.save();
    painter.setPen(QPen(brush, weight, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(brush);
    painter.drawPath(path);
    painter.restore();
}

namespace {

// One box pass along rows (or, with `vertical`, along columns) of
// premultiplied pixels; samples outside the image count as transparent.
void boxPass(QImage &image, int radius, bool vertical)
{
    const int lines = vertical ? image.width() : image.height();
    const int length = vertical ? image.height() : image.width();
    const int window = 2 * radius + 1;
    std::vector<QRgb> source(length);
    for (int line = 0; line < lines; ++line) {
        auto pixel = [&](int i) -> QRgb & {
            return vertical ? reinterpret_cast<QRgb *>(image.scanLine(i))[line]
                            : reinterpret_cast<QRgb *>(image.scanLine(line))[i];
        };
        for (int i = 0; i < length; ++i)
            source[i] = pixel(i);
        int sum[4] = {0, 0, 0, 0};
        auto add = [&](int i, int sign) {
            if (i < 0 || i >= length)
                return;
            const QRgb c = source[i];
            sum[0] += sign * qAlpha(c);
            sum[1] += sign * qRed(c);
            sum[2] += sign * qGreen(c);
            sum[3] += sign * qBlue(c);
        };
        for (int i = -radius; i < radius; ++i)
            add(i, 1);
        for (int i = 0; i < length; ++i) {
            add(i + radius, 1);
            pixel(i) = qRgba(sum[1] / window, sum[2] / window, sum[3] / window, sum[0] / window);
            add(i - radius, -1);
        }
    }
}

} // namespace

QImage blurred(const QImage &image, int radius)
{
    QImage soft = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (radius > 0) {
        for (int pass = 0; pass < 3; ++pass) {
            boxPass(soft, radius, false);
            boxPass(soft, radius, true);
        }
    }
    return soft.convertToFormat(QImage::Format_ARGB32);
}

QImage halo(const QImage &layer, const QColor &color, int radius)
{
    QImage shape = layer.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&shape);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(shape.rect(), color);
    painter.end();
    return blurred(shape, radius);
}
