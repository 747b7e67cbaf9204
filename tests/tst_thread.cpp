// The install jobs on their threads, started as the pages start them: each
// runs its own job, and its result or progress reaches the install object
// in the main thread.

#include "EngineTestSupport.h"
#include "Info.h"
#include "Operation.h"
#include "TestSupport.h"
#include "Thread.h"
#include "VendorApiServer.h"

#include <QtTest>

#include <memory>

namespace {

QString helperProgram()
{
    return QStringLiteral(ENGINE_HELPER_EXE);
}

} // namespace

class Tst_thread : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void jobsStartedBackToBackRunTheirOwn();
    void unknownJobOnlyLogsItsStart();
    void startthreadOfUnknownJobReachesNoPage();
    void driverJobReportsTrueWhenRemovalFails();
    void driverJobReportsTrueWhenRegistryRefuses();
    void logonJobRecordsChoiceAndReports();
    void processJobEndsRunningClient();
    void releaseJobRelaysProgressAndResult_data();
    void releaseJobRelaysProgressAndResult();
    void refusedReleaseJobReportsFalseWithoutProgress();
    void releaseJobRelaysEveryReportOfManyFilesInOrder_data();
    void releaseJobRelaysEveryReportOfManyFilesInOrder();

private:
    void hideTools();

    VendorApiServer server;
    std::unique_ptr<ScopedTestEnvironment> environment;
    std::unique_ptr<LogCapture> log;
};

void Tst_thread::initTestCase()
{
    QVERIFY2(server.start(), "the vendor-API stand-in did not start");
}

void Tst_thread::init()
{
    environment = std::make_unique<ScopedTestEnvironment>();
    log = std::make_unique<LogCapture>();
    logApiBase = server.baseUrl() + QStringLiteral("/log/");
    retargetInstallPath(environment->path() + QStringLiteral("/install"));
    clientProcessList = uniqueImageName(QStringLiteral("none"));
    releaseTotal = 0;
    releaseDone = 0;
}

