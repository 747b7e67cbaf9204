// The installed client as the demo shows it ("lumenrider.exe"): a window with
// what the installer recorded in temp/config/config.ini, and a record of each
// start in temp/launches.jsonl, both beside the program.
//
// "--exit-after-ms N" ends it after N ms, for tests.

#include "ClientConfig.h"
#include "ClientWindow.h"
#include "LaunchRecord.h"

#include <QApplication>
#include <QDir>
#include <QTimer>
#include <QtDebug>

namespace {

// The value after "--exit-after-ms", or -1 when there is none or it is no
// number of milliseconds.
int exitAfterMs(const QStringList &arguments)
{
    const int at = arguments.indexOf(QStringLiteral("--exit-after-ms"));
    if (at < 0 || at + 1 >= arguments.size())
        return -1;
    bool ok = false;
    const int ms = arguments.at(at + 1).toInt(&ok);
    return ok && ms >= 0 ? ms : -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString home = QCoreApplication::applicationDirPath();
    const QStringList arguments = app.arguments().mid(1);
    const ClientConfig config = ClientConfig::read(home + QStringLiteral("/temp/config/config.ini"));

    const QString recordPath = home + QStringLiteral("/temp/launches.jsonl");
    if (!appendLaunchRecord(recordPath, launchRecord(QCoreApplication::applicationPid(), arguments,
                                                      QDir::currentPath(), config)))
        qWarning() << "cannot append the launch record to" << recordPath;

    ClientWindow window(config, QDir::toNativeSeparators(home), arguments);
    window.show();

    const int ms = exitAfterMs(arguments);
    if (ms >= 0)
        QTimer::singleShot(ms, &app, &QCoreApplication::quit);
    return app.exec();
}
