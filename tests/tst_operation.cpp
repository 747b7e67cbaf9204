// The install object and the free install steps: file release on real
// trees, process, service and logon-task control through the real
// stand-ins, the registry entries, the launch of the client, and the error
// reports as the vendor-API stand-in receives them.

#include "EngineTestSupport.h"
#include "Info.h"
#include "Network.h"
#include "Operation.h"
#include "Platform.h"
#include "TestSupport.h"
#include "VendorApiServer.h"
#include "main.h"

#include <QDesktopServices>
#include <QDirIterator>
#include <QSettings>
#include <QStandardPaths>
#include <QtTest>

#include <memory>

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString serviceName = QStringLiteral("DOVivived");

QString helperProgram()
{
    return QStringLiteral(ENGINE_HELPER_EXE);
}

// Every entry below `root`, hidden ones too: files with their content,
// folders and links marked as such.
QMap<QString, QByteArray> treeSnapshot(const QString &root)
{
    QMap<QString, QByteArray> tree;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        const QString relative = QDir(root).relativeFilePath(path);
        if (info.isSymLink())
            tree.insert(relative, "link:" + QFile::encodeName(info.symLinkTarget()));
        else if (info.isDir())
            tree.insert(relative, "folder");
        else
            tree.insert(relative, readTestFile(path));
    }
    return tree;
}

QList<int> progressValues(const QSignalSpy &spy)
{
    QList<int> values;
    for (const QList<QVariant> &arguments : spy)
        values << arguments.at(0).toInt();
    return values;
}

// "progress N" lines of the engine helper.
QList<int> printedProgress(const QByteArray &output)
{
    QList<int> values;
    for (const QByteArray &line : output.split('\n')) {
        if (line.startsWith("progress "))
            values << line.mid(9).toInt();
    }
    return values;
}

bool makeExecutable(const QString &path)
{
    return QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
}

// A client that writes "started" and its arguments, one a line, beside itself.
bool writeRecordingClient(const QString &program)
{
    return writeTestFile(program, "#!/bin/sh\n{ echo started; for a in \"$@\"; do echo \"$a\"; done; } > \"$0.args\"\n")
           && makeExecutable(program);
}

// The Exec value of a desktop entry as the command line /bin/sh runs: the
// string escapes undone, "%%" back to "%"; the quoting left is the shell's.
QString execCommand(const QByteArray &entry)
{
    for (const QByteArray &line : entry.split('\n')) {
        if (!line.startsWith("Exec="))
            continue;
        QString value = QString::fromUtf8(line.mid(5));
        QString command;
        for (int i = 0; i < value.size(); ++i) {
            if (value.at(i) == QLatin1Char('\\') && i + 1 < value.size() && value.at(i + 1) == QLatin1Char('\\'))
                ++i;
            command += value.at(i);
        }
        return command.replace(QStringLiteral("%%"), QStringLiteral("%"));
    }
    return QString();
}

void setReadOnly(const QString &path, bool readOnly)
{
    const QFile::Permissions owner = QFile::ReadOwner | QFile::ExeOwner | (readOnly ? QFile::Permissions() : QFile::WriteOwner);
    QFile::setPermissions(path, owner);
}

struct HelperRun
{
    QProcess::ExitStatus status = QProcess::CrashExit;
    int exitCode = -1;
    QByteArray output;
    QByteArray errors;
};

HelperRun runProgram(const QString &program, const QStringList &arguments, const QString &workingDirectory = QString())
{
    QProcess process;
    if (!workingDirectory.isEmpty())
        process.setWorkingDirectory(workingDirectory);
    process.start(program, arguments);
    if (!process.waitForFinished(60000))
        return {};
    return {process.exitStatus(), process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

// What happens to the names of one folder, as the kernel reports it
// (inotify): each event as "KIND name", in order.
class FolderEvents
{
public:
    explicit FolderEvents(const QString &folder) : fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        watching = fd >= 0
                   && ::inotify_add_watch(fd, QFile::encodeName(folder).constData(),
                                          IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO)
                          >= 0;
    }
    ~FolderEvents()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool isWatching() const { return watching; }

    // Everything reported so far; the events of a call that returned have
    // all been queued by then.
    QStringList take()
    {
        QStringList events;
        alignas(inotify_event) char buffer[1 << 16];
        ssize_t got;
        while ((got = ::read(fd, buffer, sizeof(buffer))) > 0) {
            for (char *at = buffer; at < buffer + got;) {
                const auto *event = reinterpret_cast<const inotify_event *>(at);
                const QString name = event->len ? QFile::decodeName(event->name) : QString();
                for (const auto &kind : kinds) {
                    if (event->mask & kind.first)
                        events << QLatin1String(kind.second) + QLatin1Char(' ') + name;
                }
                at += sizeof(inotify_event) + event->len;
            }
        }
        return events;
    }

private:
    const QList<QPair<uint32_t, const char *>> kinds{{IN_CREATE, "create"},        {IN_MODIFY, "modify"},
                                                    {IN_CLOSE_WRITE, "closewrite"}, {IN_MOVED_FROM, "movedfrom"},
                                                    {IN_MOVED_TO, "movedto"}};
    int fd;
    bool watching = false;
};

} // namespace

class Tst_operation : public QObject
{
    Q_OBJECT

public slots:
    // Stands in for the system's opener of addresses.
    void recordOpenedAddress(const QUrl &url) { openedAddresses << url; }

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void createPathAppendsProductFolder_data();
    void createPathAppendsProductFolder();
    void getpathTurnsFileUrlIntoPath_data();
    void getpathTurnsFileUrlIntoPath();
    void setdefaultinstallPathRetargetsConfigFile();
    void jobResultsBecomePageSignals_data();
    void jobResultsBecomePageSignals();

    void releaseRefusesUnsafeTargetAndReports_data();
    void releaseRefusesUnsafeTargetAndReports();
    void releaseLeavesInstallerFolderUntouched_data();
    void releaseLeavesInstallerFolderUntouched();
    void releaseOfThreeFilesShowsProgressTo65();
    void releaseIntoFolderInsideInstallerFolder_data();
    void releaseIntoFolderInsideInstallerFolder();
    void progressFollowsFileCount();
    void hiddenEntriesAreNeitherCountedNorCopied();
    void listingIsTheSystemsDefaultListing();
    void permissionBitsAreKept_data();
    void permissionBitsAreKept();
    void emptyFoldersAndPermissionBitsAreKept();
    void existingWritableTargetIsReplaced();
    void existingTargetFailsWithoutCover();
    void missingParentFailsAtOnce();
    void readOnlyTargetFileFailsAndStays();
    void unreadableSourceFolderFails();
    void linksAreCopiedAsLinks();
    void failedCopyLeavesTargetAsItWas_data();
    void failedCopyLeavesTargetAsItWas();
    void copyTakesItsNameOnlyWhenWhole_data();
    void copyTakesItsNameOnlyWhenWhole();
    void leftoversOfACutOffReleaseAreRemoved_data();
    void leftoversOfACutOffReleaseAreRemoved();

    void killProcessEndsRunningClients();
    void killProcessTakesOtherLetterCaseAsNotRunning();
    void killProcessGoesOnAfterRefusedKill();
    void killProcessLogsSingleAbsentNameTwice();
    void killProcessWithoutToolsFails();
    void uninstalldriveRemovesService_data();
    void uninstalldriveRemovesService();
    void uninstalldriveRefusedByRegistry();
    void uninstalldriveWithoutToolsReportsBoth();

    void addStartProjectKeepsExistingTask();
    void addStartProjectFromFolderWithSpaceStartsClient();
    void addStartProjectRefusedReports4000();

    void writeregeditRecordsInstallForNextRun();
    void writeregeditConvertsMixedSeparators();
    void shortcutsPointAtInstalledClient();

    void startexePassesFlags_data();
    void startexePassesFlags();
    void startexeWithoutClientReports4002();
    void setversionWritesVersionSection();
    void iftwiceinstallReportsOnlySecondInstall_data();
    void iftwiceinstallReportsOnlySecondInstall();
    void openurlOpensOnlyWebPages_data();
    void openurlOpensOnlyWebPages();

private:
    // Waits until `count` more reports with `code` than `before` arrived;
    // gives the message of the last one.
    QString awaitReport(const QString &code, int before);
    // The texts of every report with `code` the stand-in has received.
    QStringList reportMessages(const QString &code);
    // An error report that shows every earlier report of this thread is out.
    void flushReports();
    // Pretends no tool can be found, as on a system that lacks them.
    void hideTools();
    // How to run the engine helper: as it is, or with /proc hidden from it;
    // empty (and procHidingRefusal says why) where /proc can't be hidden.
    QStringList engineCommand(bool hideProc);
    QString procHidingRefusal;
    StandInRun sc(const QString &command);

