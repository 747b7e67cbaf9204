// The crash filter of the Windows build, run under Wine: a test build of
// the installer faults for real on its main thread, on a thread of its own
// and by running out of stack; each time "crash.dmp" is a minidump, report
// "1001" reaches the vendor-API stand-in while the message is shown, and
// the process ends once it is closed.

#include "WindowsTestSupport.h"

#include <QCoreApplication>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <windows.h>

namespace {

QString faultyInstaller()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/lumenrider_1.6.9.exe");
}

} // namespace

class TestCrashWin : public QObject
{
    Q_OBJECT
private slots:
    void crashLeavesMinidumpAndReport_data();
    void crashLeavesMinidumpAndReport();
};

void TestCrashWin::crashLeavesMinidumpAndReport_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<QString>("code");
    // Under qemu, Wine takes every fault for an illegal instruction.
    const bool emulated = qEnvironmentVariableIsSet("LUMENRIDER_WINE_EMULATED");
    const QString illegal = QStringLiteral("c000001d");
    QTest::newRow("main thread") << QStringLiteral("main") << (emulated ? illegal : QStringLiteral("c0000005"));
    QTest::newRow("job thread") << QStringLiteral("job") << (emulated ? illegal : QStringLiteral("c0000005"));
    QTest::newRow("stack overflow") << QStringLiteral("stack") << (emulated ? illegal : QStringLiteral("c00000fd"));
}

void TestCrashWin::crashLeavesMinidumpAndReport()
{
    QFETCH(QString, where);
    QFETCH(QString, code);
    const TestApi api;
    QVERIFY(api.isValid());
    QVERIFY2(QFileInfo::exists(faultyInstaller()), qPrintable(faultyInstaller()));
    const int seen = api.lastSeq();

    QTemporaryDir current;
    QProcess installer;
    // Whatever fails, the installer is gone before the next row starts it.
    const auto stop = qScopeGuard([&installer] {
        installer.kill();
        installer.waitForFinished(30000);
    });
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LUMENRIDER_TEST_FAULT"), where);
    environment.insert(QStringLiteral("LUMENRIDER_DOMAIN_LIST_URL"), api.domainListUrl());
    installer.setProcessEnvironment(environment);
    installer.setWorkingDirectory(current.path());
    installer.start(faultyInstaller(), QStringList());
    QVERIFY(installer.waitForStarted(30000));

    const HWND box = waitForWindowTitled(QStringLiteral("程式崩溃"), 180000);
    QVERIFY2(box, "the crash message never showed");
    // The report went out before the box; the dump was written before both.
    QVERIFY(readWholeFile(current.filePath(QStringLiteral("crash.dmp"))).startsWith("MDMP"));
    QJsonArray reports;
    QTRY_VERIFY_WITH_TIMEOUT(!(reports = api.records(QStringLiteral("/log/api/client/up_log"), seen)).isEmpty(),
                             30000);
    QCOMPARE(reports.size(), 1);
    QCOMPARE(TestApi::field(reports.first(), QStringLiteral("code")), QStringLiteral("1001"));
    const QString message = TestApi::field(reports.first(), QStringLiteral("msg"));
    QVERIFY2(message.startsWith(QStringLiteral("<程序崩溃>:崩溃程序:安装,状态码：") + code + QStringLiteral(",错误内存：")),
             qPrintable(message));
    QCOMPARE(reports.first().toObject().value(QStringLiteral("sign_valid")).toBool(), true);

    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    QTRY_COMPARE_WITH_TIMEOUT(installer.state(), QProcess::NotRunning, 60000);
    QVERIFY(installer.exitCode() != 0);
}

QTEST_GUILESS_MAIN(TestCrashWin)

#include "tst_crash_win.moc"
