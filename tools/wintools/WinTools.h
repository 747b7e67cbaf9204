#pragma once

// Stand-ins for tasklist, taskkill, sc and schtasks: the arguments the
// installer passes, the texts a Chinese-language Windows prints, the same
// exit codes. The texts and the argument handling are shared; what each
// tool acts on is a backend of its own per system (the *_win.cpp files on
// Windows' real state, the *_unix.cpp files on Linux).

#include <QList>
#include <QString>
#include <QStringList>

// Writes the lines with Windows line ends, in the encoding the installer
// decodes: the local 8-bit code page on Windows (936 on a Chinese one),
// UTF-8 on Linux.
void printLines(const QStringList &lines);
// Whether `argument` is the option `option`, in any letter case.
bool isOption(const QString &argument, const char *option);
// The argument after the option `option`; empty when there is none.
QString optionValue(const QStringList &arguments, const char *option);

int tasklist(const QStringList &arguments);
int taskkill(const QStringList &arguments);
int sc(const QStringList &arguments);
int schtasks(const QStringList &arguments);

// --- What the backends provide ---

struct Process
{
    qint64 pid;
    QString image;
    qint64 memoryK;
};

namespace ProcessTable {
QList<Process> running();
// False when the system refused; a process that ended meanwhile needs no
// ending and counts as ended.
bool end(const Process &process);
} // namespace ProcessTable

struct ServiceConfig
{
    int type = 0;  // SERVICE_KERNEL_DRIVER 1, SERVICE_WIN32_OWN_PROCESS 16, ...
    int start = 0; // SERVICE_AUTO_START 2, SERVICE_DEMAND_START 3, SERVICE_DISABLED 4
    QString binaryPath;
};

// How a call on a service came out: code 0, or the Windows error code and
// the name of the call that failed, as sc names it in its message.
struct ServiceResult
{
    int code = 0;
    const char *operation = "";
};

namespace ServiceManager {
ServiceResult queryConfig(const QString &name, ServiceConfig *config);
// The state (SERVICE_RUNNING 4, ...) and type the service reports.
ServiceResult queryStatus(const QString &name, int *state, int *type);
ServiceResult stop(const QString &name);
// `state` is the one the manager reports once the start was accepted.
ServiceResult start(const QString &name, int *state);
ServiceResult remove(const QString &name);
ServiceResult create(const QString &name, const ServiceConfig &config);
// The system's text for an error code no message of sc's own covers.
QString errorMessage(int code);
} // namespace ServiceManager

struct LogonTask
{
    QString name;
    QString program; // without the quotes that kept it one word
    bool interactive = false;
    QString runLevel;
};

namespace TaskStore {
// The logon tasks made by this schtasks, by name.
QStringList names();
// False when the system refused the write.
bool write(const LogonTask &task);
} // namespace TaskStore