    VendorApiServer server;
    std::unique_ptr<ScopedTestEnvironment> environment;
    std::unique_ptr<LogCapture> log;
    QList<QUrl> openedAddresses;
};

void Tst_operation::initTestCase()
{
    QVERIFY2(server.start(), "the vendor-API stand-in did not start");
    for (const char *scheme : {"http", "https", "file", "ftp", "javascript", "mailto"})
        QDesktopServices::setUrlHandler(QLatin1String(scheme), this, "recordOpenedAddress");
}

void Tst_operation::init()
{
    environment = std::make_unique<ScopedTestEnvironment>();
    log = std::make_unique<LogCapture>();
    logApiBase = server.baseUrl() + QStringLiteral("/log/");
    retargetInstallPath(environment->path() + QStringLiteral("/install"));
    secondInstall = QStringLiteral("否");
    consoleMode = false;
    debugMode = false;
    clientProcessList.clear();
    releaseTotal = 0;
    releaseDone = 0;
    openedAddresses.clear();
}

void Tst_operation::cleanup()
{
    // Read-only folders of a test must not stop the temporary folder's removal.
    QDirIterator it(environment->path(), QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        setReadOnly(it.next(), false);
    log.reset();
    environment.reset();
    oemId = QStringLiteral("100");
    inviteCdk.clear();
    projectName = QStringLiteral("lumenrider");
}

QStringList Tst_operation::reportMessages(const QString &code)
{
    QStringList messages;
    for (const QJsonValue &report : server.errorReports(code))
        messages << VendorApiServer::field(report.toObject(), QStringLiteral("msg"));
    return messages;
}

QString Tst_operation::awaitReport(const QString &code, int before)
{
    const auto arrived = [&] { return server.errorReports(code).size() > before; };
    if (!QTest::qWaitFor(arrived, 10000))
        return QStringLiteral("<no report>");
    const QJsonArray reports = server.errorReports(code);
    return VendorApiServer::field(reports.last().toObject(), QStringLiteral("msg"));
}

void Tst_operation::flushReports()
{
    const int before = server.errorReports(QStringLiteral("9999")).size();
    Network network;
    network.sendReportError(QStringLiteral("9999"), QStringLiteral("flush"));
    QTRY_COMPARE_WITH_TIMEOUT(server.errorReports(QStringLiteral("9999")).size(), before + 1, 10000);
}

void Tst_operation::hideTools()
{
    const QString empty = environment->path() + QStringLiteral("/no-tools");
    QDir().mkpath(empty);
    environment->set("LUMENRIDER_TOOLS_DIR", empty);
    environment->set("PATH", empty);
}

QStringList Tst_operation::engineCommand(bool hideProc)
{
    if (!hideProc)
        return {helperProgram()};
    const QStringList hidden{QStringLiteral("unshare"), QStringLiteral("--mount"), QStringLiteral("--propagation"),
                             QStringLiteral("private"), QStringLiteral("--"), QStringLiteral("sh"), QStringLiteral("-c"),
                             // LeakSanitizer reads /proc: without it, a sanitizer
                             // build's leak check can only fail.
                             QStringLiteral("mount -t tmpfs -o size=64k no-proc /proc "
                                            "&& ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" "
                                            "exec \"$0\" \"$@\"")};
    static const QString refusal = [&hidden] {
        const HelperRun probe = runProgram(hidden.first(), hidden.mid(1) + QStringList{QStringLiteral("test"),
                                                                                      QStringLiteral("!"),
                                                                                      QStringLiteral("-e"),
                                                                                      QStringLiteral("/proc/self")});
        if (probe.status == QProcess::NormalExit && probe.exitCode == 0)
            return QString();
        const QString said = QString::fromLocal8Bit(probe.errors).trimmed();
        return QStringLiteral("/proc can't be hidden in a mount namespace of its own here (needs CAP_SYS_ADMIN): ")
               + (said.isEmpty() ? QStringLiteral("exit code %1").arg(probe.exitCode) : said);
    }();
    procHidingRefusal = refusal;
    return refusal.isEmpty() ? hidden + QStringList{helperProgram()} : QStringList();
}

StandInRun Tst_operation::sc(const QString &command)
{
    return runStandIn(QStringLiteral("sc"), {command, serviceName});
}

// --- The install object ---

void Tst_operation::createPathAppendsProductFolder_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("expected");
    QTest::newRow("drive root") << "D:/" << "D:/lumenrider";
    QTest::newRow("folder") << "D:/Games" << "D:/Games/lumenrider";
    QTest::newRow("empty") << "" << "/lumenrider";
    QTest::newRow("file url") << "file:///home/u/" << "file:///home/u/lumenrider";
}

void Tst_operation::createPathAppendsProductFolder()
{
    QFETCH(QString, chosen);
    QFETCH(QString, expected);
    QCOMPARE(Operation().createPath(chosen), expected);
}

void Tst_operation::getpathTurnsFileUrlIntoPath_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("expected");
    // A drive letter keeps the path absolute where drives exist; elsewhere
    // the URL's root stays.
    const QString drivePath = QStringLiteral("C:/Games/lumenrider");
    QTest::newRow("drive") << "file:///C:/Games/lumenrider"
                           << (QDir::isAbsolutePath(drivePath) ? drivePath : QLatin1Char('/') + drivePath);
    QTest::newRow("root") << "file:///home/u/Games/lumenrider" << "/home/u/Games/lumenrider";
    QTest::newRow("plain path") << "/opt/lumenrider" << "/opt/lumenrider";
    QTest::newRow("scheme in capitals") << "FILE:///opt/x" << "/opt/x";
    QTest::newRow("empty") << "" << "";
    // As the dialog writes a chosen folder's address.
    const QString awkward = QStringLiteral("/home/u/游戏 #1 100% (x86)");
    QTest::newRow("# and % in the name") << QUrl::fromLocalFile(awkward).toString() << awkward;
    QTest::newRow("network share") << "file://server/share/流光" << "//server/share/流光";
}

void Tst_operation::getpathTurnsFileUrlIntoPath()
{
    QFETCH(QString, url);
    QFETCH(QString, expected);
    QCOMPARE(Operation().getpath(url), expected);
}

void Tst_operation::setdefaultinstallPathRetargetsConfigFile()
{
    Operation operation;
    const QString folder = environment->path() + QStringLiteral("/chosen");
    QVERIFY(operation.setdefaultinstall_path(folder));
    QCOMPARE(operation.getdefaultinstall_path(), folder);
    QCOMPARE(configPath, folder + QStringLiteral("/temp/config/config.ini"));
    QVERIFY(!QFileInfo::exists(folder));
}

void Tst_operation::jobResultsBecomePageSignals_data()
{
    QTest::addColumn<int>("job");
    QTest::addColumn<bool>("success");
    QTest::addColumn<QString>("signal");
    QTest::newRow("logon task failed") << 1 << false << "qmlSign_bool_setaddstartproject";
    QTest::newRow("logon task made") << 1 << true << "qmlSign_bool_setaddstartproject";
    QTest::newRow("release") << 2 << false << "qmlSign_bool_releasefile";
    QTest::newRow("processes") << 3 << true << "qmlSign_bool_killprogress";
    QTest::newRow("driver") << 4 << true << "qmlSign_bool_uninstalldrive";
    QTest::newRow("unknown job") << 9 << true << "";
}

