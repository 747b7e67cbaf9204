// Installs that are cut off: the real installer killed at random points of
// its file release, run after run on the same install folder, which holds
// an earlier version of the client; and a release that runs out of disk
// space on a small file system of its own. Whatever the moment, no file of
// the earlier install may be lost or left truncated, no half-written file
// may stand under the name of a whole one, and the next run must finish
// the install.

#include "TestSupport.h"
#include "VendorApiServer.h"

#include <QDeadlineTimer>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <random>

#include <poll.h>
#include <sys/inotify.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

const QString installerName = QStringLiteral("lumenrider_1.6.9_35.exe");
const QString installedLine = QStringLiteral("<安装进度>:安装成功!");
const QString releaseFailedLine = QStringLiteral("<安装流程>:解压文件失败！");
const QString fileCopyFailed = QStringLiteral("安装程序进行文件copy时失败,释放路径:");
// What the installer keeps of its own in the install folder; not released.
const QString ownFolder = QStringLiteral("temp/");
// Written beside the installer while it runs, so released as they stood.
const QStringList ownLogs{QStringLiteral("Errorlog.txt"), QStringLiteral("log.txt")};

const int installBoundMs = 120000;
const int reportBoundMs = 15000;

// The temporary names of copies in progress, as the release makes them.
const QRegularExpression temporaryName(QStringLiteral("^\\.(.+)\\.lrtmp-[a-z0-9]{6}$"));

// `size` bytes that follow from `seed` alone.
QByteArray bytes(qint64 size, quint64 seed)
{
    QByteArray data(int(size), Qt::Uninitialized);
    quint64 state = seed * 0x9e3779b97f4a7c15ULL + 0x632be59bd9b4e019ULL;
    for (qint64 at = 0; at < size; at += 8) {
        quint64 z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        z ^= z >> 31;
        std::memcpy(data.data() + at, &z, size_t(qMin<qint64>(8, size - at)));
    }
    return data;
}

QByteArray installerProgram()
{
    static const QByteArray program = readTestFile(QStringLiteral(INSTALLER_EXE));
    return program;
}

// Files by their path below a folder.
using Tree = QMap<QString, QByteArray>;

bool writeTree(const QString &root, const Tree &tree)
{
    for (auto it = tree.cbegin(); it != tree.cend(); ++it) {
        if (!writeTestFile(root + QLatin1Char('/') + it.key(), it.value()))
            return false;
    }
    return QFile::setPermissions(root + QLatin1Char('/') + installerName,
                                 QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// The files of the client as this installer ships them, and as an earlier
// install left them in the install folder: most of the same names with
// other content, some of another size, some not there yet, and a few the
// new version no longer has.
struct Versions
{
    Tree shipped;
    Tree earlier;
};

// The order the release copies files in: each folder's entries sorted by
// name ignoring case, folders and files together, a folder's files before
// those of the entry after it.
QStringList releaseOrder(const Tree &tree)
{
    QStringList paths = tree.keys();
    std::sort(paths.begin(), paths.end(), [](const QString &a, const QString &b) {
        const QStringList x = a.split(QLatin1Char('/')), y = b.split(QLatin1Char('/'));
        for (int i = 0; i < qMin(x.size(), y.size()); ++i) {
            if (x.at(i) != y.at(i))
                return x.at(i).toLower() < y.at(i).toLower();
        }
        return x.size() < y.size();
    });
    return paths;
}

QStringList foldersOf(const Tree &tree)
{
    QStringList folders{QString()};
    for (const QString &path : tree.keys()) {
        for (int slash = path.indexOf(QLatin1Char('/')); slash > 0; slash = path.indexOf(QLatin1Char('/'), slash + 1)) {
            if (!folders.contains(path.left(slash)))
                folders << path.left(slash);
        }
    }
    return folders;
}

// Every file below `root`, hidden ones too, by relative path.
QStringList filesUnder(const QString &root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(root).relativeFilePath(it.next());
    files.sort();
    return files;
}

int temporaryFilesUnder(const QString &root)
{
    const QStringList files = filesUnder(root);
    return int(std::count_if(files.cbegin(), files.cend(), [](const QString &file) {
        return temporaryName.match(QFileInfo(file).fileName()).hasMatch();
    }));
}

// One run of the real installer from its payload folder, its output in a
// file beside that folder.
class InstallerRun
{
public:
    InstallerRun(const QString &payload, const QString &outputFile) : payloadFolder(payload), outputPath(outputFile) {}
    ~InstallerRun() { stop(); }

    // `prefix` runs the installer (nsenter ...).
    bool start(const QStringList &prefix = QStringList())
    {
        QFile::remove(outputPath);
        process.setWorkingDirectory(payloadFolder);
        process.setStandardOutputFile(outputPath);
        process.setStandardErrorFile(outputPath + QStringLiteral(".err"));
        const QString program = payloadFolder + QLatin1Char('/') + installerName;
        const QStringList arguments{QStringLiteral("--goinstall")};
        if (prefix.isEmpty())
            process.start(program, arguments);
        else
            process.start(prefix.first(), prefix.mid(1) + QStringList{program} + arguments);
        return process.waitForStarted(10000);
    }
    QString output() const { return QString::fromLocal8Bit(readTestFile(outputPath)); }
    // The end of what it printed, for a message when it went wrong.
    QString tail() const
    {
        return output().right(1500) + QString::fromLocal8Bit(readTestFile(outputPath + QStringLiteral(".err"))).right(500);
    }
    bool running() { return process.state() == QProcess::Running && !process.waitForFinished(0); }
    void kill()
    {
        process.kill();
        process.waitForFinished(10000);
    }
    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(10000))
            kill();
    }

    QProcess process;

private:
    QString payloadFolder;
    QString outputPath;
};

