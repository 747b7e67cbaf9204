// The main thread's share of a release of 20,000 files: the real pages are
// loaded and the installing page shown, then job 2 runs as the page starts
// it and each file's report travels through the Thread object and the
// install object to the page's handler. The baseline is the same release
// with nothing on the main thread receiving it. Measured: the main
// thread's own CPU time and the wall time of the release, with the log
// sink as the installer has it, without and with "--alog".
//
// Job 2 releases the folder of the running program, so the benchmark runs
// as a copy of itself in a folder of 20,000 files (the copy is one).

#include "BenchSupport.h"
#include "Info.h"
#include "Operation.h"
#include "TestSupport.h"
#include "VendorApiServer.h"
#include "main.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlExpression>
#include <QQuickItem>
#include <QQuickWindow>
#include <QThread>
#include <QTimer>

#include <memory>

namespace {

const char payloadMarker[] = "LUMENRIDER_BENCH_PROGRESS_PAYLOAD";
const int payloadFiles = 20000;
const int rounds = 3;

struct Release
{
    bool ok = false;
    double mainCpu = 0;
    double wall = 0;
    int reports = 0;
    int lastReport = -1;
    int bar = -1;
};

// The three pages as the installer loads them, the installing page shown.
class Pages
{
public:
    bool load()
    {
        engine = std::make_unique<QQmlApplicationEngine>();
        engine->load(QUrl(QStringLiteral("qrc:/main.qml")));
        if (engine->rootObjects().isEmpty())
            return false;
        window = qobject_cast<QQuickWindow *>(engine->rootObjects().first());
        installing = madePage(QStringLiteral("installing"));
        operation = qobject_cast<Operation *>(evaluate(window, QStringLiteral("installoperation")).value<QObject *>());
        if (!window || !installing || !operation)
            return false;
        // Shown and drawn once, as when the driver job starts.
        QEventLoop drawn;
        QObject::connect(installing, &QQuickWindow::frameSwapped, &drawn, &QEventLoop::quit);
        QTimer::singleShot(10000, &drawn, &QEventLoop::quit);
        installing->setVisible(true);
        drawn.exec();
        return true;
    }

    // The later pages are made once the first screen is drawn.
    QQuickWindow *madePage(const QString &id)
    {
        QDeadlineTimer deadline(10000);
        QQuickWindow *page = nullptr;
        while (!(page = qobject_cast<QQuickWindow *>(evaluate(window, id).value<QObject *>())) && !deadline.hasExpired()) {
            QEventLoop wait;
            QTimer::singleShot(10, &wait, &QEventLoop::quit);
            wait.exec();
        }
        return page;
    }

    // A value of the installing page, by the ids of its own document.
    int installingValue(const QString &expression)
    {
        return evaluate(installing->contentItem()->childItems().value(0), expression).toInt();
    }