void Tst_operation::jobResultsBecomePageSignals()
{
    QFETCH(int, job);
    QFETCH(bool, success);
    QFETCH(QString, signal);
    Operation operation;
    QSignalSpy logonTask(&operation, &Operation::qmlSign_bool_setaddstartproject);
    QSignalSpy release(&operation, &Operation::qmlSign_bool_releasefile);
    QSignalSpy processes(&operation, &Operation::qmlSign_bool_killprogress);
    QSignalSpy driver(&operation, &Operation::qmlSign_bool_uninstalldrive);
    const QMap<QString, QSignalSpy *> spies{{"qmlSign_bool_setaddstartproject", &logonTask},
                                            {"qmlSign_bool_releasefile", &release},
                                            {"qmlSign_bool_killprogress", &processes},
                                            {"qmlSign_bool_uninstalldrive", &driver}};

    QVERIFY(QMetaObject::invokeMethod(&operation, "boolfinishthread", Q_ARG(bool, success), Q_ARG(int, job)));

    for (auto it = spies.cbegin(); it != spies.cend(); ++it) {
        QCOMPARE(it.value()->count(), it.key() == signal ? 1 : 0);
        if (it.key() == signal)
            QCOMPARE(it.value()->at(0).at(0).toBool(), success);
    }
    QVERIFY(log->contains(QStringLiteral("<线程操作>:接收信号 %1 id: %2").arg(success ? "true" : "false").arg(job)));
    // The logon-task choice is recorded whether or not the task was made.
    QCOMPARE(getConfigValue(QStringLiteral("setting"), QStringLiteral("openstart")).toBool(), job == 1);
    if (job == 1)
        QTRY_VERIFY(readTestFile(configPath).contains("[setting]\nopenstart=true"));
}

// --- File release ---

void Tst_operation::releaseRefusesUnsafeTargetAndReports_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("reason");
    QTest::newRow("installer folder") << QCoreApplication::applicationDirPath() << "安装路径是安装程序所在目录";
    QTest::newRow("empty") << "" << "安装路径为空";
    QTest::newRow("relative") << "lumenrider" << "安装路径不是绝对路径";
}

void Tst_operation::releaseRefusesUnsafeTargetAndReports()
{
    QFETCH(QString, target);
    QFETCH(QString, reason);
    installPath = target;
    const int before = server.errorReports(QStringLiteral("4001")).size();
    Operation operation;
    QSignalSpy progress(&operation, &Operation::sign_int_progressvalue);

    QVERIFY(!operation.releasefile());

    QCOMPARE(progress.count(), 0);
    QCOMPARE(releaseDone, 0);
    const QStringList warnings = log->messages(QtWarningMsg);
    QCOMPARE(warnings.size(), 1);
    QVERIFY2(warnings.at(0).startsWith(QStringLiteral("<释放文件>:")) && warnings.at(0).contains(reason),
             qPrintable(warnings.at(0)));
    const QString message = awaitReport(QStringLiteral("4001"), before);
    QVERIFY2(message.contains(reason), qPrintable(message));
}

void Tst_operation::releaseLeavesInstallerFolderUntouched_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("its own path") << "%1";
    QTest::newRow("through ..") << "%1/sub/..";
    QTest::newRow("through a link") << "%2/link-to-installer";
    QTest::newRow("empty") << "";
    QTest::newRow("relative") << "copy";
}

void Tst_operation::releaseLeavesInstallerFolderUntouched()
{
    QFETCH(QString, target);
    const QString installer = environment->path() + QStringLiteral("/installer");
    const QString elsewhere = environment->path() + QStringLiteral("/elsewhere");
    QVERIFY(QDir().mkpath(elsewhere));
    QVERIFY(QDir().mkpath(installer));
    QVERIFY(QFile::copy(helperProgram(), installer + QStringLiteral("/engine_helper")));
    QVERIFY(writeTestFile(installer + QStringLiteral("/client.dll"), QByteArray(70000, 'c')));
    QVERIFY(writeTestFile(installer + QStringLiteral("/sub/config.ini"), "[a]\nb=1\n"));
    QVERIFY(QFile::link(installer, elsewhere + QStringLiteral("/link-to-installer")));
    const QMap<QString, QByteArray> before = treeSnapshot(installer);
    const QMap<QString, QByteArray> elsewhereBefore = treeSnapshot(elsewhere);

    const HelperRun run = runProgram(installer + QStringLiteral("/engine_helper"),
                                     {QStringLiteral("release"), QString(target).replace(QLatin1String("%1"), installer).replace(QLatin1String("%2"), elsewhere)},
                                     elsewhere);

    QCOMPARE(run.status, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.output, QByteArray("result false\n"));
    QVERIFY2(run.errors.contains("<释放文件>:"), run.errors.constData());
    QCOMPARE(treeSnapshot(installer), before);
    QCOMPARE(treeSnapshot(elsewhere), elsewhereBefore);
}

void Tst_operation::releaseOfThreeFilesShowsProgressTo65()
{
    const QString installer = environment->path() + QStringLiteral("/installer");
    const QString target = environment->path() + QStringLiteral("/target");
    QVERIFY(writeTestFile(installer + QStringLiteral("/a.txt"), "first"));
    QVERIFY(writeTestFile(installer + QStringLiteral("/sub/b.txt"), "second"));
    QVERIFY(QFile::copy(helperProgram(), installer + QStringLiteral("/engine_helper")));

    const HelperRun run = runProgram(installer + QStringLiteral("/engine_helper"), {QStringLiteral("release"), target});

    QCOMPARE(run.exitCode, 0);
    QCOMPARE(printedProgress(run.output), (QList<int>{21, 43, 65}));
    QVERIFY(run.output.endsWith("result true\n"));
    QCOMPARE(treeSnapshot(target), treeSnapshot(installer));
}

void Tst_operation::releaseIntoFolderInsideInstallerFolder_data()
{
    QTest::addColumn<bool>("earlierInstall");
    QTest::newRow("new folder") << false;
    QTest::newRow("earlier install there") << true;
}

void Tst_operation::releaseIntoFolderInsideInstallerFolder()
{
    QFETCH(bool, earlierInstall);
    const QString installer = environment->path() + QStringLiteral("/installer");
    const QString target = installer + QStringLiteral("/lumenrider");
    QVERIFY(writeTestFile(installer + QStringLiteral("/a.txt"), "first"));
    QVERIFY(writeTestFile(installer + QStringLiteral("/sub/b.txt"), "second"));
    QVERIFY(QFile::copy(helperProgram(), installer + QStringLiteral("/engine_helper")));
    const QMap<QString, QByteArray> source = treeSnapshot(installer);
    if (earlierInstall)
        QVERIFY(writeTestFile(target + QStringLiteral("/old/kept.txt"), "earlier"));

    const HelperRun run = runProgram(installer + QStringLiteral("/engine_helper"), {QStringLiteral("release"), target});

    QCOMPARE(run.exitCode, 0);
    QCOMPARE(printedProgress(run.output), (QList<int>{21, 43, 65}));
    QMap<QString, QByteArray> expected = source;
    if (earlierInstall) {
        expected.insert(QStringLiteral("old"), "folder");
        expected.insert(QStringLiteral("old/kept.txt"), "earlier");
    }
    QCOMPARE(treeSnapshot(target), expected);
}

void Tst_operation::progressFollowsFileCount()
{
    const QString source = environment->path() + QStringLiteral("/source");
    const int files = 200;
    for (int i = 0; i < files; ++i)
        QVERIFY(writeTestFile(QStringLiteral("%1/f%2").arg(source).arg(i, 3, 10, QLatin1Char('0')), QByteArray::number(i)));
    Operation operation;
    int count = 0;
    QVERIFY(operation.releasefilecount(source, count));
    QCOMPARE(count, files);
    releaseTotal = count;
    QSignalSpy progress(&operation, &Operation::sign_int_progressvalue);

    QVERIFY(operation.copyfile(source, installPath, true));

    QList<int> expected;
    for (int n = 1; n <= files; ++n)
        expected << n * 65 / files;
    QCOMPARE(progressValues(progress), expected);
    QCOMPARE(releaseDone, files);
    QCOMPARE(treeSnapshot(installPath), treeSnapshot(source));
}

void Tst_operation::hiddenEntriesAreNeitherCountedNorCopied()
{
    const QString source = environment->path() + QStringLiteral("/source");
    QVERIFY(writeTestFile(source + QStringLiteral("/shown.txt"), "x"));
    QVERIFY(writeTestFile(source + QStringLiteral("/.hidden.txt"), "x"));
    QVERIFY(writeTestFile(source + QStringLiteral("/.git/objects/deep.bin"), "x"));
    QVERIFY(QFile::link(QStringLiteral("nowhere"), source + QStringLiteral("/dangling")));
    Operation operation;
    int count = 0;
    operation.releasefilecount(source, count);
    QCOMPARE(count, 1);
    releaseTotal = count;

    QVERIFY(operation.copyfile(source, installPath, true));
    QCOMPARE(QDir(installPath).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("shown.txt")});
}

