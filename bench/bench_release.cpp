// File release against `cp -r`: the same tree copied into a fresh target by
// a child process each time, the two taking turns on a warm source. Our
// child is a copy of this program placed in the tree, which releases the
// folder it lies in as the installer does: job 2 on its own thread, its
// progress relayed to the install object of the main thread. The kernel
// tells each child's time and peak size.
//
//   bench_release                 runs both data sets, prints the rows
//   bench_release --job2 TARGET   one release of this program's folder

#include "BenchSupport.h"
#include "ReleaseChild.h"

namespace {

struct Comparison
{
    QVector<double> ours, oursProcess, theirs;
    // Each run's peak resident size, in KiB.
    QVector<double> oursPeakKiB, theirsPeakKiB;
    bool ok = true;
};

// Every copy goes to a folder of its own: a target deleted just before
// would slow the next copy (see bench::removeWhenDone). What one copy left
// dirty goes to disk before the next one starts.
bench::ChildRun timedCopy(QStringList command, const QString &target, QByteArray *output = nullptr)
{
    command << target;
    const bench::ChildRun run = bench::runChild(command, output);
    sync();
    return run;
}

// Ours is timed by the release itself, from the start of job 2 to its end:
// the bench child's own start (loading Qt) is no part of a release. The
// time of the whole child is kept beside it.
void copyOurs(const QStringList &command, const QString &target, Comparison &result)
{
    QByteArray printed;
    const bench::ChildRun run = timedCopy(command, target, &printed);
    bool timed = false;
    const double seconds = printed.trimmed().toDouble(&timed);
    result.ok = result.ok && run.ok && timed;
    result.ours << seconds;
    result.oursProcess << run.seconds;
    result.oursPeakKiB << double(run.peakKiB);
}

void copyTheirs(const QStringList &command, const QString &target, Comparison &result)
{
    const bench::ChildRun run = timedCopy(command, target);
    result.ok = result.ok && run.ok;
    result.theirs << run.seconds;
    result.theirsPeakKiB << double(run.peakKiB);
}

Comparison compare(const QString &source, const QString &targets, int runs)
{
    const QStringList ours{source + QStringLiteral("/bench_release"), QStringLiteral("--job2")};
    const QStringList theirs{QStringLiteral("cp"), QStringLiteral("-r"), source};
    int copies = 0;
    auto nextTarget = [&] { return targets + QStringLiteral("/%1").arg(++copies); };
    QDir().mkpath(targets);
    sync();
    // The first pair warms the source, the programs and the file system.
    Comparison warmUp;
    copyOurs(ours, nextTarget(), warmUp);
    copyTheirs(theirs, nextTarget(), warmUp);
    Comparison result;
    for (int i = 0; i < runs; ++i) {
        if (i % 2 == 0) {
            copyOurs(ours, nextTarget(), result);
            copyTheirs(theirs, nextTarget(), result);
        } else {
            copyTheirs(theirs, nextTarget(), result);
            copyOurs(ours, nextTarget(), result);
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

int runBenchmark(const QString &self)
{
    const DataSet sets[] = {
        // The program itself is one of the files.
        {QStringLiteral("20,000 files of 4 KiB"), 19999, 4 << 10, 7},
        {QStringLiteral("8 × 128 MiB"), 8, qint64(128) << 20, 5},
    };
    const QString work = bench::workFolder() + QStringLiteral("/release");
    QDir(work).removeRecursively();
    double smallPeak = 0;
    int status = 0;
    for (const DataSet &set : sets) {
        const QString folder = work + QLatin1Char('/') + QString::number(&set - sets);
        const QString source = folder + QStringLiteral("/source");
        const QString targets = folder + QStringLiteral("/targets");
        if (!bench::makeTree(source, set.files, set.size)
            || !QFile::copy(self, source + QStringLiteral("/bench_release"))) {
            bench::note(QStringLiteral("bench_release: cannot write the data set in ") + folder);
            return 1;
        }
        const Comparison c = compare(source, targets, set.runs);
        if (!c.ok) {
            bench::note(QStringLiteral("bench_release: a copy of %1 failed").arg(set.name));
            status = 1;
        }
        const double ours = bench::median(c.ours), theirs = bench::median(c.theirs);
        bench::printRow(QStringLiteral("release %1, time (median of %2)").arg(set.name).arg(set.runs),
                        bench::figure(c.ours, bench::Unit::Seconds, QString(),
                                      QStringLiteral("process ") + bench::milliseconds(bench::median(c.oursProcess))),
                        bench::figure(c.theirs, bench::Unit::Seconds, QStringLiteral("cp -r")),
                        bench::ratioOf(c.ours, c.theirs), QStringLiteral("≤ 1.00"), c.ok && ours <= theirs);
        // The copy goes through the kernel, so the peak must not follow the
        // size of the files: no run of the large set may take more than the
        // largest of the small.
        const bench::Figure peak = bench::figure(c.oursPeakKiB, bench::Unit::KiB);
        const bool flat = smallPeak == 0 || peak.highest() <= smallPeak + 2048;
        bench::printRow(QStringLiteral("release %1, peak RSS").arg(set.name), peak,
                        bench::figure(c.theirsPeakKiB, bench::Unit::KiB, QStringLiteral("cp -r")),
                        bench::ratioOf(c.oursPeakKiB, c.theirsPeakKiB),
                        smallPeak == 0
                            ? QStringLiteral("reference for 128 MiB")
                            : QStringLiteral("≤ 4 KiB set + 2 MiB (%1)").arg(bench::mebibytes(long(smallPeak))),
                        flat);
        if (smallPeak == 0)
            smallPeak = peak.highest();
    }
    bench::removeWhenDone(work);
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    if (bench::isReleaseChild(argc, argv))
        return bench::releaseAsJobTwo(argc, argv);
    return runBenchmark(QFile::symLinkTarget(QStringLiteral("/proc/self/exe")));
}