// The folders of the install, watched through inotify: which file the
// release has reached, told by the names that appear in them.
class ReleaseWatch
{
public:
    ReleaseWatch(const QString &root, const Tree &shipped) : installRoot(root), fd(::inotify_init1(IN_CLOEXEC))
    {
        const QStringList order = releaseOrder(shipped);
        for (int i = 0; i < order.size(); ++i)
            position.insert(order.at(i), i);
        folders = foldersOf(shipped);
        watchFolders();
    }
    ~ReleaseWatch()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool isValid() const { return fd >= 0; }

    // Watches the folders of the install that are there (a new one shows
    // up while the release runs, and is watched from then on).
    void watchFolders()
    {
        for (const QString &folder : qAsConst(folders)) {
            if (watched.values().contains(folder))
                continue;
            const QString path = folder.isEmpty() ? installRoot : installRoot + QLatin1Char('/') + folder;
            const int wd = QFileInfo(path).isDir()
                               ? ::inotify_add_watch(fd, QFile::encodeName(path).constData(),
                                                     IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE)
                               : -1;
            if (wd >= 0)
                watched.insert(wd, folder);
        }
    }

    // Throws away what has been reported so far.
    void drain() { furthest(0); }

    // Waits up to `waitMs` for names to appear; the furthest position in
    // the release order among the files they belong to, or -1.
    int furthest(int waitMs)
    {
        pollfd ready{fd, POLLIN, 0};
        int found = -1;
        if (::poll(&ready, 1, waitMs) <= 0)
            return found;
        alignas(inotify_event) char buffer[1 << 16];
        const ssize_t got = ::read(fd, buffer, sizeof(buffer));
        bool newFolder = false;
        for (char *at = buffer; got > 0 && at < buffer + got;) {
            const auto *event = reinterpret_cast<const inotify_event *>(at);
            at += sizeof(inotify_event) + event->len;
            if (!event->len || !watched.contains(event->wd))
                continue;
            if (event->mask & IN_ISDIR) {
                newFolder = true;
                continue;
            }
            QString name = QFile::decodeName(event->name);
            const QRegularExpressionMatch temporary = temporaryName.match(name);
            if (temporary.hasMatch())
                name = temporary.captured(1);
            const QString folder = watched.value(event->wd);
            found = qMax(found, position.value(folder.isEmpty() ? name : folder + QLatin1Char('/') + name, -1));
        }
        if (newFolder)
            watchFolders();
        return found;
    }

private:
    QString installRoot;
    int fd;
    QStringList folders;
    QMap<int, QString> watched;
    QHash<QString, int> position;
};

struct Damage
{
    qint64 checked = 0;
    QStringList damaged;
};

