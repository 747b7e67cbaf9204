// schtasks on freedesktop autostart entries, which Linux desktops start at
// logon. Only the entries made here count as tasks.

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

int listTasks()
{
    QStringList lines{QString(), QStringLiteral("文件夹: \\"),
                      QStringLiteral("任务名                                   下次运行时间           模式"),
                      QStringLiteral("======================================== ====================== ===============")};
    const QDir folder(autostartFolder());
    for (const QString &file : folder.entryList({QStringLiteral("*.desktop")}, QDir::Files, QDir::Name)) {
        if (madeHere(folder.filePath(file)))
            lines << QFileInfo(file).completeBaseName().leftJustified(40) + QLatin1Char(' ')
                         + QStringLiteral("N/A").leftJustified(22) + QLatin1Char(' ') + QStringLiteral("就绪");
    }
    printLines(lines);
    return 0;
}

// The program the task starts, without the quotes that keep it one word.
QString unquoted(QString target)
{
    if (target.size() >= 2 && target.startsWith(QLatin1Char('"')) && target.endsWith(QLatin1Char('"')))
        target = target.mid(1, target.size() - 2);
    return target;
}

bool writeAutostartEntry(const QString &name, const QString &program)
{
    if (!QDir().mkpath(autostartFolder()))
        return false;
    QSaveFile entry(autostartFolder() + QLatin1Char('/') + name + QStringLiteral(".desktop"));
    if (!entry.open(QIODevice::WriteOnly))
        return false;
    const QString text = QStringLiteral("[Desktop Entry]\nType=Application\nName=%1\nExec=%2\n")
                             .arg(name, Platform::launcherCommand(program));
    entry.write(text.toUtf8() + madeBySchtasks + '\n');
    return entry.commit();
}

// schtasks /create /tn NAME /tr TARGET /sc onlogon /IT /RL HIGHEST
int createTask(const QStringList &arguments)
{
    const QString name = optionValue(arguments, "/tn");
    const QString target = unquoted(optionValue(arguments, "/tr"));
    if (name.isEmpty() || target.isEmpty() || !isOption(optionValue(arguments, "/sc"), "onlogon")) {
        printLines({QStringLiteral("错误: 无效语法。")});
        return 1;
    }
    if (!writeAutostartEntry(name, target)) {
        printLines({QStringLiteral("错误: 拒绝访问。")});
        return 1;
    }
    printLines({QStringLiteral("成功: 成功创建计划任务 \"%1\"。").arg(name)});
    return 0;
}

} // namespace

int schtasks(const QStringList &arguments)
{
    if (arguments.isEmpty())
        return listTasks();
    if (isOption(arguments.at(0), "/create"))
        return createTask(arguments);
    printLines({QStringLiteral("错误: 无效参数/选项 - '%1'。").arg(arguments.at(0))});
    return 1;
}
