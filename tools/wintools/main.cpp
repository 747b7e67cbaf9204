#include "WinTools.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

// The name the tool was started under, less ".exe", in lower case.
QString toolName(const char *argv0)
{
#ifdef Q_OS_WIN
    // The copy's own file, whatever command line the caller wrote.
    Q_UNUSED(argv0)
    QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
#else
    // The links' own name, not the program they lead to.
    QString name = QFileInfo(QString::fromLocal8Bit(argv0)).fileName();
#endif
    if (name.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive))
        name.chop(4);
    return name.toLower();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString name = toolName(argv[0]);
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
