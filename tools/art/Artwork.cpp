#include "Artwork.h"

#include "Emblem.h"
#include "Painting.h"
#include "Scenery.h"

#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

// Each drawing is laid out in the pixels of the size its row in the table
// gives; the page folder keeps exactly those sizes.

namespace {

using palette::white;

// White text gets a faint dark shadow, which keeps it legible over the
// lighter parts of the sky.
template <typename Paint>
void drawWithTextShadow(QImage &image, Paint paint)
{
    drawWithHalo(image, QColor(0, 8, 30, 110), 2, paint);
}

QImage drawLogo(const QSize &size)
{
    QImage image = newCanvas(size);
    drawWithHalo(image, QColor(0x22, 0xc8, 0xff, 150), 7, [&](QPainter &painter) {
        drawEmblem(painter, QRectF(52, 14, 100, 100), true);
    });
    return image;
}

// One line of white text, centred.
QImage drawCaption(const QSize &size, const QString &text, int pixelSize, qreal spacing, qreal weight)
{
    QImage image = newCanvas(size);
    drawWithTextShadow(image, [&](QPainter &painter) {
        const QPainterPath line = centredIn(textOutline(text, pixelSize, spacing), QRectF(image.rect()));
        fillEmboldened(painter, line, white, weight);
    });
    return image;
}

QImage drawLabelLogo(const QSize &size)
{
    QImage image = newCanvas(size);
    drawWithHalo(image, QColor(0x22, 0xc8, 0xff, 90), 3, [&](QPainter &painter) {
        drawEmblem(painter, QRectF(3, 3.5, 48, 48), false);
    });
    drawWithTextShadow(image, [&](QPainter &painter) {
        const QRectF textBox(62, 0, size.width() - 64, size.height());
        QPainterPath name = textOutline(QStringLiteral("流光骑士"), 40, 7);
        name.translate(textBox.left() - name.boundingRect().left(),
                       textBox.center().y() - name.boundingRect().center().y());
        fillEmboldened(painter, name, white, 2.2);
    });
    return image;
}

QImage drawBackLabel(const QSize &size)
{
    return drawCaption(size, QStringLiteral("畅享极速 · 告别延迟"), 30, 3, 1.4);
}

QImage drawInstallingLabel(const QSize &size)
{
    return drawCaption(size, QStringLiteral("正在为您安装流光骑士，请稍候"), 34, 2, 1.5);
}

QImage drawCheckMark(const QSize &size)
{
    QImage image = newCanvas(size);
    QPainter painter(&image);
    setSmoothRendering(painter);
    QPainterPath tick;
    tick.moveTo(0.9, 3.0);
    tick.lineTo(2.7, 4.8);
    tick.lineTo(6.1, 1.0);
    painter.strokePath(tick, QPen(white, 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    return image;
}

QImage drawCross(const QSize &size, int alpha)
{
    QImage image = newCanvas(size);
    QPainter painter(&image);
    setSmoothRendering(painter);
    // One path, so the crossing is not painted twice and keeps the same alpha.
    QPainterPath cross;
    cross.moveTo(2, 2);
    cross.lineTo(10, 10);
    cross.moveTo(10, 2);
    cross.lineTo(2, 10);
    painter.strokePath(cross, QPen(QColor(255, 255, 255, alpha), 1.6, Qt::SolidLine, Qt::RoundCap));
    return image;
}

QImage drawQuit(const QSize &size) { return drawCross(size, 153); }
QImage drawQuitHovered(const QSize &size) { return drawCross(size, 255); }

QLinearGradient shellGradient(qreal top, qreal bottom)
{
    QLinearGradient gradient(0, top, 0, bottom);
    gradient.setColorAt(0, QColor(0xf6, 0xfb, 0xff));
    gradient.setColorAt(1, QColor(0xb4, 0xcd, 0xea));
    return gradient;
}

// A flowing crest of light on the helmet, trailing back as the rider dashes.
void drawCrest(QPainter &painter)
{
    QPainterPath crest;
    crest.moveTo(56, 24);
    crest.cubicTo(56, 12, 38, 5, 6, 11);
    crest.cubicTo(22, 13, 28, 18, 31, 25);
    crest.closeSubpath();
    QLinearGradient fill(6, 11, 52, 22);
    fill.setColorAt(0, QColor(0x35, 0xd8, 0xff, 0));
    fill.setColorAt(0.5, palette::brightCyan);
    fill.setColorAt(1, palette::iceCyan);
    painter.fillPath(crest, fill);

    QPainterPath sheen;
    sheen.moveTo(50, 19);
    sheen.cubicTo(44, 12, 32, 10, 16, 12);
    QLinearGradient fade(16, 12, 50, 19);
    fade.setColorAt(0, QColor(255, 255, 255, 0));
    fade.setColorAt(1, QColor(255, 255, 255, 200));
    painter.strokePath(sheen, QPen(QBrush(fade), 1.6, Qt::SolidLine, Qt::RoundCap));
}

void drawHoverPad(QPainter &painter)
{
    QRadialGradient light(QPointF(43.5, 111), 30);
    light.setColorAt(0, QColor(0x6f, 0xf0, 0xff, 230));
    light.setColorAt(0.6, QColor(0x35, 0xd8, 0xff, 90));
    light.setColorAt(1, QColor(0x35, 0xd8, 0xff, 0));
    painter.save();
    painter.translate(43.5, 111);
    painter.scale(1, 0.2);
    painter.translate(-43.5, -111);
    painter.setPen(Qt::NoPen);
    painter.setBrush(light);
    painter.drawEllipse(QPointF(43.5, 111), 30, 30);
    painter.restore();
}

void drawLimbs(QPainter &painter)
{
    const QPen leg(QColor(0x8f, 0xaf, 0xd6), 9, Qt::SolidLine, Qt::RoundCap);
    const QPen arm(QBrush(shellGradient(64, 92)), 8, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(leg);
    painter.drawLine(QPointF(36, 96), QPointF(36, 103));
    painter.drawLine(QPointF(51, 96), QPointF(51, 103));
    painter.setPen(arm);
    painter.drawLine(QPointF(27, 77), QPointF(17, 90));  // resting
    painter.drawLine(QPointF(60, 77), QPointF(72, 64));  // waving
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette::brightCyan);
    painter.drawEllipse(QPointF(73.5, 62), 5, 5);
    painter.drawEllipse(QPointF(16, 91.5), 5, 5);
}

void drawBody(QPainter &painter)
{
    painter.setPen(QPen(QColor(0x6c, 0x8e, 0xbd), 1.2));
    painter.setBrush(shellGradient(66, 100));
    painter.drawRoundedRect(QRectF(25, 66, 37, 33), 12, 12);
    drawEmblem(painter, QRectF(35, 73, 17, 17), false);
}

void drawHead(QPainter &painter)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette::brightCyan);
    painter.drawEllipse(QPointF(12, 46), 6, 7);
    painter.drawEllipse(QPointF(75, 46), 6, 7);

    painter.setPen(QPen(QColor(0x6c, 0x8e, 0xbd), 1.2));
    painter.setBrush(shellGradient(20, 70));
    painter.drawRoundedRect(QRectF(12, 20, 63, 50), 22, 22);

    QLinearGradient visorFill(0, 31, 0, 61);
    visorFill.setColorAt(0, QColor(0x0a, 0x16, 0x33));
    visorFill.setColorAt(1, QColor(0x15, 0x35, 0x72));
    painter.setPen(Qt::NoPen);
    painter.setBrush(visorFill);
    painter.drawRoundedRect(QRectF(19, 31, 49, 30), 14, 14);

    // Glass shine, then the eyes and the smile glowing behind the visor.
    painter.setPen(QPen(QColor(255, 255, 255, 90), 2, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(QRectF(23, 34, 20, 14), 100 * 16, 60 * 16);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x7d, 0xf5, 0xff));
    painter.drawEllipse(QPointF(34, 45), 3.8, 5.2);
    painter.drawEllipse(QPointF(53, 45), 3.8, 5.2);
    painter.setPen(QPen(QColor(0x7d, 0xf5, 0xff), 2.2, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(QRectF(38.5, 46, 10, 8), 200 * 16, 140 * 16);
}

// The mascot: a small friendly robot rider on a pad of light, waving.
QImage drawMascot(const QSize &size)
{
    QImage image = newCanvas(size);
    drawWithHalo(image, QColor(0x22, 0xc8, 0xff, 110), 3, [](QPainter &painter) {
        drawHoverPad(painter);
        drawCrest(painter);
        drawLimbs(painter);
        drawBody(painter);
        drawHead(painter);
    });
    return image;
}

// A green rounded square with a white tick, and the caption below it.
QImage drawSuccessBadge(const QSize &size)
{
    QImage image = newCanvas(size);
    const QRectF square(32, 6, 124, 124);
    drawWithHalo(image, QColor(0x2c, 0xe0, 0x7f, 110), 5, [&](QPainter &painter) {
        QLinearGradient green(0, square.top(), 0, square.bottom());
        green.setColorAt(0, QColor(0x5c, 0xe6, 0x96));
        green.setColorAt(1, QColor(0x17, 0xa3, 0x58));
        painter.setPen(Qt::NoPen);
        painter.setBrush(green);
        painter.drawRoundedRect(square, 30, 30);

        QPainterPath tick;
        tick.moveTo(63, 70);
        tick.lineTo(86, 93);
        tick.lineTo(126, 50);
        painter.strokePath(tick, QPen(white, 14, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    });
    drawWithTextShadow(image, [&](QPainter &painter) {
        const QRectF captionBox(0, 140, size.width(), 40);
        fillEmboldened(painter, centredIn(textOutline(QStringLiteral("安装成功"), 34, 4), captionBox),
                       white, 1.6);
    });
    return image;
}

QImage drawMainBackground(const QSize &size)
{
    return drawNightSky(size, SkyStyle{20240611, false});
}

QImage drawInstallBackground(const QSize &size)
{
    return drawNightSky(size, SkyStyle{19870302, true});
}

} // namespace

const std::vector<Artwork> &artworks()
{
    static const std::vector<Artwork> table = {
        {QStringLiteral("main/main_background.png"), {640, 420}, drawMainBackground},
        {QStringLiteral("main/main_logo.png"), {160, 129}, drawLogo},
        {QStringLiteral("main/main_labellogo.png"), {279, 55}, drawLabelLogo},
        {QStringLiteral("main/main_backlabel.png"), {363, 43}, drawBackLabel},
        {QStringLiteral("main/main_btnsure.png"), {7, 6}, drawCheckMark},
        {QStringLiteral("main/main_quit.png"), {12, 12}, drawQuit},
        {QStringLiteral("main/main_quit_high.png"), {12, 12}, drawQuitHovered},
        {QStringLiteral("main/main_png_jiqi.png"), {87, 120}, drawMascot},
        {QStringLiteral("installing/install_background.png"), {640, 420}, drawInstallBackground},
        {QStringLiteral("installing/installing_back.png"), {87, 120}, drawMascot},
        {QStringLiteral("installing/instal__backlabel.png"), {591, 45}, drawInstallingLabel},
        {QStringLiteral("success/success_success.png"), {188, 182}, drawSuccessBadge},
    };
    return table;
}
