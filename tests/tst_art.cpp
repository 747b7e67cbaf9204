// The page images kept in the tree: each one where the pages look for it,
// an 8-bit RGBA PNG of exactly the size the pages lay out, and not blank.

#include "TestSupport.h"

#include <QImage>
#include <QImageReader>
#include <QtTest>

namespace {

QString imagePath(const QString &relative)
{
    return QStringLiteral(SOURCE_DIR "/Install/qml/") + relative;
}

qreal luminance(QRgb pixel)
{
    return (0.2126 * qRed(pixel) + 0.7152 * qGreen(pixel) + 0.0722 * qBlue(pixel)) / 255.0;
}

struct PixelStats {
    int total = 0;
    int clear = 0;    // alpha 0
    int solid = 0;    // alpha 255
    int visible = 0;  // alpha at least the threshold given
    int peakAlpha = 0;
    qreal visibleLuminance = 0;  // mean over the visible pixels
    qreal minLuminance = 1, maxLuminance = 0;
};

PixelStats pixelStats(const QImage &image, int visibleAlpha = 128)
{
    PixelStats stats;
    qreal luminanceSum = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            const int alpha = qAlpha(pixel);
            ++stats.total;
            stats.clear += alpha == 0 ? 1 : 0;
            stats.solid += alpha == 255 ? 1 : 0;
            stats.peakAlpha = qMax(stats.peakAlpha, alpha);
            stats.minLuminance = qMin(stats.minLuminance, luminance(pixel));
            stats.maxLuminance = qMax(stats.maxLuminance, luminance(pixel));
            if (alpha >= visibleAlpha) {
                ++stats.visible;
                luminanceSum += luminance(pixel);
            }
        }
    }
    stats.visibleLuminance = stats.visible ? luminanceSum / stats.visible : 0;
    return stats;
}

// The PNG header's bit depth and colour type (6 is RGBA), read from the
// file itself: the image loader would convert whatever it finds.
QPair<int, int> pngDepthAndColourType(const QByteArray &file)
{
    if (file.size() < 26 || !file.startsWith("\x89PNG\r\n\x1a\n") || file.mid(12, 4) != "IHDR")
        return {-1, -1};
    return {quint8(file.at(24)), quint8(file.at(25))};
}

} // namespace

class Tst_art : public QObject
{
    Q_OBJECT

private slots:
    void image_data();
    void image();
    void backgroundKeepsTextAreasDark_data();
    void backgroundKeepsTextAreasDark();

private:
    ScopedTestEnvironment environment;
};

void Tst_art::image_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("opaque");
    QTest::addColumn<int>("peakAlpha");
    QTest::addColumn<bool>("white");  // what shows is white (text, marks)

    QTest::newRow("main background") << "main/main_background.png" << QSize(640, 420) << true << 255 << false;
    QTest::newRow("logo") << "main/main_logo.png" << QSize(160, 129) << false << 255 << false;
    QTest::newRow("logo with name") << "main/main_labellogo.png" << QSize(279, 55) << false << 255 << false;
    QTest::newRow("main caption") << "main/main_backlabel.png" << QSize(363, 43) << false << 255 << true;
    QTest::newRow("check mark") << "main/main_btnsure.png" << QSize(7, 6) << false << 255 << true;
    QTest::newRow("close") << "main/main_quit.png" << QSize(12, 12) << false << 153 << true;
    QTest::newRow("close hovered") << "main/main_quit_high.png" << QSize(12, 12) << false << 255 << true;
    QTest::newRow("mascot, main folder") << "main/main_png_jiqi.png" << QSize(87, 120) << false << 255 << false;
    QTest::newRow("install background") << "installing/install_background.png" << QSize(640, 420) << true << 255 << false;
    QTest::newRow("mascot") << "installing/installing_back.png" << QSize(87, 120) << false << 255 << false;
    QTest::newRow("installing caption") << "installing/instal__backlabel.png" << QSize(591, 45) << false << 255 << true;
    QTest::newRow("success badge") << "success/success_success.png" << QSize(188, 182) << false << 255 << false;
}

void Tst_art::image()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QFETCH(bool, opaque);
    QFETCH(int, peakAlpha);
    QFETCH(bool, white);

    const QByteArray file = readTestFile(imagePath(path));
    QVERIFY2(!file.isEmpty(), qPrintable(imagePath(path) + QStringLiteral(" is missing or empty")));
    QCOMPARE(pngDepthAndColourType(file), qMakePair(8, 6));

    QImageReader reader(imagePath(path));
    QCOMPARE(reader.format(), QByteArray("png"));
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(image.size(), size);
    QVERIFY(image.hasAlphaChannel());

    // Colours are read unpremultiplied, so the soft edges of a white mark
    // are white too; a faint dark halo stays below half the peak.
    const PixelStats stats = pixelStats(image, peakAlpha / 2);
    QVERIFY2(qAbs(stats.peakAlpha - peakAlpha) <= 10, qPrintable(QString::number(stats.peakAlpha)));
    if (opaque) {
        QCOMPARE(stats.solid, stats.total);
        QVERIFY2(stats.maxLuminance - stats.minLuminance > 0.3, "the background is nearly uniform");
    } else {
        QVERIFY2(stats.clear >= stats.total / 5, "the background is not transparent");
        QVERIFY2(stats.visible >= stats.total / 50, "almost nothing is drawn");
    }
    if (white)
        QVERIFY2(stats.visibleLuminance > 0.9, qPrintable(QString::number(stats.visibleLuminance)));
}

// White text goes on the background at these places (the logo with the
// name, the captions, the button, the check boxes and links along the
// bottom): no bright star or streak of light may sit there.
void Tst_art::backgroundKeepsTextAreasDark_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QRect>("area");

    const QList<QPair<const char *, QRect>> areas = {
        {"logo with name", QRect(28, 16, 131, 26)},
        {"captions", QRect(170, 205, 300, 45)},
        {"button", QRect(245, 270, 150, 40)},
        {"bottom line", QRect(15, 375, 610, 22)},
    };
    for (const char *path : {"main/main_background.png", "installing/install_background.png"})
        for (const auto &area : areas)
            QTest::addRow("%s, %s", path, area.first) << QString::fromLatin1(path) << area.second;
}

void Tst_art::backgroundKeepsTextAreasDark()
{
    QFETCH(QString, path);
    QFETCH(QRect, area);

    const QImage image(imagePath(path));
    QVERIFY(!image.isNull());
    const PixelStats stats = pixelStats(image.copy(area));
    QVERIFY2(stats.maxLuminance < 0.4, qPrintable(QString::number(stats.maxLuminance)));
}

QTEST_GUILESS_MAIN(Tst_art)
#include "tst_art.moc"
