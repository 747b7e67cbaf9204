#include "WinTools.h"

#include <QCoreApplication>
#include <QFileInfo>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The links' own name, not the program they lead to.
    const QString name = QFileInfo(QString::fromLocal8Bit(argv[0])).fileName().toLower();
    QStringList arguments = app.arguments();
    arguments.removeFirst();

    if (name == QLatin1String("tasklist"))
        return tasklist(arguments);
    if (name == QLatin1String("taskkill"))
        return taskkill(arguments);
    if (name == QLatin1String("sc"))
        return sc(arguments);
    if (name == QLatin1String("schtasks"))
        return schtasks(arguments);
    printLines({QStringLiteral("wintools: start me as tasklist, taskkill, sc or schtasks")});
    return 1;
}