// Each file of the earlier install is as it was or is the new version;
// each file of the new version that is there is whole.
Damage checkAfterCut(const QString &root, const Versions &versions)
{
    Damage result;
    auto check = [&](const QString &path, bool mayBeMissing) {
        QFile file(root + QLatin1Char('/') + path);
        const bool shipped = versions.shipped.contains(path), earlier = versions.earlier.contains(path);
        ++result.checked;
        if (!file.exists()) {
            if (!mayBeMissing)
                result.damaged << path + QStringLiteral(" (lost)");
            return;
        }
        const QByteArray found = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        if ((shipped && found == versions.shipped.value(path)) || (earlier && found == versions.earlier.value(path)))
            return;
        result.damaged << QStringLiteral("%1 (%2 bytes: %3)")
                              .arg(path)
                              .arg(found.size())
                              .arg(found.isEmpty() ? QStringLiteral("empty") : QStringLiteral("neither version"));
    };
    for (auto it = versions.earlier.cbegin(); it != versions.earlier.cend(); ++it)
        check(it.key(), false);
    for (auto it = versions.shipped.cbegin(); it != versions.shipped.cend(); ++it) {
        if (!versions.earlier.contains(it.key()))
            check(it.key(), true);
    }
    return result;
}

// The install folder after an install that went to its end: every file of
// the payload folder as it is there (the logs the installer writes beside
// itself as they stood when copied: the start of what they hold now), the
// earlier install's files the new version does not have as they were, and
// nothing else but the installer's own folder.
void checkInstalledTree(const QString &root, const QString &payload, const Tree &earlier)
{
    QStringList expected;
    for (const QString &path : filesUnder(payload))
        expected << path;
    for (auto it = earlier.cbegin(); it != earlier.cend(); ++it) {
        if (!expected.contains(it.key()))
            expected << it.key();
    }
    expected.sort();
    QStringList found = filesUnder(root);
    found.erase(std::remove_if(found.begin(), found.end(), [](const QString &path) { return path.startsWith(ownFolder); }),
                found.end());
    QCOMPARE(found, expected);
    for (const QString &path : found) {
        const QByteArray installed = readTestFile(root + QLatin1Char('/') + path);
        if (!QFileInfo::exists(payload + QLatin1Char('/') + path)) {
            QVERIFY2(installed == earlier.value(path), qPrintable(path));
            continue;
        }
        const QByteArray shipped = readTestFile(payload + QLatin1Char('/') + path);
        if (ownLogs.contains(path))
            QVERIFY2(shipped.startsWith(installed), qPrintable(path));
        else
            QVERIFY2(installed == shipped, qPrintable(path));
    }
}

// A mount namespace of its own, held by a process that waits on its input,
// with a size-limited tmpfs over one folder: the test and the installers it
// starts there see it; nothing else on the machine does.
class SmallDisk
{
public:
    ~SmallDisk()
    {
        holder.closeWriteChannel();
        if (!holder.waitForFinished(10000)) {
            holder.kill();
            holder.waitForFinished(10000);
        }
    }

    // Why the file system could not be had; empty when it is mounted.
    QString mount(const QString &over, qint64 size)
    {
        if (::geteuid() != 0)
            return QStringLiteral("mounting a file system needs root (CAP_SYS_ADMIN); this test runs as uid %1")
                .arg(::geteuid());
        for (const char *tool : {"unshare", "nsenter", "mount"}) {
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
                return QStringLiteral("%1 is not installed").arg(QLatin1String(tool));
        }
        folder = over;
        const QString script = QStringLiteral("mount -t tmpfs -o size=%1k,mode=0755 lumenrider-small \"$0\" "
                                              "&& echo mounted && exec cat")
                                   .arg(size / 1024);
        holder.start(QStringLiteral("unshare"), {QStringLiteral("--mount"), QStringLiteral("--propagation"),
                                                 QStringLiteral("private"), QStringLiteral("--"), QStringLiteral("sh"),
                                                 QStringLiteral("-c"), script, over});
        if (!holder.waitForStarted(10000))
            return QStringLiteral("unshare did not start: ") + holder.errorString();
        QDeadlineTimer deadline(10000);
        while (!holder.canReadLine() && holder.state() == QProcess::Running && !deadline.hasExpired())
            holder.waitForReadyRead(int(qMax<qint64>(deadline.remainingTime(), 1)));
        if (holder.readLine().trimmed() != "mounted") {
            holder.waitForFinished(10000);
            const QString said = QString::fromLocal8Bit(holder.readAllStandardError()).trimmed();
            return QStringLiteral("unshare --mount with a tmpfs of its own was refused: ")
                   + (said.isEmpty() ? QStringLiteral("exit code %1").arg(holder.exitCode()) : said);
        }
        return QString();
    }