// The release reads folders on its own; what it sees must be what QDir
// lists by default: no hidden or system entries (a pipe, a link that leads
// nowhere), links as entries, names sorted ignoring case.
void Tst_operation::listingIsTheSystemsDefaultListing()
{
    const QString folder = environment->path() + QStringLiteral("/listed");
    for (const char *file : {"b.txt", "A.txt", "Zeta", "ärger.txt", ".hidden", "C/inside.txt", "alpha/x"})
        QVERIFY(writeTestFile(folder + QLatin1Char('/') + QString::fromUtf8(file), "x"));
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/.hidden-folder")));
    QVERIFY(QFile::link(QStringLiteral("C"), folder + QStringLiteral("/link-to-folder")));
    QVERIFY(QFile::link(QStringLiteral("b.txt"), folder + QStringLiteral("/Link-to-file")));
    QVERIFY(QFile::link(QStringLiteral("nowhere"), folder + QStringLiteral("/dangling")));
    QCOMPARE(::mkfifo(QFile::encodeName(folder + QStringLiteral("/pipe")).constData(), 0600), 0);

    QStringList expected, listed, folders;
    for (const QFileInfo &entry : QDir(folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot,
                                                             QDir::Name | QDir::IgnoreCase)) {
        const bool isFolder = entry.isDir() && !entry.isSymLink();
        expected << entry.fileName() + (isFolder ? QStringLiteral("/") : QString());
        if (isFolder)
            folders << entry.fileName();
    }
    for (const Platform::FolderEntry &entry : Platform::listFolder(folder))
        listed << entry.name + (entry.folder ? QStringLiteral("/") : QString());
    QCOMPARE(listed, expected);

    const Platform::FolderCount count = Platform::countFolder(folder);
    QStringList counted = count.folders;
    counted.sort(Qt::CaseInsensitive);
    QCOMPARE(counted, folders);
    QCOMPARE(count.files, expected.size() - folders.size());
}

void Tst_operation::permissionBitsAreKept_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("program") << 0755;
    QTest::newRow("private") << 0600;
    QTest::newRow("read-only") << 0444;
    // Bits the process's file mode mask takes from a new file.
    QTest::newRow("writable by all") << 0666;
    QTest::newRow("set-group-id") << 02755;
}

void Tst_operation::permissionBitsAreKept()
{
    QFETCH(int, mode);
    const QString source = environment->path() + QStringLiteral("/source");
    QVERIFY(writeTestFile(source + QStringLiteral("/file"), "content"));
    QCOMPARE(::chmod(QFile::encodeName(source + QStringLiteral("/file")).constData(), mode_t(mode)), 0);
    releaseTotal = 1;

    QVERIFY(Operation().copyfile(source, installPath, true));

    struct stat copied;
    QCOMPARE(::stat(QFile::encodeName(installPath + QStringLiteral("/file")).constData(), &copied), 0);
    QCOMPARE(int(copied.st_mode & 07777), mode);
    QCOMPARE(readTestFile(installPath + QStringLiteral("/file")), QByteArray("content"));
}

void Tst_operation::emptyFoldersAndPermissionBitsAreKept()
{
    const QString source = environment->path() + QStringLiteral("/source");
    QVERIFY(QDir().mkpath(source + QStringLiteral("/empty")));
    QVERIFY(QDir().mkpath(source + QStringLiteral("/deep/er")));
    QVERIFY(writeTestFile(source + QStringLiteral("/ZURizad.exe"), "#!/bin/sh\n"));
    QVERIFY(QFile::setPermissions(source + QStringLiteral("/ZURizad.exe"),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup));
    releaseTotal = 1;
    Operation operation;
    QSignalSpy progress(&operation, &Operation::sign_int_progressvalue);

    QVERIFY(operation.copyfile(source, installPath, true));

    QVERIFY(QFileInfo(installPath + QStringLiteral("/empty")).isDir());
    QVERIFY(QFileInfo(installPath + QStringLiteral("/deep/er")).isDir());
    QCOMPARE(QFile::permissions(installPath + QStringLiteral("/ZURizad.exe")),
             QFile::permissions(source + QStringLiteral("/ZURizad.exe")));
    QCOMPARE(progressValues(progress), QList<int>{65});
}

void Tst_operation::existingWritableTargetIsReplaced()
{
    const QString source = environment->path() + QStringLiteral("/source");
    QVERIFY(writeTestFile(source + QStringLiteral("/sub/a.txt"), "new content"));
    QVERIFY(writeTestFile(installPath + QStringLiteral("/sub/a.txt"), "old content that is longer"));
    QVERIFY(writeTestFile(installPath + QStringLiteral("/user.cfg"), "kept"));
    releaseTotal = 1;

    QVERIFY(Operation().copyfile(source, installPath, true));

    QCOMPARE(readTestFile(installPath + QStringLiteral("/sub/a.txt")), QByteArray("new content"));
    QCOMPARE(readTestFile(installPath + QStringLiteral("/user.cfg")), QByteArray("kept"));
    QCOMPARE(QDir(installPath + QStringLiteral("/sub")).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("a.txt")});
}

void Tst_operation::existingTargetFailsWithoutCover()
{
    const QString source = environment->path() + QStringLiteral("/source");
    QVERIFY(writeTestFile(source + QStringLiteral("/a.txt"), "new"));
    QVERIFY(writeTestFile(installPath + QStringLiteral("/a.txt"), "old"));
    releaseTotal = 1;
    const int before = server.errorReports(QStringLiteral("4001")).size();

    QVERIFY(!Operation().copyfile(source, installPath, false));

    QCOMPARE(readTestFile(installPath + QStringLiteral("/a.txt")), QByteArray("old"));
    QCOMPARE(awaitReport(QStringLiteral("4001"), before),
             QStringLiteral("安装程序进行文件copy时失败,释放路径:") + installPath + QStringLiteral("当前是否为覆盖安装:否"));
}

void Tst_operation::missingParentFailsAtOnce()
{
    const QString source = environment->path() + QStringLiteral("/source");
    QVERIFY(writeTestFile(source + QStringLiteral("/a.txt"), "x"));
    const QString target = environment->path() + QStringLiteral("/missing/parent/target");
    secondInstall = QStringLiteral("是");
    const int before = server.errorReports(QStringLiteral("4001")).size();
    Operation operation;
    QSignalSpy progress(&operation, &Operation::sign_int_progressvalue);

    QVERIFY(!operation.copyfile(source, target, true));

    QCOMPARE(progress.count(), 0);
    QVERIFY(!QFileInfo::exists(environment->path() + QStringLiteral("/missing")));
    QCOMPARE(awaitReport(QStringLiteral("4001"), before), QStringLiteral("安装程序创建目录失败,释放路径:") + target
                                                               + QStringLiteral("当前是否为覆盖安装:是newpath") + target);
}

void Tst_operation::readOnlyTargetFileFailsAndStays()
{
    if (!permissionsAreEnforced())
        QSKIP("this process may write read-only files; scripts/test drops that capability");
    const QString source = environment->path() + QStringLiteral("/source");
    QVERIFY(writeTestFile(source + QStringLiteral("/sub/a.txt"), "new"));
    QVERIFY(writeTestFile(installPath + QStringLiteral("/sub/a.txt"), "old"));
    QVERIFY(QFile::setPermissions(installPath + QStringLiteral("/sub/a.txt"), QFile::ReadOwner));
    releaseTotal = 1;
    const int before = server.errorReports(QStringLiteral("4001")).size();

    QVERIFY(!Operation().copyfile(source, installPath, true));

    QCOMPARE(readTestFile(installPath + QStringLiteral("/sub/a.txt")), QByteArray("old"));
    QTRY_COMPARE_WITH_TIMEOUT(server.errorReports(QStringLiteral("4001")).size(), before + 2, 10000);
    const QStringList messages = reportMessages(QStringLiteral("4001"));
    QVERIFY(messages.contains(QStringLiteral("安装程序进行文件copy时失败,释放路径:") + installPath
                              + QStringLiteral("/sub当前是否为覆盖安装:否")));
    QVERIFY(messages.contains(QStringLiteral("为目录时递归的进行copy失败,释放路径:") + installPath
                              + QStringLiteral("当前是否为覆盖安装:否newpath") + installPath));
}

