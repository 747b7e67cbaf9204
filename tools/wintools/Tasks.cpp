// schtasks for logon tasks (TaskStore: the stand-in's own store in the
// registry on Windows, freedesktop autostart entries on Linux). Only the
// tasks made here count as tasks.

#include "WinTools.h"

#include <algorithm>

namespace {

int listTasks()
{
    QStringList lines{QString(), QStringLiteral("文件夹: \\"),
                      QStringLiteral("任务名                                   下次运行时间           模式"),
                      QStringLiteral("======================================== ====================== ===============")};
    for (const QString &name : TaskStore::names())
        lines << name.leftJustified(40) + QLatin1Char(' ') + QStringLiteral("N/A").leftJustified(22) + QLatin1Char(' ')
                     + QStringLiteral("就绪");
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

// A task is one entry of the store: a name that would lead into a folder
// (or out of it) names none.
bool validTaskName(const QString &name)
{
    return !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && name != QLatin1String(".")
           && name != QLatin1String("..");
}

// schtasks /create /tn NAME /tr TARGET /sc onlogon /IT /RL HIGHEST
int createTask(const QStringList &arguments)
{
    LogonTask task;
    task.name = optionValue(arguments, "/tn");
    task.program = unquoted(optionValue(arguments, "/tr"));
    if (task.name.isEmpty() || task.program.isEmpty() || !isOption(optionValue(arguments, "/sc"), "onlogon")) {
        printLines({QStringLiteral("错误: 无效语法。")});
        return 1;
    }
    if (!validTaskName(task.name)) {
        printLines({QStringLiteral("错误: 文件名、目录名或卷标语法不正确。")});
        return 1;
    }
    task.interactive = std::any_of(arguments.cbegin(), arguments.cend(),
                                   [](const QString &argument) { return isOption(argument, "/IT"); });
    task.runLevel = optionValue(arguments, "/RL").toUpper();
    if (task.runLevel.isEmpty())
        task.runLevel = QStringLiteral("LIMITED");
    if (!TaskStore::write(task)) {
        printLines({QStringLiteral("错误: 拒绝访问。")});
        return 1;
    }
    printLines({QStringLiteral("成功: 成功创建计划任务 \"%1\"。").arg(task.name)});
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
