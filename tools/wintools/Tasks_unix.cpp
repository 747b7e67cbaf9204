// Logon tasks as freedesktop autostart entries, which Linux desktops start
// at logon; the entries made here carry a mark of their own.

#include "WinTools.h"

#include "Platform.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

const QByteArray madeBySchtasks = QByteArrayLiteral("X-LumenRider-Schtasks=true");

QString autostartFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/autostart");
}

bool madeHere(const QString &entryPath)
{
    QFile entry(entryPath);
    return entry.open(QIODevice::ReadOnly) && entry.readAll().split('\n').contains(madeBySchtasks);
}

} // namespace

QStringList TaskStore::names()
{
    QStringList names;
    const QDir folder(autostartFolder());
    for (const QString &file : folder.entryList({QStringLiteral("*.desktop")}, QDir::Files, QDir::Name)) {
        if (madeHere(folder.filePath(file)))
            names << QFileInfo(file).completeBaseName();
    }
    return names;
}

// A desktop entry knows nothing of run levels: the program starts as the
// user who logs on.
bool TaskStore::write(const LogonTask &task)
{
    if (!QDir().mkpath(autostartFolder()))
        return false;
    QSaveFile entry(autostartFolder() + QLatin1Char('/') + task.name + QStringLiteral(".desktop"));
    if (!entry.open(QIODevice::WriteOnly))
        return false;
    const QString text = QStringLiteral("[Desktop Entry]\nType=Application\nName=%1\nExec=%2\n")
                             .arg(task.name, Platform::launcherCommand(task.program));
    entry.write(text.toUtf8() + madeBySchtasks + '\n');
    return entry.commit();
}
