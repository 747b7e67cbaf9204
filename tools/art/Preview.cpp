#include "Preview.h"

#include "Painting.h"

#include <QPainter>

namespace {

const QSize pageSize(640, 420);
const int pageGap = 12;
const QColor buttonBlue(0x0e, 0xba, 0xe5);
const QColor boxBorder(0xd2, 0xd2, 0xd4);

class Page
{
public:
    Page(QPainter &painter, const QHash<QString, QImage> &images) : painter(painter), images(images) {}

    // An image scaled into `box` keeping its aspect ratio and centred there,
    // as the pages' images are.
    void image(const QString &path, const QRectF &box)
    {
        const QImage &picture = images.value(path);
        QSizeF fitted = QSizeF(picture.size()).scaled(box.size(), Qt::KeepAspectRatio);
        QRectF target(QPointF(), fitted);
        target.moveCenter(box.center());
        painter.drawImage(target, picture);
    }

    void text(const QString &line, const QPointF &topLeft, int pixelSize, qreal opacity)
    {
        painter.save();
        painter.setFont(textFont(pixelSize));
        painter.setOpacity(opacity);
        painter.setPen(Qt::white);
        painter.drawText(QRectF(topLeft, QSizeF(400, pixelSize * 2)), Qt::AlignLeft | Qt::AlignTop, line);
        painter.restore();
    }

    qreal textWidth(const QString &line, int pixelSize)
    {
        return QFontMetricsF(textFont(pixelSize)).horizontalAdvance(line);
    }

    void button(const QString &label)
    {
        painter.setPen(Qt::NoPen);
        painter.setBrush(buttonBlue);
        painter.drawRoundedRect(QRectF(245, 270, 150, 40), 4, 4);
        text(label, QPointF(245 + 38, 270 + 11), 18, 1.0);
    }

    void checkBox(const QPointF &at, const QString &label, bool checked)
    {
        painter.setPen(QPen(boxBorder, 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRectF(at + QPointF(0.5, 0.5), QSizeF(13, 13)));
        if (checked)
            image(QStringLiteral("main/main_btnsure.png"), QRectF(at + QPointF(4, 4), QSizeF(7, 6)));
        text(label, at + QPointF(20, 0), 13, 0.6);
    }

    // What all three pages share: the background, the logo with the name and
    // the close button.
    void frame()
    {
        image(QStringLiteral("main/main_background.png"), QRectF(QPointF(), pageSize));
        image(QStringLiteral("main/main_labellogo.png"), QRectF(28, 16, 131, 26));
        image(QStringLiteral("main/main_quit.png"), QRectF(pageSize.width() - 25 - 12, 22, 12, 12));
    }

private:
    QPainter &painter;
    const QHash<QString, QImage> &images;
};

void drawMainPage(Page &page)
{
    page.frame();
    page.image(QStringLiteral("main/main_logo.png"), QRectF(280, 105, 80, 64.5));
    page.image(QStringLiteral("main/main_backlabel.png"), QRectF(230, 210, 181.5, 21.5));
    page.button(QStringLiteral("立即安装"));
    const QString agree = QStringLiteral("我已阅读并同意");
    page.checkBox(QPointF(20, 380), agree, true);
    page.text(QStringLiteral("<<流光骑士用户协议>>"), QPointF(40 + page.textWidth(agree, 13) + 5, 380), 13, 0.6);
    const QString custom = QStringLiteral("自定义安装 > ");
    page.text(custom, QPointF(640 - 25 - page.textWidth(custom, 13), 380), 13, 0.6);
}

void drawInstallingPage(Page &page, QPainter &painter)
{
    page.frame();
    page.image(QStringLiteral("installing/installing_back.png"), QRectF(280, 80, 87, 120));
    page.image(QStringLiteral("installing/instal__backlabel.png"), QRectF(170, 220, 295.5, 22.5));
    const QRectF bar(15, 340, 610, 7);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 26));
    painter.drawRoundedRect(bar, 3.5, 3.5);
    painter.setBrush(QColor(0x11, 0xcf, 0xff));
    painter.drawRoundedRect(QRectF(bar.topLeft(), QSizeF(bar.width() * 0.42, bar.height())), 3.5, 3.5);
    page.text(QStringLiteral("正在安装中.."), QPointF(15, 367), 13, 0.6);
    const QString done = QStringLiteral("已完成42%");
    page.text(done, QPointF(625 - page.textWidth(done, 13), 367), 13, 0.6);
}

void drawSuccessPage(Page &page)
{
    page.frame();
    page.image(QStringLiteral("success/success_success.png"), QRectF(270, 128, 96, 92));
    page.button(QStringLiteral("立即体验"));
}

} // namespace

QImage drawPagePreview(const QHash<QString, QImage> &images)
{
    QImage preview = newCanvas(QSize(pageSize.width(), 3 * pageSize.height() + 2 * pageGap), Qt::white);
    QPainter painter(&preview);
    setSmoothRendering(painter);
    Page page(painter, images);
    drawMainPage(page);
    painter.translate(0, pageSize.height() + pageGap);
    drawInstallingPage(page, painter);
    painter.translate(0, pageSize.height() + pageGap);
    drawSuccessPage(page);
    return preview;
}