    // A path inside the namespace, as this process reaches it.
    QString path(const QString &inside) const { return QStringLiteral("/proc/%1/root").arg(holder.processId()) + inside; }
    // What runs a program inside the namespace, in `workingFolder`.
    QStringList enter(const QString &workingFolder) const
    {
        return {QStringLiteral("nsenter"), QStringLiteral("--mount=/proc/%1/ns/mnt").arg(holder.processId()),
                QStringLiteral("--wd=") + workingFolder, QStringLiteral("--")};
    }
    bool resize(qint64 size)
    {
        QProcess remount;
        remount.start(enter(QStringLiteral("/")).first(),
                      enter(QStringLiteral("/")).mid(1)
                          + QStringList{QStringLiteral("mount"), QStringLiteral("-o"),
                                        QStringLiteral("remount,size=%1k").arg(size / 1024), folder});
        return remount.waitForFinished(10000) && remount.exitStatus() == QProcess::NormalExit
               && remount.exitCode() == 0;
    }
    qint64 freeBytes() const
    {
        struct statvfs status;
        return ::statvfs(QFile::encodeName(path(folder)).constData(), &status) == 0
                   ? qint64(status.f_bavail) * qint64(status.f_frsize)
                   : -1;
    }

private:
    QProcess holder;
    QString folder;
};

qint64 pages(qint64 size)
{
    return (size + 4095) / 4096 * 4096;
}

qint64 spaceFor(const Tree &tree)
{
    qint64 total = 0;
    for (const QByteArray &content : tree)
        total += pages(content.size());
    return total;
}

} // namespace

class TestInterrupt : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void killedAtRandomPointsLosesNothing();
    void fullDiskStopsTheReleaseAndRerunFinishes_data();
    void fullDiskStopsTheReleaseAndRerunFinishes();

private:
    VendorApiServer server;
};

void TestInterrupt::initTestCase()
{
    QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "the installer needs an X server");
    QVERIFY2(!installerProgram().isEmpty(), "the installer is built");
    QVERIFY2(server.start(), "the vendor-API stand-in did not start");
}

namespace {

// The payload of the kill test: 20 folders of 100 small files (a few
// hundred bytes to 48 KiB) with a file of 2 to 8 MiB somewhere among them,
// one more folder the earlier version did not have, the installer and the
// client: 2,033 files, about 150 MiB.
Versions killTestVersions()
{
    Versions v;
    std::mt19937 random(20261209); // the same payload every run: the kill points vary
    quint64 seed = 1;
    const auto size = [&random](int from, int to) { return from + int(random() % quint32(to - from)); };
    v.shipped.insert(installerName, installerProgram());
    v.shipped.insert(QStringLiteral("lumenrider.exe"), "#!/bin/sh\necho client 1.6.9\n");
    v.earlier.insert(installerName, bytes(4 << 20, seed++));
    v.earlier.insert(QStringLiteral("lumenrider.exe"), "#!/bin/sh\necho client 1.6.5, an older one\n");
    for (int f = 0; f < 20; ++f) {
        const int big = (f * 37 + 11) % 100;
        for (int i = 0; i < 100; ++i) {
            const QString path = QStringLiteral("d%1/f%2.dat").arg(f, 2, 10, QLatin1Char('0')).arg(i, 3, 10, QLatin1Char('0'));
            const int length = size(200, 48 << 10);
            v.shipped.insert(path, bytes(length, seed++));
            const quint32 kind = random() % 20;
            if (kind >= 3) // the rest is new in this version
                v.earlier.insert(path, bytes(kind < 9 ? size(200, 48 << 10) : length, seed++));
            if (i == big) {
                const QString pack = QStringLiteral("d%1/f%2.pak").arg(f, 2, 10, QLatin1Char('0')).arg(i, 3, 10, QLatin1Char('0'));
                const int packLength = size(2 << 20, 8 << 20);
                v.shipped.insert(pack, bytes(packLength, seed++));
                if (f % 2 == 0)
                    v.earlier.insert(pack, bytes(packLength + size(-(1 << 20), 1 << 20), seed++));
            }
        }
    }
    for (int i = 0; i < 10; ++i)
        v.shipped.insert(QStringLiteral("d10-extra/x%1.dat").arg(i), bytes(size(200, 48 << 10), seed++));
    v.shipped.insert(QStringLiteral("d10-extra/x5.pak"), bytes(6 << 20, seed++));
    v.earlier.insert(QStringLiteral("d03/legacy.cfg"), "[legacy]\nkept=yes\n");
    v.earlier.insert(QStringLiteral("old-plugins/p1.dll"), bytes(100000, seed++));
    v.earlier.insert(QStringLiteral("old-plugins/p2.dll"), bytes(3 << 20, seed++));
    return v;
}

// Where the cuts fall: files of the release order, drawn with a chance that
// follows the time the release spends on each (its bytes, and 32 KiB for
// opening, naming and reporting it), in ascending order, so every run is
// cut further on than the one before and each cut falls among files no
// earlier run finished: old ones being replaced, new ones being written for
// the first time.
QVector<int> cutPoints(const Tree &shipped, const QStringList &order, int count, quint64 seed)
{
    QVector<double> ends;
    double total = 0;
    for (const QString &path : order)
        ends << (total += shipped.value(path).size() + 32768.0);
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> anywhere(0, total);
    QVector<int> points;
    for (int i = 0; i < count; ++i)
        points << int(std::upper_bound(ends.cbegin(), ends.cend(), anywhere(random)) - ends.cbegin());
    std::sort(points.begin(), points.end());
    return points;
}

} // namespace

