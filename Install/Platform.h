#pragma once

// Everything that differs between Windows and Linux. The rest of the program
// calls these functions and holds no system test of its own.

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QByteArray>
#include <QVector>
#include <memory>

class QProcess;
class QSettings;
class QUrl;

namespace Platform {

// Single instance. claimSingleInstance runs before the application object
// exists: true when this process is the only installer; otherwise the first
// instance has been asked to show its window titled `title`.
bool claimSingleInstance(const QString &title);
// Once the application object exists: let a later start bring our window
// titled `title` to the front (the window lookup of Windows needs nothing).
void serveSecondInstances(const QString &title);

// A console for "--t", "--td", "--dt".
void openConsole();

// "64" or "32" for the operating system; empty when the system can't tell.
QString nativeOsBits();
// The processor values of the machine-description log line.
void processorInfo(quint64 *activeMask, quint32 *revision);

// A registry key (a path such as "HKEY_LOCAL_MACHINE\Software\...\LRI\"),
// opened through the native settings; values keep their names and types.
std::unique_ptr<QSettings> openRegistryKey(const QString &keyPath);
// Where the registry lives when it is emulated (empty on Windows).
QString registryFilePath();

// Install folder when no earlier install is recorded.
QString defaultInstallPath();

// The text in which the installer's own image name is looked up for the
// channel tag. Asking the system for it starts when the object is made and
// runs beside the rest of the start-up; read() waits for it. Empty when it
// could not be had within timeoutMs.
class ImageListing
{
public:
    explicit ImageListing(int timeoutMs);
    ~ImageListing();
    ImageListing(const ImageListing &) = delete;
    ImageListing &operator=(const ImageListing &) = delete;

    QByteArray read();

private:
    struct Run;
    std::unique_ptr<Run> run;
};

// The program to run for one of the system tools tasklist, taskkill, sc and
// schtasks, and the environment their children run in.
QString toolProgram(const QString &tool);
QProcessEnvironment toolEnvironment();

// One program to run: its arguments as a list, or (on Windows) as the
// command-line text it is handed as it stands, and the folder it runs in
// (the caller's when empty).
struct Command {
    QString program;
    QStringList arguments;
    QString nativeArguments;
    QString workingDirectory;
};
// How a batch file is run as one command.
Command batchCommand(const QString &batchPath);
// Starts the command in `process`.
void startCommand(QProcess &process, const Command &command);

// A shortcut at linkPath (a ".lnk" path) that starts target.
bool createShortcut(const QString &linkPath, const QString &target);
// How a launcher names the program it starts: quoted so a path with blanks
// stays one program (the Exec value of a desktop entry on Linux).
QString launcherCommand(const QString &program);

// The program of the logon task as it stands on the batch file's line: the
// tool is handed the path in quotes of its own, so the task keeps a path
// with blanks as one program, and nothing in the path is expanded by the
// command interpreter that runs the batch file.
QString batchTaskTarget(const QString &program);
// A program to run, as it stands at the start of a line of the batch file:
// one word, taken literally.
QString batchProgram(const QString &program);

// One entry of a folder listing; `folder` is set for a real folder, never
// for a link to one.
struct FolderEntry
{
    QString name;
    bool folder = false;
};
// The entries of a folder as the system's default listing shows them:
// folders and files, no hidden or system entries, no "." or "..", sorted
// by name ignoring case. Empty when the folder can't be read, and then
// *readable (when given) is false.
QVector<FolderEntry> listFolder(const QString &path, bool *readable = nullptr);
// What counting a folder's files needs of its listing: the folders among
// its entries (in no particular order) and how many others there are.
struct FolderCount
{
    QStringList folders;
    int files = 0;
};
FolderCount countFolder(const QString &path);

// Copies files of one folder into another, each with the system's fastest
// whole-file copy. A copy is written beside its target under a temporary
// name, hidden from folder listings, and put in its place once whole, also
// where no file was there before: a failure part-way leaves an existing
// target as it was and no temporary file behind, and a copy cut off (the
// process killed) leaves at most its temporary file, never a part of a
// file under the target's name. An existing target is kept (and the copy
// fails) when replaceExisting is false, and so is one the user may not
// write. A symbolic link is copied as a link, never followed.
class FolderCopy
{
public:
    FolderCopy(const QString &sourceFolder, const QString &targetFolder);
    ~FolderCopy();
    FolderCopy(const FolderCopy &) = delete;
    FolderCopy &operator=(const FolderCopy &) = delete;

    // Removes from the target folder the temporary files that copies cut
    // off there have left, and nothing else: only names of the very form
    // this class gives its temporary files. Returns how many it removed.
    int removeLeftovers();

    // Copies the entry `name` of the source folder to the same name in the
    // target folder.
    bool copy(const QString &name, bool replaceExisting);

private:
    struct Folders;
    std::unique_ptr<Folders> folders;
};

// Appends `bytes` to the file at `path` (made when missing) in one open,
// write and close, so they are in the file when it returns.
bool appendToFile(const QString &path, const QByteArray &bytes);

// Starts the installed client without waiting for it. On failure *errorCode
// holds the system's error value (a shell result of 32 or less on Windows).
bool launchClient(const QString &program, const QStringList &parameters, int *errorCode);

// Opens a web address in the user's browser.
void openWebAddress(const QUrl &url);

// Where the system offers no crash filter of its own to the program (Linux):
// on a fault, write the crash record "crash.dmp" in the current folder, run
// this program again as the crash reporter with the values set below added
// to its environment, wait for it, then end as the fault would have.
// Windows has its top-level exception filter instead; nothing happens here.
void installCrashHandler();
// A value the crash reporter is handed in its environment, as it stands
// when the crash comes (the last one set under `name`).
void setCrashReporterValue(const QString &name, const QString &value);
// An alternate stack for the calling thread, for as long as the object
// lives: the crash handler then runs also after the thread's own stack has
// overflowed. Every thread the installer starts keeps one.
class ThreadCrashStack
{
public:
    ThreadCrashStack();
    ~ThreadCrashStack();
    ThreadCrashStack(const ThreadCrashStack &) = delete;
    ThreadCrashStack &operator=(const ThreadCrashStack &) = delete;

private:
    void *stack = nullptr;
};

// The crash this process was started to report, if it was.
struct CrashReport
{
    bool valid = false;
    QString code;    // the Windows exception code of the fault, lower-case hex
    QString address; // where it happened, lower-case hex
};
CrashReport pendingCrashReport();

} // namespace Platform