    std::unique_ptr<QQmlApplicationEngine> engine;
    QQuickWindow *window = nullptr;
    QQuickWindow *installing = nullptr;
    Operation *operation = nullptr;

private:
    static QVariant evaluate(QObject *scope, const QString &expression)
    {
        QQmlExpression expr(qmlContext(scope), scope, expression);
        return expr.evaluate();
    }
};

template<typename Start>
Release measure(QEventLoop &finished, Start start)
{
    Release release;
    const double cpu = bench::threadCpuSeconds();
    const double wall = bench::monotonicSeconds();
    start();
    finished.exec();
    release.mainCpu = bench::threadCpuSeconds() - cpu;
    release.wall = bench::monotonicSeconds() - wall;
    return release;
}

// Job 2 as the page starts it, once the driver job is over.
Release releaseToPage(const QString &target)
{
    Pages pages;
    if (!retargetInstallPath(target) || !pages.load())
        return {};
    int reports = 0, last = -1;
    QObject::connect(pages.operation, &Operation::qml_sign_int_progressvalue, [&](int value) {
        ++reports;
        last = value;
    });
    QEventLoop finished;
    bool released = false;
    QObject::connect(pages.operation, &Operation::qmlSign_bool_releasefile, [&](bool success) {
        released = success;
        finished.quit();
    });
    Release release = measure(finished, [&] {
        QMetaObject::invokeMethod(pages.operation, "qmlSign_bool_uninstalldrive", Q_ARG(bool, true));
    });
    // Every report went before the job's end, on the same queue.
    release.reports = reports;
    release.lastReport = last;
    release.bar = pages.installingValue(QStringLiteral("installprogress.value"));
    release.ok = released && reports == releaseTotal && last == 65 && release.bar == 75;
    return release;
}

// The same release with no one on the main thread listening.
Release releaseUnheard(const QString &target)
{
    Pages pages;
    if (!retargetInstallPath(target) || !pages.load())
        return {};
    bool released = false;
    QThread *job = QThread::create([&released] {
        Operation worker;
        released = worker.releasefile();
    });
    QEventLoop finished;
    QObject::connect(job, &QThread::finished, &finished, &QEventLoop::quit);
    Release release = measure(finished, [job] { job->start(); });
    job->wait();
    delete job;
    release.ok = released;
    return release;
}

int measureRelease(int argc, char *argv[])
{
    drawPagesInSoftware();
    QApplication app(argc, argv);
    ScopedTestEnvironment environment;
    VendorApiServer server;
    if (!server.start()) {
        bench::note(QStringLiteral("bench_progress: the vendor-API stand-in did not start"));
        return 1;
    }
    gameApiBase = server.baseUrl() + QStringLiteral("/game/");
    logApiBase = server.baseUrl() + QStringLiteral("/log/");
    clientProcessList = QStringLiteral("lr-none.exe");
    installLogSink();
    registerQmlTypes();

    const int console = ::dup(STDOUT_FILENO);
    const int null = ::open("/dev/null", O_WRONLY);
    int status = 0;
    const QString targets = bench::workFolder() + QStringLiteral("/progress-targets");
    QDir(targets).removeRecursively();
    QDir().mkpath(targets);
    int target = 0;
    auto nextTarget = [&] { return targets + QStringLiteral("/%1").arg(++target); };
    for (bool fullLog : {false, true}) {
        fullLogMode = fullLog;
        QVector<double> heardCpu, unheardCpu, heardWall, unheardWall;
        Release last;
        bool ok = true;
        for (int round = 0; round < rounds; ++round) {
            // The console lines go nowhere, as in a program without a console.
            ::dup2(null, STDOUT_FILENO);
            const Release heard = releaseToPage(nextTarget());
            const Release unheard = releaseUnheard(nextTarget());
            ::dup2(console, STDOUT_FILENO);
            ok = ok && heard.ok && unheard.ok;
            heardCpu << heard.mainCpu;
            unheardCpu << unheard.mainCpu;
            heardWall << heard.wall;
            unheardWall << unheard.wall;
            last = heard;
        }
        if (!ok) {
            bench::note(QStringLiteral("bench_progress: a release failed or its progress fell short"));
            status = 1;
        }
        const QString mode = fullLog ? QStringLiteral("--alog") : QStringLiteral("no --alog");
        const double cpu = bench::median(heardCpu), idleCpu = bench::median(unheardCpu);
        const double perReport = (cpu - idleCpu) / qMax(last.reports, 1);
        bench::printRow(QStringLiteral("progress, main-thread CPU during the release, %1 (median of %2)").arg(mode).arg(rounds),
                        bench::figure(heardCpu, bench::Unit::Seconds, QString(),
                                      QStringLiteral("%1 µs/report").arg(perReport * 1e6, 0, 'f', 1)),
                        bench::figure(unheardCpu, bench::Unit::Seconds, QStringLiteral("no receiver")),
                        bench::ratioOf(heardCpu, unheardCpu), QStringLiteral("≤ 10 µs/report above the baseline"),
                        ok && perReport <= 10e-6);
        const double wall = bench::median(heardWall), idleWall = bench::median(unheardWall);
        const bench::Figure wallFigure = bench::figure(heardWall, bench::Unit::Seconds);
        const bench::Figure idleFigure = bench::figure(unheardWall, bench::Unit::Seconds, QStringLiteral("no receiver"));
        if (fullLog) // each report is also written to log.txt, on the main thread
            bench::printRow(QStringLiteral("progress, release wall time, %1").arg(mode), wallFigure, idleFigure,
                            bench::ratioOf(heardWall, unheardWall), QStringLiteral("— (a log entry on disk per report)"),
                            QStringLiteral("—"));
        else
            bench::printRow(QStringLiteral("progress, release wall time, %1").arg(mode), wallFigure, idleFigure,
                            bench::ratioOf(heardWall, unheardWall), QStringLiteral("≤ 1.10"),
                            ok && wall <= 1.10 * idleWall);
        bench::printRow(QStringLiteral("progress, the page at the end, %1").arg(mode),
                        bench::textCell(QStringLiteral("%1 reports, last %2, bar %3").arg(last.reports).arg(last.lastReport).arg(last.bar)),
                        bench::textCell(QStringLiteral("—")), bench::textCell(QStringLiteral("—")),
                        QStringLiteral("a report per file, the last 65, bar 75"), bench::yesNo(ok));
    }
    bench::removeWhenDone(targets);
    return status;
}

// The folder job 2 releases: this program and data files up to
// payloadFiles.
int runFromPayload(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString folder = bench::workFolder() + QStringLiteral("/progress");
    QDir(folder).removeRecursively();
    int status = 1;
    if (bench::makeTree(folder, payloadFiles - 1, 4 << 10))
        status = bench::runCopyIn(folder, payloadMarker);
    else
        bench::note(QStringLiteral("bench_progress: cannot write the files in ") + folder);
    bench::removeWhenDone(folder);
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty(payloadMarker))
        return runFromPayload(argc, argv);
    return measureRelease(argc, argv);
}
