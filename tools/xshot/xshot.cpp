// xshot FILE.png [X Y WIDTH HEIGHT]: a picture of the X screen, or of one
// rectangle of it (the installer's pages lie on top of each other, so the
// demo takes what the screen shows where the main window is).

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2 && args.size() != 6) {
        QTextStream(stderr) << "usage: xshot FILE.png [X Y WIDTH HEIGHT]\n";
        return 2;
    }
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return 1;
    QPixmap picture;
    if (args.size() == 6)
        picture = screen->grabWindow(0, args.at(2).toInt(), args.at(3).toInt(), args.at(4).toInt(), args.at(5).toInt());
    else
        picture = screen->grabWindow(0);
    return picture.save(args.at(1)) ? 0 : 1;
}
