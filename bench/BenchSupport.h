#pragma once

// What the benchmarks share: child processes timed and sized by the kernel,
// the clocks, medians, the data sets, and the rows of the table that
// scripts/bench prints.

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtNumeric>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {

inline double monotonicSeconds()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

inline double threadCpuSeconds()
{
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

inline double median(QVector<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const int n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// One finished child: wall time from fork to its end, and its peak
// resident size as the kernel counted it.
struct ChildRun
{
    bool ok = false;
    double seconds = 0;
    long peakKiB = 0;
};

// A command line as execvp takes it; the strings live as long as it does.
class Arguments
{
public:
    explicit Arguments(const QStringList &command)
    {
        for (const QString &part : command)
            storage << QFile::encodeName(part);
        for (QByteArray &part : storage)
            pointers << part.data();
        pointers << nullptr;
    }
    char *program() { return pointers.first(); }
    char **list() { return pointers.data(); }

private:
    QVector<QByteArray> storage;
    QVector<char *> pointers;
};

// Runs `command` (argv[0] looked up on PATH) and waits for it. What it
// prints goes to `output` when asked for, else it is thrown away (as is
// what it says on its error output).
inline ChildRun runChild(const QStringList &command, QByteArray *output = nullptr)
{
    Arguments argv(command);
    int printed[2] = {-1, -1};
    if (output && pipe2(printed, O_CLOEXEC) != 0)
        return {};
    std::fflush(nullptr);
    const double start = monotonicSeconds();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(output ? printed[1] : null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execvp(argv.program(), argv.list());
        _exit(127);
    }
    ChildRun run;
    if (output) {
        close(printed[1]);
        char buffer[4096];
        ssize_t n;
        while ((n = read(printed[0], buffer, sizeof(buffer))) > 0 || (n < 0 && errno == EINTR))
            output->append(buffer, int(qMax<ssize_t>(n, 0)));
        close(printed[0]);
    }
    if (pid < 0)
        return run;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return run;
    run.seconds = monotonicSeconds() - start;
    run.peakKiB = usage.ru_maxrss;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

// A file of `size` bytes whose content differs from file to file, so no
// layer below can take it for zeros or for another file.
inline bool writeDataFile(const QString &path, qint64 size, quint32 seed)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray block(int(qMin<qint64>(size, 1 << 20)), Qt::Uninitialized);
    quint32 state = seed * 2654435761u + 1;
    for (int i = 0; i + 4 <= block.size(); i += 4) {
        state = state * 1664525u + 1013904223u;
        std::memcpy(block.data() + i, &state, 4);
    }
    for (qint64 left = size; left > 0; left -= block.size()) {
        const qint64 n = qMin<qint64>(left, block.size());
        if (file.write(block.constData(), n) != n)
            return false;
        block[0] = char(block[0] + 1); // the next block is not a copy either
    }
    return true;
}

// `count` files of `size` bytes, spread over folders two levels deep.
inline bool makeTree(const QString &root, int count, qint64 size, int perFolder = 100)
{
    for (int i = 0; i < count; ++i) {
        const QString folder = QStringLiteral("%1/d%2/s%3").arg(root).arg(i / (perFolder * 10)).arg(i / perFolder % 10);
        if ((i % perFolder == 0 && !QDir().mkpath(folder))
            || !writeDataFile(QStringLiteral("%1/f%2.dat").arg(folder).arg(i), size, quint32(i)))
            return false;
    }
    return true;
}

// The folder the benchmarks keep their data in: LUMENRIDER_BENCH_WORK, or
// the system's temporary folder.
inline QString workFolder()
{
    const QString chosen = qEnvironmentVariable("LUMENRIDER_BENCH_WORK");
    return chosen.isEmpty() ? QDir::tempPath() : chosen;
}

// Removes what a benchmark wrote, unless LUMENRIDER_BENCH_KEEP is set (as
// scripts/bench does, removing the work folder once all have run). On a
// file system without a journal ext4 skips recently deleted inodes when it
// makes new ones, so for a few minutes after a large removal every file
// creation is many times slower: a removal must not come before a
// benchmark that creates files.
inline void removeWhenDone(const QString &folder)
{
    if (qEnvironmentVariableIsEmpty("LUMENRIDER_BENCH_KEEP"))
        QDir(folder).removeRecursively();
}

// The installer writes its logs beside itself and releases the folder it
// lies in, so a benchmark of those runs as a copy of itself placed in
// `folder` (which the caller has filled), told so by the variable
// `marker`. Returns the copy's exit code.
inline int runCopyIn(const QString &folder, const char *marker)
{
    const QString program = folder + QLatin1Char('/') + QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    if (!QDir().mkpath(folder) || !QFile::copy(QCoreApplication::applicationFilePath(), program)) {
        std::fprintf(stderr, "cannot place a copy of the benchmark in %s\n", qPrintable(folder));
        return 1;
    }
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(marker), QStringLiteral("1"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(program, QStringList());
    const bool ended = child.waitForFinished(-1) && child.exitStatus() == QProcess::NormalExit;
    return ended ? child.exitCode() : 1;
}

inline QString milliseconds(double seconds)
{
    return QString::number(seconds * 1000, 'f', seconds < 0.1 ? 1 : 0) + QStringLiteral(" ms");
}

inline QString mebibytes(long kib)
{
    return QString::number(double(kib) / 1024, 'f', 1) + QStringLiteral(" MiB");
}

inline QString yesNo(bool met)
{
    return met ? QStringLiteral("yes") : QStringLiteral("no");
}

// What a figure counts, and so how its numbers are written.
enum class Unit { Seconds, KiB, PerSecond, Ratio };

// One measured cell of a row: the value of each run, in the order they
// ran, written as their median with the lowest and the highest in
// brackets, so a reader sees how far one run may stray. `label` goes
// before the numbers (the baseline's name), `note` after them. A cell
// with `text` holds no measurement and shows the text alone.
struct Figure
{
    QVector<double> runs;
    Unit unit = Unit::Seconds;
    QString label;
    QString note;
    QString text;
    // The number shown before the brackets when it is not the median of
    // the runs (a ratio is that of the two medians).
    double value = qQNaN();

    double shown() const { return qIsNaN(value) ? bench::median(runs) : value; }
    double lowest() const { return runs.isEmpty() ? 0 : *std::min_element(runs.begin(), runs.end()); }
    double highest() const { return runs.isEmpty() ? 0 : *std::max_element(runs.begin(), runs.end()); }
};

inline Figure figure(const QVector<double> &runs, Unit unit, const QString &label = QString(),
                     const QString &note = QString())
{
    Figure made;
    made.runs = runs;
    made.unit = unit;
    made.label = label;
    made.note = note;
    return made;
}

inline Figure textCell(const QString &text)
{
    Figure made;
    made.text = text;
    return made;
}

// Installer ÷ baseline: the ratio of the medians, with the ratios of the
// pairs of runs taken in turn as its spread, which tells how much one
// pair alone could say.
inline Figure ratioOf(const QVector<double> &installer, const QVector<double> &baseline)
{
    Figure made;
    made.unit = Unit::Ratio;
    for (int i = 0; i < qMin(installer.size(), baseline.size()); ++i) {
        if (baseline[i] > 0)
            made.runs << installer[i] / baseline[i];
    }
    const double base = bench::median(baseline);
    if (base > 0)
        made.value = bench::median(installer) / base;
    else
        made.text = QStringLiteral("—");
    return made;
}

// The numbers of a cell, the unit once after the first. All take the
// precision of the first, so they line up.
inline QString formatFigure(const Figure &cell)
{
    if (!cell.text.isEmpty())
        return cell.text;
    const double shown = cell.shown();
    auto number = [&](double value) {
        switch (cell.unit) {
        case Unit::Seconds:
            return QString::number(value * 1000, 'f', shown < 0.1 ? 1 : 0);
        case Unit::KiB:
            return QString::number(value / 1024, 'f', 1);
        case Unit::PerSecond:
            return QLocale(QLocale::English).toString(value, 'f', 0);
        case Unit::Ratio:
            return QString::number(value, 'f', 2);
        }
        return QString();
    };
    static const char *const units[] = {" ms", " MiB", "/s", ""};
    QString text = number(shown) + QLatin1String(units[int(cell.unit)]);
    if (cell.runs.size() > 1)
        text += QStringLiteral(" (%1–%2)").arg(number(cell.lowest()), number(cell.highest()));
    if (!cell.label.isEmpty())
        text = cell.label + QLatin1Char(' ') + text;
    if (!cell.note.isEmpty())
        text += QStringLiteral(", ") + cell.note;
    return text;
}

// One line of the table: | benchmark | installer | baseline | ratio | goal | met |
inline void printRow(const QString &name, const Figure &installer, const Figure &baseline, const Figure &ratio,
                     const QString &goal, const QString &met)
{
    const QByteArray line = QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 |\n")
                                .arg(name, formatFigure(installer), formatFigure(baseline), formatFigure(ratio), goal,
                                     met)
                                .toUtf8();
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);
}

inline void printRow(const QString &name, const Figure &installer, const Figure &baseline, const Figure &ratio,
                     const QString &goal, bool met)
{
    printRow(name, installer, baseline, ratio, goal, yesNo(met));
}

// A literal such as "—" would otherwise be taken for a bool.
inline void printRow(const QString &name, const Figure &installer, const Figure &baseline, const Figure &ratio,
                     const QString &goal, const char *met)
{
    printRow(name, installer, baseline, ratio, goal, QString::fromUtf8(met));
}

inline void note(const QString &text)
{
    std::fprintf(stderr, "%s\n", text.toUtf8().constData());
}

} // namespace bench
