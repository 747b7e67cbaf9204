// Start-up to the first frame of the main page, against a bare Qt Quick
// window importing the same modules (bench_barewindow). Both are started
// the same way, in turns, and timed from the start to the first drawing
// the X server sees on their window. The installer talks to the vendor-API
// stand-in on loopback and finds the Windows-tool stand-ins of the build.
//
// As root each program runs in a process namespace of its own, so the
// installer's start-up step that stops the client's processes can't touch
// a process of the machine's.

#include "BenchSupport.h"
#include "FirstFrame.h"
#include "TestSupport.h"
#include "VendorApiServer.h"

#include <QCoreApplication>

#include <csignal>
#include <sys/prctl.h>

namespace {

const int runs = 9;
const double timeoutSeconds = 60;

QStringList isolated(const QStringList &command)
{
    static const bool namespaces =
        bench::runChild({QStringLiteral("unshare"), QStringLiteral("--pid"), QStringLiteral("--fork"),
                         QStringLiteral("--mount-proc"), QStringLiteral("true")})
            .ok;
    if (!namespaces)
        return command;
    return QStringList{QStringLiteral("unshare"), QStringLiteral("--pid"), QStringLiteral("--fork"),
                       QStringLiteral("--mount-proc"), QStringLiteral("--kill-child")}
           + command;
}

// One start of `command` until its first frame; the program is then ended.
double firstFrame(const QStringList &command)
{
    bench::Arguments argv(isolated(command));

    pid_t pid = -1;
    const double seconds = secondsToFirstFrame(
        [&] {
            pid = fork();
            if (pid == 0) {
                // A group of its own, so it ends with all it started.
                setpgid(0, 0);
                const int null = open("/dev/null", O_WRONLY);
                dup2(null, STDOUT_FILENO);
                dup2(null, STDERR_FILENO);
                execvp(argv.program(), argv.list());
                _exit(127);
            }
            return pid > 0;
        },
        timeoutSeconds);
    if (pid > 0) {
        // The next start must not find this one still holding the
        // installer's single-instance lock.
        // What it leaves behind comes to us (we are their subreaper), so
        // each can be collected as it ends.
        kill(-pid, SIGKILL);
        const double deadline = bench::monotonicSeconds() + 10;
        while (kill(-pid, 0) == 0 && bench::monotonicSeconds() < deadline) {
            if (waitpid(-1, nullptr, WNOHANG) <= 0)
                usleep(1000);
        }
    }
    return seconds;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        bench::note(QStringLiteral("bench_startup: needs an X server (DISPLAY)"));
        return 1;
    }
    ScopedTestEnvironment environment;
    VendorApiServer server;
    if (!server.start()) {
        bench::note(QStringLiteral("bench_startup: the vendor-API stand-in did not start"));
        return 1;
    }
    environment.set("LUMENRIDER_DOMAIN_LIST_URL", server.domainListUrl());
    const QString bare = QCoreApplication::applicationDirPath() + QStringLiteral("/bench_barewindow");
    const QStringList installer{QStringLiteral(INSTALLER_EXE)};

    // A start of each first, so both find their libraries in memory.
    firstFrame(installer);
    firstFrame({bare});
    QVector<double> ours, theirs;
    bool ok = true;
    for (int i = 0; i < runs; ++i) {
        const bool oursFirst = i % 2 == 0;
        const double first = firstFrame(oursFirst ? installer : QStringList{bare});
        const double second = firstFrame(oursFirst ? QStringList{bare} : installer);
        ours << (oursFirst ? first : second);
        theirs << (oursFirst ? second : first);
        ok = ok && first > 0 && second > 0;
    }
    if (!ok)
        bench::note(QStringLiteral("bench_startup: a start showed no frame within %1 s").arg(timeoutSeconds));
    const double a = bench::median(ours), b = bench::median(theirs);
    bench::printRow(QStringLiteral("start-up to first frame (median of %1)").arg(runs),
                    bench::figure(ours, bench::Unit::Seconds),
                    bench::figure(theirs, bench::Unit::Seconds, QStringLiteral("bare window")),
                    bench::ratioOf(ours, theirs), QStringLiteral("≤ 1.50"), ok && a <= 1.5 * b);
    return ok ? 0 : 1;
}
