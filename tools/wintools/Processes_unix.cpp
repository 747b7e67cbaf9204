// The process table of Linux: /proc, and SIGKILL to end a process.

#include "WinTools.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <signal.h>
#include <sys/types.h>

namespace {

// The program's file name where the system shows it, else the kernel's
// short name of the process.
QString imageName(const QString &procDir)
{
    QString program = QFile::symLinkTarget(procDir + QStringLiteral("/exe"));
    const QString deleted = QStringLiteral(" (deleted)");
    if (program.endsWith(deleted))
        program.chop(deleted.size());
    if (!program.isEmpty())
        return QFileInfo(program).fileName();
    QFile comm(procDir + QStringLiteral("/comm"));
    return comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll()).trimmed() : QString();
}

qint64 residentMemoryK(const QString &procDir)
{
    QFile status(procDir + QStringLiteral("/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

} // namespace

QList<Process> ProcessTable::running()
{
    QList<Process> processes;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (!numeric)
            continue;
        const QString procDir = QStringLiteral("/proc/") + entry;
        const QString image = imageName(procDir);
        if (!image.isEmpty())
            processes.append({pid, image, residentMemoryK(procDir)});
    }
    return processes;
}

bool ProcessTable::end(const Process &process)
{
    return ::kill(pid_t(process.pid), SIGKILL) == 0 || errno == ESRCH;
}
