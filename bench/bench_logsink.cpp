// The log sink's throughput with every entry going to log.txt (as with
// "--alog"), from one and from four threads, against a plain loop that
// appends the same bytes with open-write-close. Both write into a folder of
// the work folder: the program runs from a copy of itself there, since the
// sink writes beside the running program.

#include "BenchSupport.h"
#include "Info.h"
#include "main.h"

#include <QCoreApplication>
#include <QDateTime>

#include <thread>
#include <vector>

namespace {

const char fromWorkMarker[] = "LUMENRIDER_BENCH_LOGSINK_COPY";
const int entriesPerRound = 20000;
const int rounds = 5;

// A message as the release logs it, with the context Qt passes along.
const char contextFile[] = "../Install/Operation.cpp";
const char contextFunction[] = "bool Operation::releasefile()";
const int contextLine = 311;
QString message()
{
    return QStringLiteral("<释放文件>释放路径: \"/home/user/.local/share/lumenrider\"");
}

// The bytes the sink appends for that message at some second.
QByteArray entryBytes()
{
    const QString time = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    return (QStringLiteral("【Info】[%1][File:%2][Line:%3][Function:%4]\r\n【msg】:[%5]\r\n\r\n")
                .arg(time, QLatin1String(contextFile), QString::number(contextLine),
                     QLatin1String(contextFunction), message()))
        .toLocal8Bit();
}

void throughSink(int count)
{
    const QMessageLogContext context(contextFile, contextLine, contextFunction, "default");
    const QString text = message();
    for (int i = 0; i < count; ++i)
        logMessageHandler(QtInfoMsg, context, text);
}

void plainAppend(const QByteArray &path, const QByteArray &bytes, int count)
{
    for (int i = 0; i < count; ++i) {
        const int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
            return;
        if (::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size())
            bench::note(QStringLiteral("bench_logsink: short write"));
        ::close(fd);
    }
}

// Entries per second of `threads` threads writing entriesPerRound in all.
template<typename Writer>
double rate(int threads, Writer write)
{
    std::vector<std::thread> workers;
    const double start = bench::monotonicSeconds();
    for (int t = 0; t < threads; ++t)
        workers.emplace_back(write, entriesPerRound / threads);
    for (std::thread &worker : workers)
        worker.join();
    return entriesPerRound / (bench::monotonicSeconds() - start);
}

int measure()
{
    fullLogMode = true;
    const QString folder = installerFolder();
    const QByteArray sinkLog = QFile::encodeName(folder + QStringLiteral("/log.txt"));
    const QByteArray plainLog = QFile::encodeName(folder + QStringLiteral("/plain.txt"));
    // The console lines go nowhere, as in a program without a console.
    const int console = ::dup(STDOUT_FILENO);
    const int null = ::open("/dev/null", O_WRONLY);
    int status = 0;
    for (int threads : {1, 4}) {
        QVector<double> ours, theirs;
        for (int round = 0; round < rounds; ++round) {
            QFile::remove(QString::fromLocal8Bit(sinkLog));
            QFile::remove(QString::fromLocal8Bit(plainLog));
            const QByteArray bytes = entryBytes();
            ::dup2(null, STDOUT_FILENO);
            ours << rate(threads, throughSink);
            ::dup2(console, STDOUT_FILENO);
            theirs << rate(threads, [&](int count) { plainAppend(plainLog, bytes, count); });
            // Every entry whole, none lost or torn by another thread.
            if (QFileInfo(QString::fromLocal8Bit(sinkLog)).size() != qint64(bytes.size()) * entriesPerRound
                || QFileInfo(QString::fromLocal8Bit(plainLog)).size() != qint64(bytes.size()) * entriesPerRound) {
                bench::note(QStringLiteral("bench_logsink: the log does not hold every entry whole"));
                status = 1;
            }
        }
        bench::printRow(QStringLiteral("log sink, %1 thread%2 (entries/s, median of %3)")
                            .arg(threads)
                            .arg(threads > 1 ? QStringLiteral("s") : QString())
                            .arg(rounds),
                        bench::figure(ours, bench::Unit::PerSecond),
                        bench::figure(theirs, bench::Unit::PerSecond, QStringLiteral("open-write-close")),
                        // in time, as every ratio of the table: the baseline's rate over ours
                        bench::ratioOf(theirs, ours), QStringLiteral("— (the sink also formats, encodes and echoes)"),
                        QStringLiteral("—"));
    }
    QFile::remove(QString::fromLocal8Bit(sinkLog));
    QFile::remove(QString::fromLocal8Bit(plainLog));
    return status;
}

int runFromWorkFolder(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString folder = bench::workFolder() + QStringLiteral("/logsink");
    QDir(folder).removeRecursively();
    const int status = bench::runCopyIn(folder, fromWorkMarker);
    QDir(folder).removeRecursively();
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty(fromWorkMarker))
        return runFromWorkFolder(argc, argv);
    QCoreApplication app(argc, argv);
    return measure();
}
