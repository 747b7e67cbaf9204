#pragma once

// What the install-engine tests share: processes running under the client's
// kind of names, and runs of the Windows-tool stand-ins.

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cerrno>
#include <signal.h>

// A name of the client's kind that no other test program uses at the same
// time, short enough for the kernel's 15-character process name.
inline QString uniqueImageName(const QString &prefix)
{
    return QStringLiteral("%1%2.exe").arg(prefix).arg(QCoreApplication::applicationPid() % 100000);
}

// A copy of cat running under a name of our choice: it lives until its
// input is closed, which also ends it when it belongs to another user.
class NamedProcess
{
public:
    ~NamedProcess() { stop(); }

    // Starts the copy; as the user "nobody" when asOtherUser is set, from a
    // folder that user can enter.
    bool start(const QString &name, bool asOtherUser = false)
    {
        const QString program = folder.path() + QLatin1Char('/') + name;
        const QFile::Permissions open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                        | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
        if (!QFile::setPermissions(folder.path(), open) || !QFile::copy(QStringLiteral("/bin/cat"), program)
            || !QFile::setPermissions(program, open))
            return false;
        if (asOtherUser)
            process.start(QStringLiteral("setpriv"), {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                                      QStringLiteral("--clear-groups"), QStringLiteral("--"), program});
        else
            process.start(program, QStringList());
        return process.waitForStarted(10000);
    }

    // True once the process runs the copy (setpriv has handed over to it).
    bool runsAs(const QString &name) const
    {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid()));
        return cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().split('\0').value(0).endsWith(name.toUtf8());
    }

    bool running() const { return process.state() == QProcess::Running; }
    qint64 pid() const { return process.processId(); }
    // True when this test may not signal the process: the system's refusal.
    bool refusesSignals() const { return ::kill(pid_t(pid()), 0) != 0 && errno == EPERM; }

    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.closeWriteChannel();
        if (!process.waitForFinished(10000)) {
            process.kill();
            process.waitForFinished(10000);
        }
    }

    QProcess process;

private:
    QTemporaryDir folder;
};

struct StandInRun
{
    int exitCode = -1;
    QString output;
};

// Runs one of the stand-ins tasklist, taskkill, sc, schtasks as a child.
inline StandInRun runStandIn(const QString &tool, const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(WINTOOLS_DIR "/") + tool, arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput())};
}
