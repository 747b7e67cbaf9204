// xshot FILE.png [WINDOW-ID]: a picture of the whole screen, or of one
// window given by its X id (as xdotool prints it).

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        QTextStream(stderr) << "usage: xshot FILE.png [WINDOW-ID]\n";
        return 2;
    }
    const WId window = args.size() > 2 ? WId(args.at(2).toULongLong()) : 0;
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return 1;
    return screen->grabWindow(window).save(args.at(1)) ? 0 : 1;
}
