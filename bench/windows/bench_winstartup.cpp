// Start-up to the first frame of the Windows installer under Wine, against
// the Windows build of the bare Qt Quick window (bench_barewindow.exe: the
// same kit, the same imports). A Linux program: each is started through
// `wine` in the same prefix, whose wineserver, services and desktop run
// already, in turns, and timed from the start of `wine` to the first
// damage the X server reports on a window of theirs (bench/FirstFrame.h),
// so Wine's start of a process counts on both sides alike. That damage is
// the server clearing the window as it is mapped: the installer's page
// follows some 25 ms later, the bare window draws nothing more, so there
// is no later frame of both to wait for. The installer talks to the
// vendor-API stand-in on loopback.
//
//   bench_winstartup INSTALLER BARE_WINDOW   Linux paths of the two .exe files,
//                                            each in a folder with what it needs

#include "BenchSupport.h"
#include "FirstFrame.h"
#include "VendorApiServer.h"
#include "Wine.h"

#include <QCoreApplication>

#include <csignal>
#include <dirent.h>
#include <sys/prctl.h>

namespace {

const int runs = 9;
const double timeoutSeconds = 60;

// The processes whose parent we are: what a start left behind comes to us
// (we are their subreaper), also where Wine started it in a session of its
// own.
QVector<pid_t> children()
{
    QVector<pid_t> found;
    DIR *proc = opendir("/proc");
    if (!proc)
        return found;
    const pid_t self = getpid();
    while (dirent *entry = readdir(proc)) {
        const pid_t pid = pid_t(atoi(entry->d_name));
        if (pid <= 0)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ...": the name may hold blanks and brackets.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toInt() == self)
            found << pid;
    }
    closedir(proc);
    return found;
}

// Our own children that are no start's: the vendor-API stand-in.
QVector<pid_t> keptChildren;

// Ends the start and everything it started, and waits for all of it: the
// next start must not find this one's single-instance mutex, nor share the
// processor with what it left running.
void endStart(pid_t pid)
{
    if (pid > 0)
        kill(-pid, SIGKILL);
    const double deadline = bench::monotonicSeconds() + 10;
    while (bench::monotonicSeconds() < deadline) {
        while (waitpid(-1, nullptr, WNOHANG) > 0) {
        }
        QVector<pid_t> left = children();
        left.erase(std::remove_if(left.begin(), left.end(), [](pid_t child) { return keptChildren.contains(child); }),
                   left.end());
        if (left.isEmpty())
            break;
        for (pid_t child : left)
            kill(child, SIGKILL);
        usleep(2000);
    }
    // The wineserver learns of the ends from the closed connections; give
    // it and the desktop process a moment, the same after either program.
    usleep(300 * 1000);
}

// Qt Quick's default renderer needs OpenGL, which Wine on an X server
// without a GPU does not give the kit's Qt (the bare window then shows
// only Qt's "Failed to create OpenGL context" box). The installer draws
// with Qt Quick's software renderer of its own accord; the bare window is
// told to, through Wine, which hands QT_ variables to Windows programs
// only under a WINE prefix.
const char bareRendererVariable[] = "WINEQT_QUICK_BACKEND";

// One start of `program` until its first frame; it is then ended.
double firstFrame(const QString &program, bool softwareRenderer = false)
{
    bench::Arguments argv(bench::wineCommand(program));
    const QByteArray folder = QFile::encodeName(QFileInfo(program).absolutePath());
    pid_t pid = -1;
    const double seconds = secondsToFirstFrame(
        [&] {
            pid = fork();
            if (pid == 0) {
                // A group of its own, so it ends with all it started; its
                // own folder is its current one, as when it is opened in
                // Explorer.
                setpgid(0, 0);
                if (chdir(folder.constData()) != 0)
                    _exit(127);
                if (softwareRenderer)
                    setenv(bareRendererVariable, "software", 1);
                const int null = open("/dev/null", O_WRONLY);
                dup2(null, STDOUT_FILENO);
                dup2(null, STDERR_FILENO);
                execvp(argv.program(), argv.list());
                _exit(127);
            }
            return pid > 0;
        },
        timeoutSeconds);
    endStart(pid);
    return seconds;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        bench::note(QStringLiteral("usage: bench_winstartup INSTALLER.exe BARE_WINDOW.exe"));
        return 2;
    }
    if (!bench::winePrefixReady("bench_winstartup"))
        return 1;
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        bench::note(QStringLiteral("bench_winstartup: needs an X server (DISPLAY)"));
        return 1;
    }
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    const QString installer = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    const QString bare = QFileInfo(QString::fromLocal8Bit(argv[2])).absoluteFilePath();
    VendorApiServer server;
    if (!server.start()) {
        bench::note(QStringLiteral("bench_winstartup: the vendor-API stand-in did not start"));
        return 1;
    }
    qputenv("LUMENRIDER_DOMAIN_LIST_URL", server.domainListUrl().toUtf8());
    keptChildren = children();

    // A start of each first, so both find their libraries in memory.
    firstFrame(installer);
    firstFrame(bare, true);
    QVector<double> ours, theirs;
    bool ok = true;
    for (int i = 0; i < runs; ++i) {
        const bool oursFirst = i % 2 == 0;
        const double first = oursFirst ? firstFrame(installer) : firstFrame(bare, true);
        const double second = oursFirst ? firstFrame(bare, true) : firstFrame(installer);
        ours << (oursFirst ? first : second);
        theirs << (oursFirst ? second : first);
        ok = ok && first > 0 && second > 0;
    }
    if (!ok)
        bench::note(QStringLiteral("bench_winstartup: a start showed no frame within %1 s").arg(timeoutSeconds));
    const double a = bench::median(ours), b = bench::median(theirs);
    bench::printRow(QStringLiteral("Windows start-up to first frame (median of %1)").arg(runs),
                    bench::figure(ours, bench::Unit::Seconds),
                    bench::figure(theirs, bench::Unit::Seconds, QStringLiteral("bare window")),
                    bench::ratioOf(ours, theirs), QStringLiteral("≤ 1.50"), ok && a <= 1.5 * b);
    return ok ? 0 : 1;
}