// A folder of the payload that can't be listed is not released as an
// empty one: the copy fails and says so.
void Tst_operation::unreadableSourceFolderFails()
{
    if (!permissionsAreEnforced())
        QSKIP("this process may read unreadable folders; scripts/test drops that capability");
    const QString source = environment->path() + QStringLiteral("/source");
    QVERIFY(writeTestFile(source + QStringLiteral("/a.txt"), "a"));
    QVERIFY(writeTestFile(source + QStringLiteral("/locked/b.txt"), "b"));
    QVERIFY(QFile::setPermissions(source + QStringLiteral("/locked"), QFileDevice::Permissions()));
    const auto unlock = qScopeGuard([&] {
        QFile::setPermissions(source + QStringLiteral("/locked"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    releaseTotal = 2;
    const int before = server.errorReports(QStringLiteral("4001")).size();

    QVERIFY(!Operation().copyfile(source, installPath, true));

    QTRY_COMPARE_WITH_TIMEOUT(server.errorReports(QStringLiteral("4001")).size(), before + 2, 10000);
    const QStringList messages = reportMessages(QStringLiteral("4001"));
    QVERIFY(messages.contains(QStringLiteral("安装程序进行文件copy时失败,释放路径:") + installPath
                              + QStringLiteral("/locked当前是否为覆盖安装:否")));
}

void Tst_operation::linksAreCopiedAsLinks()
{
    const QString source = environment->path() + QStringLiteral("/source");
    QVERIFY(writeTestFile(source + QStringLiteral("/a.txt"), "a"));
    QVERIFY(writeTestFile(source + QStringLiteral("/sub/b.txt"), "b"));
    QVERIFY(QFile::link(QStringLiteral(".."), source + QStringLiteral("/sub/loop")));
    QVERIFY(QFile::link(QStringLiteral("self"), source + QStringLiteral("/self")));
    Operation operation;
    int count = 0;
    operation.releasefilecount(source, count);
    QCOMPARE(count, 3);
    releaseTotal = count;
    QSignalSpy progress(&operation, &Operation::sign_int_progressvalue);

    QVERIFY(operation.copyfile(source, installPath, true));

    QCOMPARE(progressValues(progress), (QList<int>{21, 43, 65}));
    QCOMPARE(QFile::symLinkTarget(installPath + QStringLiteral("/sub/loop")), installPath);
    QCOMPARE(readTestFile(installPath + QStringLiteral("/sub/loop/a.txt")), QByteArray("a"));
    QVERIFY(!QFileInfo::exists(installPath + QStringLiteral("/self")));
}

// Where /proc is missing (some containers and chroots), the release can't
// name a file that has none yet and writes each copy under a temporary name
// beside its target instead. The rows that say so run the engine in a mount
// namespace of its own with an empty file system over /proc.
void Tst_operation::failedCopyLeavesTargetAsItWas_data()
{
    QTest::addColumn<bool>("oldFile");
    QTest::addColumn<bool>("hideProc");
    QTest::newRow("replacing a file") << true << false;
    QTest::newRow("a new file") << false << false;
    QTest::newRow("replacing a file, no /proc") << true << true;
    QTest::newRow("a new file, no /proc") << false << true;
}

void Tst_operation::failedCopyLeavesTargetAsItWas()
{
    QFETCH(bool, oldFile);
    QFETCH(bool, hideProc);
    const QStringList engine = engineCommand(hideProc);
    if (engine.isEmpty())
        QSKIP(qPrintable(procHidingRefusal));
    const QString source = environment->path() + QStringLiteral("/source");
    QByteArray content(4 << 20, '\0');
    for (int i = 0; i < content.size(); ++i)
        content[i] = char(i * 131 + i / 4099);
    QVERIFY(writeTestFile(source + QStringLiteral("/client.bin"), content));
    const QByteArray old(1000, 'o');
    QVERIFY(QDir().mkpath(installPath));
    if (oldFile)
        QVERIFY(writeTestFile(installPath + QStringLiteral("/client.bin"), old));

    // The size limit makes the write fail part-way; the copy sees an error
    // (as on Windows), it does not end the process.
    const HelperRun run = runProgram(QStringLiteral("prlimit"),
                                     QStringList{QStringLiteral("--fsize=1048576"), QStringLiteral("--")} + engine
                                         + QStringList{QStringLiteral("copy"), source, installPath});

    QCOMPARE(run.status, QProcess::NormalExit);
    QCOMPARE(run.output, QByteArray("result false\n"));
    // Neither a half-written file nor a temporary one stays behind.
    QCOMPARE(QDir(installPath).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             oldFile ? QStringList{QStringLiteral("client.bin")} : QStringList());
    if (oldFile)
        QCOMPARE(readTestFile(installPath + QStringLiteral("/client.bin")), old);
    // Without the limit the same copy goes through.
    QCOMPARE(runProgram(engine.first(), engine.mid(1) + QStringList{QStringLiteral("copy"), source, installPath}).output,
             QByteArray("result true\n"));
    QCOMPARE(readTestFile(installPath + QStringLiteral("/client.bin")), content);
}

// Whatever the kernel shows of the copy while it is written, the target's
// own name comes only once it is whole: by a link of the file that had no
// name, or a rename of the temporary one, never by a file made under it
// and then filled.
void Tst_operation::copyTakesItsNameOnlyWhenWhole_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("oldFile");
    QTest::addColumn<bool>("hideProc");
    QTest::addColumn<QString>("named"); // how the name comes
    QTest::newRow("a new file") << 4096 << false << false << "create";
    QTest::newRow("a new file of 8 MiB") << (8 << 20) << false << false << "create";
    QTest::newRow("replacing a file") << 4096 << true << false << "movedto";
    QTest::newRow("a new file, no /proc") << (8 << 20) << false << true << "movedto";
    QTest::newRow("replacing a file, no /proc") << 4096 << true << true << "movedto";
}

void Tst_operation::copyTakesItsNameOnlyWhenWhole()
{
    QFETCH(int, size);
    QFETCH(bool, oldFile);
    QFETCH(bool, hideProc);
    QFETCH(QString, named);
    const QStringList engine = engineCommand(hideProc);
    if (engine.isEmpty())
        QSKIP(qPrintable(procHidingRefusal));
    const QString source = environment->path() + QStringLiteral("/source");
    QByteArray content(size, '\0');
    for (int i = 0; i < content.size(); ++i)
        content[i] = char(i * 131 + i / 4099);
    QVERIFY(writeTestFile(source + QStringLiteral("/client.bin"), content));
    QVERIFY(QDir().mkpath(installPath));
    if (oldFile)
        QVERIFY(writeTestFile(installPath + QStringLiteral("/client.bin"), "old"));
    FolderEvents events(installPath);
    QVERIFY(events.isWatching());

    const HelperRun run =
        runProgram(engine.first(), engine.mid(1) + QStringList{QStringLiteral("copy"), source, installPath});
    QCOMPARE(run.output, QByteArray("result true\n"));

    QStringList ofTheName, ofTemporaryNames;
    for (const QString &event : events.take()) {
        if (event.endsWith(QStringLiteral(" client.bin")))
            ofTheName << event;
        else if (QRegularExpression(QStringLiteral(" \\.client\\.bin\\.lrtmp-[a-z0-9]{6}$")).match(event).hasMatch())
            ofTemporaryNames << event.section(QLatin1Char(' '), 0, 0);
    }
    QCOMPARE(ofTheName, QStringList{named + QStringLiteral(" client.bin")});
    // Without /proc the content went into a file under a temporary name.
    QCOMPARE(ofTemporaryNames.contains(QStringLiteral("modify")), hideProc);
    QCOMPARE(readTestFile(installPath + QStringLiteral("/client.bin")), content);
    QCOMPARE(QDir(installPath).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("client.bin")});
}

// A release that was cut off (the installer killed) may have left the
// temporary file of the copy it was making, under a name of the form
// ".NAME.lrtmp-" and six of [a-z0-9]. The next release of that folder
// removes it, and only what has exactly that form: a user's file that
// merely looks alike stays. In the payload such a file is neither counted
// nor copied.
void Tst_operation::leftoversOfACutOffReleaseAreRemoved_data()
{
    QTest::addColumn<QString>("entry"); // below the folder; a trailing "/" makes a folder
    QTest::addColumn<bool>("link");
    QTest::addColumn<bool>("removed");

    QTest::newRow("a file's") << ".a.txt.lrtmp-q7k2m0" << false << true;
    QTest::newRow("one in a sub-folder") << "big/.b2.bin.lrtmp-ubekdz" << false << true;
    QTest::newRow("a link's") << ".lumenrider.lrtmp-0zz9aa" << true << true;
    QTest::newRow("one of a file not in the payload") << ".gone.dat.lrtmp-abcdef" << false << true;
    QTest::newRow("a name with dots and blanks") << ".数据 (1).tar.gz.lrtmp-000000" << false << true;
    QTest::newRow("three letters") << ".x.lrtmp-abc" << false << false;
    QTest::newRow("seven letters") << ".x.lrtmp-abcdefg" << false << false;
    QTest::newRow("capital letters") << ".x.lrtmp-ABCDEF" << false << false;
    QTest::newRow("a dash among them") << ".x.lrtmp-abc-de" << false << false;
    QTest::newRow("no leading dot") << "x.lrtmp-abcdef" << false << false;
    QTest::newRow("no name before the marker") << "..lrtmp-abcdef" << false << false;
    QTest::newRow("another marker") << ".x.lrtmp_abcdef" << false << false;
    QTest::newRow("the marker only in the middle") << ".x.lrtmp-abcdef.txt" << false << false;
    QTest::newRow("a folder of that form") << ".x.lrtmp-abcdef/" << false << false;
}

void Tst_operation::leftoversOfACutOffReleaseAreRemoved()
{
    QFETCH(QString, entry);
    QFETCH(bool, link);
    QFETCH(bool, removed);
    const QString source = environment->path() + QStringLiteral("/source");
    QVERIFY(writeTestFile(source + QStringLiteral("/a.txt"), "a"));
    QVERIFY(writeTestFile(source + QStringLiteral("/big/b2.bin"), "b2"));
    // The same entry in the install folder and, where it is hidden as our
    // temporary files are, in the payload.
    const bool hidden = QFileInfo(QDir::cleanPath(entry)).fileName().startsWith(QLatin1Char('.'));
    for (const QString &root : hidden ? QStringList{source, installPath} : QStringList{installPath}) {
        const QString path = root + QLatin1Char('/') + entry;
        if (entry.endsWith(QLatin1Char('/')))
            QVERIFY(writeTestFile(path + QStringLiteral("inside.txt"), "user's"));
        else if (link)
            QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()) && QFile::link(QStringLiteral("a.txt"), path));
        else
            QVERIFY(writeTestFile(path, "half of a copy"));
    }
    const QMap<QString, QByteArray> before = treeSnapshot(installPath);
    Operation operation;
    int count = 0;
    QVERIFY(operation.releasefilecount(source, count));
    QCOMPARE(count, 2);
    releaseTotal = count;
    QSignalSpy progress(&operation, &Operation::sign_int_progressvalue);

    QVERIFY(operation.copyfile(source, installPath, true));

    QCOMPARE(progressValues(progress), (QList<int>{32, 65}));
    QMap<QString, QByteArray> expected = before;
    expected.insert(QStringLiteral("a.txt"), "a");
    expected.insert(QStringLiteral("big"), "folder");
    expected.insert(QStringLiteral("big/b2.bin"), "b2");
    if (removed)
        expected.remove(QDir::cleanPath(entry));
    QCOMPARE(treeSnapshot(installPath), expected);
    QCOMPARE(log->contains(QStringLiteral("<释放文件>:清除中断的释放留下的临时文件,个数: 1")), removed);
}