void TestInterrupt::killedAtRandomPointsLosesNothing()
{
    const int kills = 50;
    bool seedGiven = false;
    const quint64 seed = qEnvironmentVariable("LUMENRIDER_INTERRUPT_SEED").toULongLong(&seedGiven);
    const quint64 usedSeed = seedGiven ? seed : std::random_device{}();
    qInfo("seed %llu (LUMENRIDER_INTERRUPT_SEED=%llu repeats these cuts)", usedSeed, usedSeed);

    ScopedTestEnvironment home;
    home.set("LUMENRIDER_DOMAIN_LIST_URL", server.domainListUrl());
    const QString payload = home.path() + QStringLiteral("/payload");
    const QString install = home.dataHome() + QStringLiteral("/lumenrider");
    const Versions versions = killTestVersions();
    QVERIFY(writeTree(payload, versions.shipped));
    QVERIFY(writeTree(install, versions.earlier));
    const QStringList order = releaseOrder(versions.shipped);
    const QVector<int> points = cutPoints(versions.shipped, order, kills, usedSeed);
    ReleaseWatch watch(install, versions.shipped);
    QVERIFY(watch.isValid());
    qint64 shippedBytes = 0;
    for (const QByteArray &content : versions.shipped)
        shippedBytes += content.size();
    qInfo("payload: %d files, %lld MiB; the earlier install: %d files, %d of them not in the payload",
          int(versions.shipped.size()), shippedBytes >> 20, int(versions.earlier.size()),
          int(std::count_if(versions.earlier.keyBegin(), versions.earlier.keyEnd(),
                            [&](const QString &path) { return !versions.shipped.contains(path); })));

    InstallerRun installer(payload, home.path() + QStringLiteral("/installer.out"));
    int done = 0, intoLargeFiles = 0, temporariesSeen = 0;
    Damage total;
    for (const int point : points) {
        watch.drain();
        QVERIFY(installer.start());
        // Cut once the release gives its copy of the file before the chosen
        // one a name (its own, or the temporary one it has for the moment
        // before it replaces an old file): the chosen one's turn has come.
        const int trigger = qMax(point - 1, 0);
        const QDeadlineTimer deadline(installBoundMs);
        bool reached = false;
        while (!reached && installer.running() && !deadline.hasExpired())
            reached = watch.furthest(100) >= trigger;
        QVERIFY2(installer.running(), qPrintable(QStringLiteral("the installer ended before cut %1:\n").arg(done + 1)
                                                 + installer.tail()));
        QVERIFY2(reached, qPrintable(QStringLiteral("the release never reached file %1 (%2)").arg(trigger).arg(order.value(trigger))));
        installer.kill();
        ++done;

        const Damage damage = checkAfterCut(install, versions);
        total.checked += damage.checked;
        total.damaged += damage.damaged;
        temporariesSeen += temporaryFilesUnder(install);
        // The first file the cut left unfinished, in release order.
        for (const QString &path : order) {
            if (readTestFile(install + QLatin1Char('/') + path) != versions.shipped.value(path)) {
                intoLargeFiles += versions.shipped.value(path).size() >= (1 << 20);
                break;
            }
        }
    }
    qInfo("cuts fell at files %d to %d of %d; %d of them during a copy of 1 MiB or more; "
          "%d temporary files seen right after a cut",
          points.first(), points.last(), int(order.size()), intoLargeFiles, temporariesSeen);

    // And once more, to the end.
    QVERIFY(installer.start());
    QTRY_VERIFY_WITH_TIMEOUT(installer.output().contains(installedLine) || !installer.running(), installBoundMs);
    QVERIFY2(installer.output().contains(installedLine), qPrintable(installer.tail()));
    installer.stop();
    const int temporariesLeft = temporaryFilesUnder(install);
    qInfo("interrupted installs: %d kills, %lld files checked, %d damaged, %d temporary files left (seed %llu)",
          done, total.checked, int(total.damaged.size()), temporariesLeft, usedSeed);
    QVERIFY2(total.damaged.isEmpty(), qPrintable(total.damaged.mid(0, 20).join(QLatin1Char('\n'))));
    QCOMPARE(temporariesLeft, 0);
    QCOMPARE(done, kills);
    checkInstalledTree(install, payload, versions.earlier);
}

