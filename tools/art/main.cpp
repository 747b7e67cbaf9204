// Draws the installer's images into the page folder (Install/qml) and, on
// request, a preview of the pages made of them.

#include "Artwork.h"
#include "Icon.h"
#include "Painting.h"
#include "Preview.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>
#include <QtDebug>

namespace {

bool writePng(const QImage &image, const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImageWriter writer(path, "png");
    if (writer.write(image))
        return true;
    qWarning().noquote() << "cannot write" << path << ":" << writer.errorString();
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    // Fonts are all the drawing needs of the windowing system.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Draws the installer's images."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("folder"), QStringLiteral("the page folder, Install/qml"));
    const QCommandLineOption previewOption(QStringLiteral("preview"),
                                           QStringLiteral("also write a preview of the pages to <file>"),
                                           QStringLiteral("file"));
    parser.addOption(previewOption);
    const QCommandLineOption iconOption(QStringLiteral("icon"),
                                        QStringLiteral("also write the program icon to <file> (.ico)"),
                                        QStringLiteral("file"));
    parser.addOption(iconOption);
    parser.process(app);
    if (parser.positionalArguments().size() != 1)
        parser.showHelp(2);

    if (!textFamilyInstalled()) {
        qWarning() << "the font" << textFamily << "is not installed (Debian package fonts-wqy-microhei)";
        return 1;
    }

    const QDir folder(parser.positionalArguments().constFirst());
    QHash<QString, QImage> images;
    bool written = true;
    for (const Artwork &art : artworks()) {
        const QImage image = art.draw(art.size);
        Q_ASSERT(image.size() == art.size && image.format() == QImage::Format_ARGB32);
        images.insert(art.path, image);
        written = writePng(image, folder.filePath(art.path)) && written;
    }
    if (parser.isSet(previewOption))
        written = writePng(drawPagePreview(images), parser.value(previewOption)) && written;
    if (parser.isSet(iconOption)) {
        QList<QImage> sizes;
        for (int size : programIconSizes())
            sizes.append(drawProgramIcon(size));
        QFile icon(parser.value(iconOption));
        if (!icon.open(QIODevice::WriteOnly) || icon.write(iconFile(sizes)) < 0) {
            qWarning().noquote() << "cannot write" << icon.fileName();
            written = false;
        }
    }
    return written ? 0 : 1;
}