// --- Processes, driver service, logon task ---

void Tst_operation::killProcessEndsRunningClients()
{
    const QString first = uniqueImageName(QStringLiteral("ZURi"));
    const QString absent = uniqueImageName(QStringLiteral("ruzu"));
    const QString third = uniqueImageName(QStringLiteral("lumn"));
    NamedProcess firstA, firstB, thirdA;
    QVERIFY(firstA.start(first) && firstB.start(first) && thirdA.start(third));
    QTRY_VERIFY(firstA.runsAs(first) && firstB.runsAs(first) && thirdA.runsAs(third));
    clientProcessList = QStringList{first, absent, third}.join(QLatin1Char(','));

    QVERIFY(killProcess());

    QTRY_VERIFY(!firstA.running() && !firstB.running() && !thirdA.running());
    QVERIFY(log->contains(QStringLiteral("process: \"%1\"").arg(clientProcessList)));
    QCOMPARE(log->count(QStringLiteral("<进程操作>:关闭进程成功！,进程名称: \"%1\"").arg(first)), 1);
    QCOMPARE(log->count(QStringLiteral("<进程操作>:关闭进程成功！,进程名称: \"%1\"").arg(third)), 1);
    QCOMPARE(log->count(QStringLiteral("<进程操作>:无需关闭进程,进程名称: \"%1\"").arg(absent)), 1);
    QCOMPARE(log->messages(QtWarningMsg), QStringList());
}

void Tst_operation::killProcessTakesOtherLetterCaseAsNotRunning()
{
    const QString name = uniqueImageName(QStringLiteral("ZURi"));
    NamedProcess client;
    QVERIFY(client.start(name.toLower()));
    QTRY_VERIFY(client.runsAs(name.toLower()));
    clientProcessList = name + QStringLiteral(",") + uniqueImageName(QStringLiteral("none"));

    QVERIFY(killProcess());

    QVERIFY(log->contains(QStringLiteral("<进程操作>:无需关闭进程,进程名称: \"%1\"").arg(name)));
    QVERIFY(client.running());
}

void Tst_operation::killProcessGoesOnAfterRefusedKill()
{
    const QString refused = uniqueImageName(QStringLiteral("ruzu"));
    const QString after = uniqueImageName(QStringLiteral("lumn"));
    NamedProcess other;
    QVERIFY(other.start(refused, true));
    QTRY_VERIFY(other.runsAs(refused) || !other.running());
    if (!other.running())
        QSKIP("this test can't start a process as another user (it needs to be root)");
    if (!other.refusesSignals())
        QSKIP("this test may signal processes of other users (CAP_KILL); scripts/test drops it");
    NamedProcess own;
    QVERIFY(own.start(after));
    QTRY_VERIFY(own.runsAs(after));
    clientProcessList = uniqueImageName(QStringLiteral("none")) + QLatin1Char(',') + refused + QLatin1Char(',') + after;

    QVERIFY(!killProcess());

    const QStringList warnings = log->messages(QtWarningMsg);
    QCOMPARE(warnings.size(), 1);
    QVERIFY(warnings.at(0).startsWith(QStringLiteral("<进程操作>:关闭进程失败,进程名称: \"%1\" ,msg:").arg(refused)));
    // The listing output goes with it.
    QVERIFY(warnings.at(0).contains(QString::number(other.pid())));
    QVERIFY(other.running());
    QTRY_VERIFY(!own.running());
    QVERIFY(log->contains(QStringLiteral("<进程操作>:关闭进程成功！,进程名称: \"%1\"").arg(after)));
}

void Tst_operation::killProcessLogsSingleAbsentNameTwice()
{
    clientProcessList = uniqueImageName(QStringLiteral("solo"));
    QVERIFY(killProcess());
    QCOMPARE(log->count(QStringLiteral("<进程操作>:无需关闭进程,进程名称: \"%1\"").arg(clientProcessList)), 2);
}

void Tst_operation::killProcessWithoutToolsFails()
{
    hideTools();
    clientProcessList = uniqueImageName(QStringLiteral("ZURi")) + QLatin1Char(',') + uniqueImageName(QStringLiteral("lumn"));

    QVERIFY(!killProcess());

    const QStringList warnings = log->messages(QtWarningMsg);
    QCOMPARE(warnings.filter(QStringLiteral("<进程操作>:工具无法启动,工具: \"tasklist\"")).size(), 2);
    QCOMPARE(warnings.filter(QStringLiteral("<进程操作>:工具无法启动,工具: \"taskkill\"")).size(), 2);
    QCOMPARE(warnings.filter(QStringLiteral("<进程操作>:关闭进程失败")).size(), 2);
    QCOMPARE(log->count(QStringLiteral("无需关闭进程")), 0);
}