namespace {

// The payload of the disk test: the installer, the client and a data
// folder of small files with a large one every eighth; the earlier install
// has the first half of the data folder and a file of its own.
Versions diskTestVersions()
{
    Versions v;
    quint64 seed = 1000;
    v.shipped.insert(installerName, installerProgram());
    v.shipped.insert(QStringLiteral("lumenrider.exe"), "#!/bin/sh\necho client 1.6.9\n");
    v.earlier.insert(QStringLiteral("lumenrider.exe"), "#!/bin/sh\necho client 1.6.5\n");
    for (int i = 0; i < 32; ++i) {
        const QString path = QStringLiteral("data/f%1.bin").arg(i, 2, 10, QLatin1Char('0'));
        v.shipped.insert(path, bytes(i % 8 == 3 ? 3 << 20 : 128 << 10, seed++));
        if (i < 16)
            v.earlier.insert(path, bytes(64 << 10, seed++));
    }
    v.earlier.insert(QStringLiteral("data/settings.cfg"), "[user]\nkept=yes\n");
    return v;
}

} // namespace

void TestInterrupt::fullDiskStopsTheReleaseAndRerunFinishes_data()
{
    QTest::addColumn<bool>("grow");
    QTest::newRow("space freed by removing a file") << false;
    QTest::newRow("space freed by growing the file system") << true;
}