void Tst_thread::cleanup()
{
    QFile::setPermissions(environment->configHome() + QStringLiteral("/lumenrider"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    log.reset();
    environment.reset();
}

void Tst_thread::hideTools()
{
    const QString empty = environment->path() + QStringLiteral("/no-tools");
    QDir().mkpath(empty);
    environment->set("LUMENRIDER_TOOLS_DIR", empty);
    environment->set("PATH", empty);
}

void Tst_thread::jobsStartedBackToBackRunTheirOwn()
{
    Operation operation;
    QSignalSpy processes(&operation, &Operation::qmlSign_bool_killprogress);
    QSignalSpy driver(&operation, &Operation::qmlSign_bool_uninstalldrive);

    operation.startthread(3);
    operation.startthread(4);

    QTRY_COMPARE_WITH_TIMEOUT(processes.count() + driver.count(), 2, 30000);
    QCOMPARE(processes.count(), 1);
    QCOMPARE(driver.count(), 1);
    QCOMPARE(processes.at(0).at(0).toBool(), true);
    QCOMPARE(driver.at(0).at(0).toBool(), true);
    QCOMPARE(log->count(QStringLiteral("<线程操作>:启动,线程ID: 3")), 1);
    QCOMPARE(log->count(QStringLiteral("<线程操作>:启动,线程ID: 4")), 1);
    QCOMPARE(log->count(QStringLiteral("<线程操作>:接收信号 true id: 3")), 1);
    QCOMPARE(log->count(QStringLiteral("<线程操作>:接收信号 true id: 4")), 1);
    QCOMPARE(threadJob, 4);
}

void Tst_thread::unknownJobOnlyLogsItsStart()
{
    Thread thread(7);
    QSignalSpy logonTask(&thread, &Thread::sign_bool_addStartProject);
    QSignalSpy processes(&thread, &Thread::sign_bool_killProcess);
    QSignalSpy driver(&thread, &Thread::sign_bool_replydrivesysinstall);
    QSignalSpy progress(&thread, &Thread::sign_int_procesvalue);
    QSignalSpy release(&thread, &Thread::sign_bool_releasefile);

    thread.startJob();
    QVERIFY(thread.wait(30000));

    QVERIFY(log->contains(QStringLiteral("<线程操作>:启动,线程ID: 7")));
    QCOMPARE(logonTask.count() + processes.count() + driver.count() + progress.count() + release.count(), 0);
    // Counted from its start to the end of its run, and no longer.
    QCOMPARE(Thread::running(), 0);
}

void Tst_thread::startthreadOfUnknownJobReachesNoPage()
{
    Operation operation;
    QSignalSpy progress(&operation, &Operation::qml_sign_int_progressvalue);
    QSignalSpy logonTask(&operation, &Operation::qmlSign_bool_setaddstartproject);
    QSignalSpy driver(&operation, &Operation::qmlSign_bool_uninstalldrive);
    QSignalSpy release(&operation, &Operation::qmlSign_bool_releasefile);
    QSignalSpy processes(&operation, &Operation::qmlSign_bool_killprogress);

    operation.startthread(7);
    QTRY_VERIFY(log->contains(QStringLiteral("<线程操作>:启动,线程ID: 7")));
    // A job that does report, started after it, shows the queue has been through.
    operation.startthread(3);
    QTRY_COMPARE_WITH_TIMEOUT(processes.count(), 1, 30000);

    QCOMPARE(progress.count() + logonTask.count() + driver.count() + release.count(), 0);
    QCOMPARE(log->count(QStringLiteral("<线程操作>:接收信号")), 1);
}

void Tst_thread::driverJobReportsTrueWhenRemovalFails()
{
    hideTools();
    const int stopReports = server.errorReports(QStringLiteral("3011")).size();
    const int deleteReports = server.errorReports(QStringLiteral("3012")).size();
    Operation operation;
    QSignalSpy driver(&operation, &Operation::qmlSign_bool_uninstalldrive);

    operation.startthread(4);

    QTRY_COMPARE_WITH_TIMEOUT(driver.count(), 1, 30000);
    QCOMPARE(driver.at(0).at(0).toBool(), true);
    QVERIFY(log->contains(QStringLiteral("<驱动卸载>:停止新驱动失败！")));
    QVERIFY(log->contains(QStringLiteral("<驱动卸载>:卸载新驱动失败！")));
    // The reports made on the job thread reach the vendor.
    QTRY_COMPARE_WITH_TIMEOUT(server.errorReports(QStringLiteral("3011")).size(), stopReports + 1, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(server.errorReports(QStringLiteral("3012")).size(), deleteReports + 1, 10000);
}

void Tst_thread::driverJobReportsTrueWhenRegistryRefuses()
{
    if (!permissionsAreEnforced())
        QSKIP("this process may write read-only folders; scripts/test drops that capability");
    QCOMPARE(runStandIn(QStringLiteral("sc"), {QStringLiteral("create"), QStringLiteral("DOVivived"),
                                               QStringLiteral("binPath="), QStringLiteral("/opt/d.sys")})
                 .exitCode,
             0);
    QCOMPARE(runStandIn(QStringLiteral("sc"), {QStringLiteral("start"), QStringLiteral("DOVivived")}).exitCode, 0);
    QVERIFY(QFile::setPermissions(environment->configHome() + QStringLiteral("/lumenrider"),
                                  QFile::ReadOwner | QFile::ExeOwner));
    Operation operation;
    QSignalSpy driver(&operation, &Operation::qmlSign_bool_uninstalldrive);

    operation.startthread(4);

    QTRY_COMPARE_WITH_TIMEOUT(driver.count(), 1, 30000);
    QCOMPARE(driver.at(0).at(0).toBool(), true);
    QCOMPARE(log->messages(QtWarningMsg).filter(QStringLiteral("拒绝访问")).size(), 2);
}

void Tst_thread::logonJobRecordsChoiceAndReports()
{
    QCOMPARE(runStandIn(QStringLiteral("schtasks"),
                        {QStringLiteral("/create"), QStringLiteral("/tn"), QStringLiteral("LumenRiderSpeed"),
                         QStringLiteral("/tr"), QStringLiteral("/opt/lumenrider.exe"), QStringLiteral("/sc"),
                         QStringLiteral("onlogon")})
                 .exitCode,
             0);
    Operation operation;
    QSignalSpy logonTask(&operation, &Operation::qmlSign_bool_setaddstartproject);

    operation.startthread(1);

    QTRY_COMPARE_WITH_TIMEOUT(logonTask.count(), 1, 30000);
    QCOMPARE(logonTask.at(0).at(0).toBool(), true);
    QVERIFY(log->contains(QStringLiteral("<线程操作>:接收信号 true id: 1")));
    QCOMPARE(getConfigValue(QStringLiteral("setting"), QStringLiteral("openstart")).toBool(), true);
}

void Tst_thread::processJobEndsRunningClient()
{
    const QString name = uniqueImageName(QStringLiteral("ZURi"));
    NamedProcess client;
    QVERIFY(client.start(name));
    QTRY_VERIFY(client.runsAs(name));
    clientProcessList = name + QStringLiteral(",") + uniqueImageName(QStringLiteral("none"));
    Operation operation;
    QSignalSpy processes(&operation, &Operation::qmlSign_bool_killprogress);

    operation.startthread(3);

    QTRY_COMPARE_WITH_TIMEOUT(processes.count(), 1, 30000);
    QCOMPARE(processes.at(0).at(0).toBool(), true);
    QTRY_VERIFY(!client.running());
}

void Tst_thread::releaseJobRelaysProgressAndResult_data()
{
    QTest::addColumn<bool>("targetParentExists");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("released") << true << QByteArray("progress 21\nprogress 43\nprogress 65\nresult true\n");
    QTest::newRow("target cannot be made") << false << QByteArray("result false\n");
}

void Tst_thread::releaseJobRelaysProgressAndResult()
{
    QFETCH(bool, targetParentExists);
    QFETCH(QByteArray, expected);
    // The release copies the folder of the running program: a copy of the
    // engine in a folder of the test's own.
    const QString installer = environment->path() + QStringLiteral("/installer");
    QVERIFY(writeTestFile(installer + QStringLiteral("/a.txt"), "first"));
    QVERIFY(writeTestFile(installer + QStringLiteral("/sub/b.txt"), "second"));
    QVERIFY(QFile::copy(helperProgram(), installer + QStringLiteral("/engine_helper")));
    const QString target = environment->path() + (targetParentExists ? QStringLiteral("/target") : QStringLiteral("/no/target"));

    QProcess helper;
    helper.start(installer + QStringLiteral("/engine_helper"), {QStringLiteral("job2"), target});
    QVERIFY(helper.waitForFinished(60000));

    QCOMPARE(helper.readAllStandardOutput(), expected);
    QCOMPARE(helper.exitCode(), targetParentExists ? 0 : 1);
    QVERIFY(helper.readAllStandardError().contains("<线程操作>:启动,线程ID: 2"));
    QCOMPARE(readTestFile(target + QStringLiteral("/sub/b.txt")), targetParentExists ? QByteArray("second") : QByteArray());
}

void Tst_thread::refusedReleaseJobReportsFalseWithoutProgress()
{
    installPath.clear();
    const int before = server.errorReports(QStringLiteral("4001")).size();
    Operation operation;
    QSignalSpy progress(&operation, &Operation::qml_sign_int_progressvalue);
    QSignalSpy release(&operation, &Operation::qmlSign_bool_releasefile);

    operation.startthread(2);

    QTRY_COMPARE_WITH_TIMEOUT(release.count(), 1, 30000);
    QCOMPARE(release.at(0).at(0).toBool(), false);
    QCOMPARE(progress.count(), 0);
    QVERIFY(log->contains(QStringLiteral("<线程操作>:接收信号 false id: 2")));
    QTRY_COMPARE_WITH_TIMEOUT(server.errorReports(QStringLiteral("4001")).size(), before + 1, 10000);
}

void Tst_thread::releaseJobRelaysEveryReportOfManyFilesInOrder_data()
{
    QTest::addColumn<bool>("lastUnreadable");
    QTest::newRow("all released") << false;
    QTest::newRow("the last file can't be read") << true;
}

// Many small files repeat each value many times; the reports reach the
// main thread in batches, and still every one of them, in order, also
// those still waiting when a release stops short.
void Tst_thread::releaseJobRelaysEveryReportOfManyFilesInOrder()
{
    QFETCH(bool, lastUnreadable);
    if (lastUnreadable && !permissionsAreEnforced())
        QSKIP("this process reads any file; scripts/test runs it without that power");
    const QString installer = environment->path() + QStringLiteral("/installer");
    const int dataFiles = 600;
    for (int i = 0; i < dataFiles; ++i)
        QVERIFY(writeTestFile(QStringLiteral("%1/d%2/f%3").arg(installer).arg(i % 9).arg(i), QByteArray::number(i)));
    QVERIFY(QFile::copy(helperProgram(), installer + QStringLiteral("/engine_helper")));
    // Last in the listing, after the folders and the program.
    const QString last = installer + QStringLiteral("/zz-last");
    QVERIFY(writeTestFile(last, "last"));
    if (lastUnreadable)
        QVERIFY(QFile::setPermissions(last, QFileDevice::Permissions()));
    const int files = dataFiles + 2;

    QProcess helper;
    helper.start(installer + QStringLiteral("/engine_helper"), {QStringLiteral("job2"), environment->path() + QStringLiteral("/target")});
    QVERIFY(helper.waitForFinished(60000));

    QByteArray expected;
    const int released = lastUnreadable ? files - 1 : files;
    for (int n = 1; n <= released; ++n)
        expected += "progress " + QByteArray::number(n * 65 / files) + '\n';
    expected += lastUnreadable ? "result false\n" : "result true\n";
    QCOMPARE(helper.readAllStandardOutput(), expected);
    QCOMPARE(helper.exitCode(), lastUnreadable ? 1 : 0);
}

QTEST_GUILESS_MAIN(Tst_thread)
#include "tst_thread.moc"