void Tst_operation::uninstalldriveRemovesService_data()
{
    QTest::addColumn<bool>("installed");
    QTest::addColumn<bool>("running");
    QTest::newRow("running") << true << true;
    QTest::newRow("stopped") << true << false;
    QTest::newRow("absent") << false << false;
}

void Tst_operation::uninstalldriveRemovesService()
{
    QFETCH(bool, installed);
    QFETCH(bool, running);
    if (installed)
        QCOMPARE(runStandIn(QStringLiteral("sc"), {QStringLiteral("create"), serviceName, QStringLiteral("binPath="),
                                                   QStringLiteral("/opt/d.sys"), QStringLiteral("type="), QStringLiteral("kernel")})
                     .exitCode,
                 0);
    if (running)
        QCOMPARE(sc(QStringLiteral("start")).exitCode, 0);
    const int stopReports = server.errorReports(QStringLiteral("3011")).size();

    QVERIFY(uninstalldrive());

    QCOMPARE(sc(QStringLiteral("qc")).output, QStringLiteral("[SC] OpenService 失败 1060:\r\n\r\n指定的服务未安装。\r\n"));
    QCOMPARE(log->count(QStringLiteral("<驱动卸载>:停止新驱动成功！")), running ? 1 : 0);
    QCOMPARE(log->count(QStringLiteral("<驱动卸载>:卸载新驱动成功！msg: \"[SC] DeleteService 成功\\r\\n\"")),
             installed ? 1 : 0);
    QCOMPARE(log->count(QStringLiteral("<驱动卸载>:卸载新驱动失败")), 0);
    const QStringList warnings = log->messages(QtWarningMsg);
    if (installed && !running) {
        QCOMPARE(warnings.size(), 1);
        QVERIFY(warnings.at(0).startsWith(QStringLiteral("<驱动卸载>:停止新驱动失败！msg: \"[SC] ControlService 失败 1062:")));
        QCOMPARE(awaitReport(QStringLiteral("3011"), stopReports),
                 QStringLiteral("<服务操作>:状态:停止服务失败,消息:[SC] ControlService 失败 1062:\r\n服务尚未启动。\r\n"));
    } else {
        QCOMPARE(warnings, QStringList());
    }
    if (!installed)
        QCOMPARE(log->count(QStringLiteral("<驱动卸载>")), 0);
}

void Tst_operation::uninstalldriveRefusedByRegistry()
{
    if (!permissionsAreEnforced())
        QSKIP("this process may write read-only folders; scripts/test drops that capability");
    QCOMPARE(runStandIn(QStringLiteral("sc"), {QStringLiteral("create"), serviceName, QStringLiteral("binPath="),
                                               QStringLiteral("/opt/d.sys")})
                 .exitCode,
             0);
    QCOMPARE(sc(QStringLiteral("start")).exitCode, 0);
    setReadOnly(environment->configHome() + QStringLiteral("/lumenrider"), true);
    const int stopReports = server.errorReports(QStringLiteral("3011")).size();
    const int deleteReports = server.errorReports(QStringLiteral("3012")).size();

    QVERIFY(uninstalldrive());

    const QString refusal = QStringLiteral("[SC] OpenService 失败 5:\r\n拒绝访问。\r\n");
    QCOMPARE(awaitReport(QStringLiteral("3011"), stopReports), QStringLiteral("<服务操作>:状态:停止服务失败,消息:") + refusal);
    QCOMPARE(awaitReport(QStringLiteral("3012"), deleteReports), QStringLiteral("<服务操作>:状态:删除服务失败,消息:") + refusal);
    QCOMPARE(log->messages(QtWarningMsg).filter(QStringLiteral("拒绝访问")).size(), 2);
    QCOMPARE(sc(QStringLiteral("qc")).exitCode, 0);
}

void Tst_operation::uninstalldriveWithoutToolsReportsBoth()
{
    hideTools();
    const int stopReports = server.errorReports(QStringLiteral("3011")).size();
    const int deleteReports = server.errorReports(QStringLiteral("3012")).size();

    QVERIFY(uninstalldrive());

    const QStringList warnings = log->messages(QtWarningMsg);
    QCOMPARE(warnings.filter(QStringLiteral("<服务操作>:工具无法启动,工具: \"sc\"")).size(), 4);
    QCOMPARE(warnings.filter(QStringLiteral("<驱动卸载>:停止新驱动失败！msg: \"\"")).size(), 1);
    QCOMPARE(warnings.filter(QStringLiteral("<驱动卸载>:卸载新驱动失败！msg: \"\"")).size(), 1);
    QCOMPARE(awaitReport(QStringLiteral("3011"), stopReports), QStringLiteral("<服务操作>:状态:停止服务失败,消息:"));
    QCOMPARE(awaitReport(QStringLiteral("3012"), deleteReports), QStringLiteral("<服务操作>:状态:删除服务失败,消息:"));
}

void Tst_operation::addStartProjectKeepsExistingTask()
{
    QCOMPARE(runStandIn(QStringLiteral("schtasks"),
                        {QStringLiteral("/create"), QStringLiteral("/tn"), QStringLiteral("LumenRiderSpeed"),
                         QStringLiteral("/tr"), QStringLiteral("/opt/old/lumenrider.exe"), QStringLiteral("/sc"),
                         QStringLiteral("onlogon")})
                 .exitCode,
             0);
    const QString entry = environment->configHome() + QStringLiteral("/autostart/LumenRiderSpeed.desktop");
    const QByteArray before = readTestFile(entry);

    QVERIFY(addStartProject());

    QVERIFY(log->contains(QStringLiteral("已有任务计划")));
    QVERIFY(!log->contains(QStringLiteral("添加任务计划")));
    QVERIFY(!QFileInfo::exists(QCoreApplication::applicationDirPath() + QStringLiteral("/autostart.bat")));
    QCOMPARE(readTestFile(entry), before);
}

void Tst_operation::addStartProjectFromFolderWithSpaceStartsClient()
{
    const QString installer = environment->path() + QStringLiteral("/my installer");
    const QString install = environment->path() + QStringLiteral("/游戏 $HOME `x`/lumenrider");
    QVERIFY(QDir().mkpath(installer));
    QVERIFY(QFile::copy(helperProgram(), installer + QStringLiteral("/engine_helper")));
    const QString client = install + QStringLiteral("/lumenrider.exe");
    QVERIFY(writeRecordingClient(client));

    const HelperRun run = runProgram(installer + QStringLiteral("/engine_helper"), {QStringLiteral("addstartproject"), install});

    QCOMPARE(run.exitCode, 0);
    QVERIFY(!QFileInfo::exists(installer + QStringLiteral("/autostart.bat")));
    const QByteArray entry = readTestFile(environment->configHome() + QStringLiteral("/autostart/LumenRiderSpeed.desktop"));
    QVERIFY(entry.contains("\nType=Application\n"));
    // What the desktop runs at logon starts the installed client.
    const QString command = execCommand(entry);
    QVERIFY2(!command.isEmpty(), entry.constData());
    QVERIFY(QProcess::startDetached(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command}));
    QTRY_COMPARE(readTestFile(client + QStringLiteral(".args")), QByteArray("started\n"));
}

void Tst_operation::addStartProjectRefusedReports4000()
{
    if (!permissionsAreEnforced())
        QSKIP("this process may write read-only folders; scripts/test drops that capability");
    const QString autostart = environment->configHome() + QStringLiteral("/autostart");
    QVERIFY(QDir().mkpath(autostart));
    setReadOnly(autostart, true);
    const QString batch = QCoreApplication::applicationDirPath() + QStringLiteral("/autostart.bat");
    const int before = server.errorReports(QStringLiteral("4000")).size();

    QVERIFY(!addStartProject());

    QCOMPARE(awaitReport(QStringLiteral("4000"), before), QStringLiteral("添加开机启动任务计划，Runpath路径:") + batch);
    QVERIFY(log->contains(QStringLiteral("msg \"错误: 拒绝访问。\\r\\n\"")));
    QVERIFY(log->contains(QStringLiteral("创建失败！")));
    QVERIFY(!QFileInfo::exists(batch));
    QVERIFY(QDir(autostart).isEmpty());
}

