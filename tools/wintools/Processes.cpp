// tasklist and taskkill on the real process table (ProcessTable: /proc on
// Linux, a Toolhelp snapshot on Windows).

#include "WinTools.h"

#include <QLocale>

namespace {

// As on Windows, image names match in any letter case.
QList<Process> processesNamed(const QString &name)
{
    QList<Process> matches;
    for (const Process &process : ProcessTable::running()) {
        if (process.image.compare(name, Qt::CaseInsensitive) == 0)
            matches.append(process);
    }
    return matches;
}

QStringList processTable(const QList<Process> &processes)
{
    QStringList lines{QString(),
                      QStringLiteral("映像名称                       PID 会话名              会话#       内存使用"),
                      QStringLiteral("========================= ======== ================ =========== ============")};
    const QLocale english(QLocale::English);
    for (const Process &process : processes) {
        lines << process.image.leftJustified(25) + QLatin1Char(' ')
                     + QString::number(process.pid).rightJustified(8) + QLatin1Char(' ')
                     + QStringLiteral("Console").leftJustified(16) + QLatin1Char(' ')
                     + QStringLiteral("1").rightJustified(11) + QLatin1Char(' ')
                     + (english.toString(process.memoryK) + QStringLiteral(" K")).rightJustified(12);
    }
    return lines;
}

// The NAME of the filter "imagename eq NAME"; empty when it is another filter.
QString filteredImage(const QString &filter)
{
    const QString prefix = QStringLiteral("imagename eq ");
    const QString simplified = filter.simplified();
    return simplified.startsWith(prefix, Qt::CaseInsensitive) ? simplified.mid(prefix.size()) : QString();
}

} // namespace

int tasklist(const QStringList &arguments)
{
    if (arguments.isEmpty()) {
        printLines(processTable(ProcessTable::running()));
        return 0;
    }
    const QString image = arguments.size() == 2 && isOption(arguments.at(0), "/FI") ? filteredImage(arguments.at(1))
                                                                                   : QString();
    if (image.isEmpty()) {
        printLines({QStringLiteral("错误: 无效参数/选项。")});
        return 1;
    }
    const QList<Process> matches = processesNamed(image);
    if (matches.isEmpty()) {
        printLines({QStringLiteral("信息: 没有运行的任务匹配指定标准。")});
        return 0;
    }
    printLines(processTable(matches));
    return 0;
}

int taskkill(const QStringList &arguments)
{
    const QString name = optionValue(arguments, "/im");
    if (name.isEmpty()) {
        printLines({QStringLiteral("错误: 无效语法。")});
        return 1;
    }
    const QList<Process> matches = processesNamed(name);
    if (matches.isEmpty()) {
        printLines({QStringLiteral("错误: 没有找到进程 \"%1\"。").arg(name)});
        return 128;
    }
    int exitCode = 0;
    for (const Process &process : matches) {
        if (ProcessTable::end(process)) {
            printLines({QStringLiteral("成功: 已终止进程 \"%1\"，其 PID 为 %2。").arg(process.image).arg(process.pid)});
        } else {
            printLines({QStringLiteral("错误: 无法终止 PID 为 %1 的进程 \"%2\"。").arg(process.pid).arg(process.image),
                        QStringLiteral("原因: 拒绝访问。")});
            exitCode = 1;
        }
    }
    return exitCode;
}
