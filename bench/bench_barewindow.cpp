// The baseline of the start-up benchmark: a Qt Quick window that imports
// what the installer's main page imports, started the way the installer
// starts, and nothing else.

#include <QApplication>
#include <QQmlApplicationEngine>
#include <QUrl>

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication app(argc, argv);
    QQmlApplicationEngine engine;
    engine.load(QUrl(QStringLiteral("qrc:/bare.qml")));
    if (engine.rootObjects().isEmpty())
        return -1;
    return app.exec();
}