// --- Registry and shortcuts ---

void Tst_operation::writeregeditRecordsInstallForNextRun()
{
    installPath = QStringLiteral("D:/Games/lumenrider");
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    QVERIFY(Operation().writeregedit());
    const qint64 after = QDateTime::currentSecsSinceEpoch();

    const auto entry = Platform::openRegistryKey(uninstallRoot + QStringLiteral("流光骑士"));
    QCOMPARE(entry->value(QStringLiteral("DisplayName")).toString(), QStringLiteral("流光骑士"));
    QCOMPARE(entry->value(QStringLiteral("DisplayVersion")).toString(), QStringLiteral("1.6.9"));
    QCOMPARE(entry->value(QStringLiteral("Publisher")).toString(), QStringLiteral("远帆信息科技有限公司"));
    QCOMPARE(entry->value(QStringLiteral("InstallPath")).toString(), QStringLiteral("D:/Games/lumenrider"));
    QCOMPARE(entry->value(QStringLiteral("UninstallString")).toString(), QStringLiteral("D:\\Games\\lumenrider\\unInstall.exe"));
    QCOMPARE(entry->value(QStringLiteral("DisplayIcon")).toString(), QStringLiteral("D:\\Games\\lumenrider\\lumenrider.exe"));
    const QVariant time = entry->value(QStringLiteral("InstallTime"));
    QCOMPARE(time.userType(), int(QMetaType::Int));
    QVERIFY(time.toLongLong() >= before && time.toLongLong() <= after);
    // On disk as a number, as the registry keeps a DWORD.
    QVERIFY(readTestFile(environment->registryFile()).contains("\"InstallTime\"=dword:"));

    installPath.clear();
    initInstallInfo();
    checkSecondInstall();
    QCOMPARE(installPath, QStringLiteral("D:/Games/lumenrider"));
    QCOMPARE(secondInstall, QStringLiteral("是"));
}

void Tst_operation::writeregeditConvertsMixedSeparators()
{
    installPath = QStringLiteral("E:\\Spiele/lumenrider");
    QVERIFY(Operation().writeregedit());
    const auto entry = Platform::openRegistryKey(uninstallRoot + QStringLiteral("流光骑士"));
    QCOMPARE(entry->value(QStringLiteral("InstallPath")).toString(), QStringLiteral("E:\\Spiele/lumenrider"));
    QCOMPARE(entry->value(QStringLiteral("UninstallString")).toString(), QStringLiteral("E:\\Spiele\\lumenrider\\unInstall.exe"));
}

void Tst_operation::shortcutsPointAtInstalledClient()
{
    installPath = environment->path() + QStringLiteral("/my games/lumenrider");
    const QString exec = QStringLiteral("Exec=\"%1/lumenrider.exe\"\n").arg(installPath);
    Operation operation;

    QVERIFY(operation.createLink());
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    QVERIFY(QString::fromUtf8(readTestFile(desktop + QStringLiteral("/流光骑士.desktop"))).contains(exec));
    QVERIFY(log->contains(QStringLiteral("<快捷方式>创建快捷方式,路径: \"%1/lumenrider.exe\"").arg(installPath)));

    const QString menu = QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation) + QStringLiteral("/流光骑士");
    operation.createMenuPath();
    QVERIFY(QString::fromUtf8(readTestFile(menu + QStringLiteral("/流光骑士.desktop"))).contains(exec));
    // An existing menu folder is used again.
    QVERIFY(QFile::remove(menu + QStringLiteral("/流光骑士.desktop")));
    operation.createMenuPath();
    QVERIFY(QFileInfo::exists(menu + QStringLiteral("/流光骑士.desktop")));
}

// --- Launch, version, second install, web pages ---

void Tst_operation::startexePassesFlags_data()
{
    QTest::addColumn<bool>("console");
    QTest::addColumn<bool>("debug");
    QTest::addColumn<QByteArray>("recorded");
    QTest::newRow("no flags") << false << false << QByteArray("started\n");
    QTest::newRow("debug only") << false << true << QByteArray("started\n");
    QTest::newRow("console") << true << false << QByteArray("started\n--t\n");
    QTest::newRow("console and debug") << true << true << QByteArray("started\n--t\n--d\n");
}

void Tst_operation::startexePassesFlags()
{
    QFETCH(bool, console);
    QFETCH(bool, debug);
    QFETCH(QByteArray, recorded);
    installPath = environment->path() + QStringLiteral("/Program Files/lumenrider");
    QVERIFY(writeRecordingClient(installPath + QStringLiteral("/lumenrider.exe")));
    consoleMode = console;
    debugMode = debug;

    QVERIFY(Operation().startexe());

    QVERIFY(log->contains(QStringLiteral("<程序启动>：启动程序成功")));
    QTRY_COMPARE(readTestFile(installPath + QStringLiteral("/lumenrider.exe.args")), recorded);
}

void Tst_operation::startexeWithoutClientReports4002()
{
    installPath = environment->path() + QStringLiteral("/empty install");
    const int before = server.errorReports(QStringLiteral("4002")).size();

    QVERIFY(!Operation().startexe());

    QCOMPARE(log->messages(QtWarningMsg), QStringList{QStringLiteral("<程序启动>：启动程序失败,错误代码: 2")});
    QCOMPARE(awaitReport(QStringLiteral("4002"), before),
             QStringLiteral("<程序启动>：启动程序失败,程序安装路径:") + installPath);
}

void Tst_operation::setversionWritesVersionSection()
{
    oemId = QStringLiteral("10013");
    inviteCdk = QStringLiteral("AB12");
    projectName = QStringLiteral("lrider");

    QVERIFY(Operation().setversion());

    const QString file = installPath + QStringLiteral("/temp/config/config.ini");
    QCOMPARE(configPath, file);
    QTRY_VERIFY(readTestFile(file).startsWith("[version]\n"));
    QStringList lines = QString::fromUtf8(readTestFile(file)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    lines.sort();
    QCOMPARE(lines, (QStringList{"[version]", "cdk=AB12", "oem=10013", "project=lrider", "show=1.6.9", "update=169"}));
}

void Tst_operation::iftwiceinstallReportsOnlySecondInstall_data()
{
    QTest::addColumn<QString>("second");
    QTest::newRow("second install") << "是";
    QTest::newRow("first install") << "否";
}

void Tst_operation::iftwiceinstallReportsOnlySecondInstall()
{
    QFETCH(QString, second);
    secondInstall = second;
    const int before = server.errorReports(QStringLiteral("4003")).size();
    const bool expected = second == QLatin1String("是");

    Operation().iftwiceinstall();

    flushReports();
    if (expected)
        QCOMPARE(awaitReport(QStringLiteral("4003"), before), QStringLiteral("二次安装"));
    QCOMPARE(server.errorReports(QStringLiteral("4003")).size(), before + (expected ? 1 : 0));
    QCOMPARE(log->contains(QStringLiteral("二次安装")), expected);
}

void Tst_operation::openurlOpensOnlyWebPages_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("opened");
    QTest::newRow("https") << "https://www.lumenrider.com/agreement.html" << true;
    QTest::newRow("http with query") << "http://127.0.0.1:8080/agreement?lang=zh&x=\"1\"" << true;
    QTest::newRow("local file") << "file:///etc/passwd" << false;
    QTest::newRow("script") << "javascript:alert(1)" << false;
    QTest::newRow("ftp") << "ftp://example.com/a" << false;
    QTest::newRow("mail") << "mailto:a@example.com" << false;
    QTest::newRow("no host") << "https://" << false;
    QTest::newRow("not an address") << "calc.exe" << false;
    QTest::newRow("empty") << "" << false;
}

void Tst_operation::openurlOpensOnlyWebPages()
{
    QFETCH(QString, address);
    QFETCH(bool, opened);

    Operation().openurl(address);

    QVERIFY(log->contains(QStringLiteral("url: \"%1\"").arg(QString(address).replace(QLatin1Char('"'), QLatin1String("\\\"")))));
    QCOMPARE(openedAddresses.size(), opened ? 1 : 0);
    if (opened)
        QCOMPARE(openedAddresses.at(0), QUrl(address));
    QCOMPARE(log->messages(QtWarningMsg).size(), opened ? 0 : 1);
}

QTEST_GUILESS_MAIN(Tst_operation)
#include "tst_operation.moc"