void TestInterrupt::fullDiskStopsTheReleaseAndRerunFinishes()
{
    QFETCH(bool, grow);
    ScopedTestEnvironment home;
    home.set("LUMENRIDER_DOMAIN_LIST_URL", server.domainListUrl());
    const QString payload = home.path() + QStringLiteral("/payload");
    const QString install = home.dataHome() + QStringLiteral("/lumenrider");
    const Versions versions = diskTestVersions();
    QVERIFY(writeTree(payload, versions.shipped));

    // Room for all of it once the space is freed, and for a copy beside
    // the largest file it replaces; until then a third of the payload fits.
    const qint64 largest = pages(3 << 20);
    const qint64 room = spaceFor(versions.shipped) + spaceFor(versions.earlier) + largest + (2 << 20);
    const qint64 shortBy = room - spaceFor(versions.earlier) - spaceFor(versions.shipped) / 3;
    SmallDisk disk;
    const QString refused = disk.mount(home.dataHome(), grow ? room - shortBy : room);
    if (!refused.isEmpty())
        QSKIP(qPrintable(refused));
    const QString filler = disk.path(home.dataHome() + QStringLiteral("/filler.bin"));
    for (auto it = versions.earlier.cbegin(); it != versions.earlier.cend(); ++it)
        QVERIFY(writeTestFile(disk.path(install) + QLatin1Char('/') + it.key(), it.value()));
    if (!grow)
        QVERIFY(writeTestFile(filler, bytes(shortBy, 7)));
    const qint64 freeBefore = disk.freeBytes();
    QVERIFY2(freeBefore < spaceFor(versions.shipped), "the payload must not fit");

    const int reportsBefore = server.errorReports(QStringLiteral("4001")).size();
    InstallerRun installer(payload, home.path() + QStringLiteral("/installer.out"));
    QVERIFY(installer.start(disk.enter(payload)));
    QTRY_VERIFY_WITH_TIMEOUT(installer.output().contains(releaseFailedLine) || !installer.running(), installBoundMs);
    QVERIFY2(installer.output().contains(releaseFailedLine), qPrintable(installer.tail()));
    const auto fileCopyReports = [&] {
        QStringList messages;
        const QJsonArray reports = server.errorReports(QStringLiteral("4001"));
        for (int i = reportsBefore; i < reports.size(); ++i) {
            const QString message = VendorApiServer::field(reports.at(i).toObject(), QStringLiteral("msg"));
            if (message.startsWith(fileCopyFailed + install))
                messages << message;
        }
        return messages;
    };
    QTRY_COMPARE_WITH_TIMEOUT(fileCopyReports().size(), 1, reportBoundMs);
    // The failure was the installer's to handle, not the end of it; and it
    // stopped there: the page says so and goes no further.
    QVERIFY(installer.running());
    QVERIFY(!installer.output().contains(installedLine));
    installer.stop();

    // What the release wrote before it ran out is whole, what it had not
    // reached is as the earlier install left it, and no copy it was making
    // is left behind.
    const Damage damage = checkAfterCut(disk.path(install), versions);
    QVERIFY2(damage.damaged.isEmpty(), qPrintable(damage.damaged.join(QLatin1Char('\n'))));
    QCOMPARE(temporaryFilesUnder(disk.path(install)), 0);
    // It stopped at the first file that did not fit: the release order's
    // files before it are in place, and the room left is less than it needs.
    int released = 0;
    QString stoppedAt;
    for (const QString &path : releaseOrder(versions.shipped)) {
        if (readTestFile(disk.path(install) + QLatin1Char('/') + path) != versions.shipped.value(path)) {
            stoppedAt = path;
            break;
        }
        ++released;
    }
    QVERIFY2(released > 0 && released < versions.shipped.size(),
             qPrintable(QStringLiteral("%1 of %2 files released").arg(released).arg(versions.shipped.size())));
    // and none after it: the release went no further.
    int releasedAnywhere = 0;
    for (auto it = versions.shipped.cbegin(); it != versions.shipped.cend(); ++it)
        releasedAnywhere += readTestFile(disk.path(install) + QLatin1Char('/') + it.key()) == it.value();
    QCOMPARE(releasedAnywhere, released);
    const QString stoppedIn = QFileInfo(stoppedAt).path();
    QCOMPARE(fileCopyReports(), QStringList{fileCopyFailed + install
                                            + (stoppedIn == QLatin1String(".") ? QString() : QLatin1Char('/') + stoppedIn)
                                            + QStringLiteral("当前是否为覆盖安装:否")});
    const qint64 freeAtStop = disk.freeBytes();
    QVERIFY2(freeAtStop < pages(versions.shipped.value(stoppedAt).size()),
             qPrintable(QStringLiteral("%1 KiB free, %2 needs %3 KiB")
                            .arg(freeAtStop / 1024)
                            .arg(stoppedAt)
                            .arg(versions.shipped.value(stoppedAt).size() / 1024)));

    if (grow)
        QVERIFY(disk.resize(room));
    else
        QVERIFY(QFile::remove(filler));
    QVERIFY(disk.freeBytes() > freeAtStop);
    QVERIFY(installer.start(disk.enter(payload)));
    QTRY_VERIFY_WITH_TIMEOUT(installer.output().contains(installedLine) || !installer.running(), installBoundMs);
    QVERIFY2(installer.output().contains(installedLine), qPrintable(installer.tail()));
    installer.stop();
    checkInstalledTree(disk.path(install), payload, versions.earlier);
    qInfo("disk full: the first run released %d of %d files and stopped at %s with %lld KiB free, reported "
          "\"%s\", and left no file half-written; after the space was freed (%s) the next run finished the install",
          released, int(versions.shipped.size()), qPrintable(stoppedAt), freeAtStop / 1024,
          qPrintable(fileCopyReports().first()), grow ? "the file system grown" : "a file removed");
}

QTEST_GUILESS_MAIN(TestInterrupt)
#include "tst_interrupt.moc"
