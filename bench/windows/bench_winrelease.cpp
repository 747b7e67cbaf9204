// File release of the Windows build under Wine, against a plain loop of
// CopyFileW calls over the same tree: the platform's own whole-file copy,
// so the ratio tells what our release adds on top of it. A Linux program
// that takes turns between the two Windows programs, each writing a fresh
// target, on a warm source.
//
// Ours is bench_release.exe of the Windows build (bench/ReleaseChild.h)
// placed in the data set: it releases the folder it lies in as the
// installer's job 2 does. The baseline is copyloop.exe. Each times itself
// from the start of its copy to its end and prints the seconds, so that
// Wine's start of a process and the loading of Qt, which are no part of a
// copy and differ between the two programs, stay out of the figures (the
// whole processes' times go to the notes).
//
//   bench_winrelease BENCH_FOLDER   the Windows build's bench/windows folder
//                                   (its programs, Qt, the mingw runtime)

#include "BenchSupport.h"
#include "Wine.h"

#include <QCoreApplication>
#include <QDirIterator>

namespace {

struct Comparison
{
    QVector<double> ours, theirs;
    // The whole `wine` processes, Wine's start included: for the notes.
    QVector<double> oursProcess, theirsProcess;
    bool ok = true;
};

struct TreeSize
{
    qint64 files = 0;
    qint64 bytes = 0;
    bool operator==(const TreeSize &other) const { return files == other.files && bytes == other.bytes; }
};

TreeSize treeSize(const QString &root)
{
    TreeSize size;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++size.files;
        size.bytes += it.fileInfo().size();
    }
    return size;
}

// One copy into `target`, which must not exist yet: a target deleted just
// before would slow the next copy (see bench::removeWhenDone). The seconds
// the program printed (its last line), or a negative number when it failed
// or the copy is not whole. What it left dirty goes to disk before the
// next one starts.
double timedCopy(const QStringList &command, const QString &target, const TreeSize &source, double *process)
{
    QByteArray printed;
    const bench::ChildRun run = bench::runChild(command, &printed);
    sync();
    *process = run.seconds;
    const QList<QByteArray> lines = printed.trimmed().split('\n');
    bool timed = false;
    const double seconds = lines.last().trimmed().toDouble(&timed);
    const TreeSize copied = treeSize(target);
    if (!(copied == source)) {
        bench::note(QStringLiteral("bench_winrelease: %1 copied %2 files (%3 bytes) of %4 (%5 bytes)")
                        .arg(QFileInfo(command.value(1)).fileName())
                        .arg(copied.files)
                        .arg(copied.bytes)
                        .arg(source.files)
                        .arg(source.bytes));
        return -1;
    }
    return run.ok && timed ? seconds : -1;
}

Comparison compare(const QString &source, const QString &copyLoop, const QString &targets, int runs)
{
    const TreeSize size = treeSize(source);
    int copies = 0;
    auto nextTarget = [&] { return targets + QStringLiteral("/%1").arg(++copies); };
    auto ours = [&](Comparison &into) {
        const QString target = nextTarget();
        // The release takes its target as the installer holds it, with "/".
        const QString windowsTarget = bench::windowsPath(target).replace(QLatin1Char('\\'), QLatin1Char('/'));
        double process = 0;
        const double seconds =
            timedCopy(bench::wineCommand(source + QStringLiteral("/bench_release.exe"),
                                         {QStringLiteral("--job2"), windowsTarget}),
                      target, size, &process);
        into.ok = into.ok && seconds >= 0;
        into.ours << seconds;
        into.oursProcess << process;
    };
    auto theirs = [&](Comparison &into) {
        const QString target = nextTarget();
        double process = 0;
        const double seconds =
            timedCopy(bench::wineCommand(copyLoop, {bench::windowsPath(source), bench::windowsPath(target)}), target,
                      size, &process);
        into.ok = into.ok && seconds >= 0;
        into.theirs << seconds;
        into.theirsProcess << process;
    };
    QDir().mkpath(targets);
    sync();
    // The first pair warms the source, the programs and the file system.
    Comparison warmUp;
    ours(warmUp);
    theirs(warmUp);
    Comparison result;
    result.ok = warmUp.ok;
    for (int i = 0; i < runs; ++i) {
        if (i % 2 == 0) {
            ours(result);
            theirs(result);
        } else {
            theirs(result);
            ours(result);
        }
    }
    return result;
}

struct DataSet
{
    QString name;
    int files;
    qint64 size;
    int runs;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        bench::note(QStringLiteral("usage: bench_winrelease BENCH_FOLDER (build-win/bench/windows)"));
        return 2;
    }
    if (!bench::winePrefixReady("bench_winrelease"))
        return 1;
    const QString programs = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    const QString child = programs + QStringLiteral("/bench_release.exe");
    const QString copyLoop = programs + QStringLiteral("/copyloop.exe");
    if (!QFileInfo::exists(child) || !QFileInfo::exists(copyLoop)) {
        bench::note(QStringLiteral("bench_winrelease: no bench_release.exe or copyloop.exe in ") + programs);
        return 1;
    }
    // The release child lies in the data set, away from its libraries.
    qputenv("WINEPATH", bench::windowsPath(programs).toLocal8Bit());

    const DataSet sets[] = {
        // The program itself is one of the files.
        {QStringLiteral("20,000 files of 4 KiB"), 19999, 4 << 10, 7},
        {QStringLiteral("8 × 128 MiB"), 8, qint64(128) << 20, 5},
    };
    const QString work = bench::workFolder() + QStringLiteral("/winrelease");
    QDir(work).removeRecursively();
    int status = 0;
    for (const DataSet &set : sets) {
        const QString folder = work + QLatin1Char('/') + QString::number(&set - sets);
        const QString source = folder + QStringLiteral("/source");
        if (!bench::makeTree(source, set.files, set.size)
            || !QFile::copy(child, source + QStringLiteral("/bench_release.exe"))) {
            bench::note(QStringLiteral("bench_winrelease: cannot write the data set in ") + folder);
            return 1;
        }
        const Comparison c = compare(source, copyLoop, folder + QStringLiteral("/targets"), set.runs);
        if (!c.ok) {
            bench::note(QStringLiteral("bench_winrelease: a copy of %1 failed").arg(set.name));
            status = 1;
        }
        const double ours = bench::median(c.ours), theirs = bench::median(c.theirs);
        bench::printRow(QStringLiteral("Windows release %1, time (median of %2)").arg(set.name).arg(set.runs),
                        bench::figure(c.ours, bench::Unit::Seconds),
                        bench::figure(c.theirs, bench::Unit::Seconds, QStringLiteral("CopyFileW loop")),
                        bench::ratioOf(c.ours, c.theirs), QStringLiteral("≤ 1.10"), c.ok && ours <= 1.10 * theirs);
        bench::note(QStringLiteral("bench_winrelease: %1, whole wine processes (Wine's start included): "
                                   "ours %2, CopyFileW loop %3")
                        .arg(set.name, bench::milliseconds(bench::median(c.oursProcess)),
                             bench::milliseconds(bench::median(c.theirsProcess))));
    }
    bench::removeWhenDone(work);
    return status;
}
