// The crash handler: a test build of the installer faults for real, on the
// main thread or on a thread of its own, with its main page up. What the user
// and the vendor get is checked: the crash record, report "1001" at the
// vendor-API stand-in, the box on the X server closed with a real click, and
// the end of the process.

#include "Platform.h"
#include "TestSupport.h"
#include "VendorApiServer.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <memory>

#include <unistd.h>

namespace {

const QString boxTitle = QStringLiteral("程式崩溃");

// The faulty installer in a folder of its own, which is also the folder it
// runs in, so "crash.dmp" lands there.
struct CrashingInstaller
{
    QTemporaryDir dir;
    QProcess process;

    CrashingInstaller() { QFile::copy(QStringLiteral(FAULTY_INSTALLER), program()); }
    QString program() const { return dir.path() + QStringLiteral("/lumenrider_1.6.9.exe"); }
    QString dump() const { return dir.path() + QStringLiteral("/crash.dmp"); }

    void start(const QString &where, const QStringList &arguments = QStringList(),
               const QString &chosenFolder = QString())
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LUMENRIDER_TEST_FAULT"), where);
        if (!chosenFolder.isEmpty())
            env.insert(QStringLiteral("LUMENRIDER_TEST_INSTALL_PATH"), chosenFolder);
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(dir.path());
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(program(), arguments);
        process.waitForStarted(10000);
    }
};

// The user closes the box with OK, the one button at its lower right.
bool closeBox(const QRect &box)
{
    return clickAt(box.bottomRight() - QPoint(50, 24));
}

QString recordValue(const QByteArray &record, const QString &name)
{
    return QRegularExpression(QStringLiteral("^%1: (.*)$").arg(name), QRegularExpression::MultilineOption)
        .match(QString::fromUtf8(record))
        .captured(1);
}

} // namespace

class TestCrash : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void reporterRequest_data();
    void reporterRequest();

    void faultIsRecordedReportedAndShown_data();
    void faultIsRecordedReportedAndShown();
    void reporterGoesByTheRun();
    void boxStillShowsWithTheApiDown();
    void readOnlyFolderStillReportsWithoutDump();

private:
    void writeUserName(const QString &name);

    std::unique_ptr<ScopedTestEnvironment> environment;
};

void TestCrash::init()
{
    QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "the crash box needs an X server");
    environment = std::make_unique<ScopedTestEnvironment>();
}

void TestCrash::cleanup()
{
    environment.reset();
}

void TestCrash::writeUserName(const QString &name)
{
    QVERIFY(writeTestFile(environment->dataHome() + QStringLiteral("/lumenrider/temp/config/config.ini"),
                          QStringLiteral("[user]\nusername=%1\n").arg(name).toUtf8()));
}

void TestCrash::reporterRequest_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<bool>("valid");
    const QByteArray parent = QByteArray::number(qint64(::getppid()));
    QTest::newRow("from the parent") << parent + ":c0000005:55d0c1a2" << true;
    QTest::newRow("from another process") << QByteArray::number(qint64(::getppid()) + 1) + ":c0000005:1" << false;
    QTest::newRow("missing address") << parent + ":c0000005" << false;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("garbage") << QByteArray("::::") << false;
}

void TestCrash::reporterRequest()
{
    QFETCH(QByteArray, request);
    environment->set("LUMENRIDER_CRASH_REPORT", QString::fromLatin1(request));
    const Platform::CrashReport report = Platform::pendingCrashReport();
    QTEST(report.valid, "valid");
    if (report.valid) {
        QCOMPARE(report.code, QStringLiteral("c0000005"));
        QCOMPARE(report.address, QStringLiteral("55d0c1a2"));
    }
}

void TestCrash::faultIsRecordedReportedAndShown_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<QString>("user");
    QTest::newRow("main thread") << "main" << "小明";
    QTest::newRow("job thread") << "job" << "player_01";
    QTest::newRow("stack overflow on a job thread") << "jobstack" << "player_02";
    QTest::newRow("no user name stored") << "main" << QString();
}

void TestCrash::faultIsRecordedReportedAndShown()
{
    QFETCH(QString, where);
    QFETCH(QString, user);
    if (!user.isEmpty())
        writeUserName(user);
    VendorApiServer server;
    QVERIFY(server.start());
    environment->set("LUMENRIDER_DOMAIN_LIST_URL", server.domainListUrl());

    CrashingInstaller installer;
    // A crash in an earlier run leaves a record this one replaces.
    QVERIFY(writeTestFile(installer.dump(), "an earlier crash\n"));
    installer.start(where);
    const QRect box = waitForWindow(boxTitle);
    QVERIFY2(!box.isEmpty(), "the crash box is on screen");

    const QByteArray record = readTestFile(installer.dump());
    QCOMPARE(recordValue(record, QStringLiteral("signal")), QStringLiteral("11 SIGSEGV"));
    QCOMPARE(recordValue(record, QStringLiteral("exception code")), QStringLiteral("c0000005"));
    QCOMPARE(recordValue(record, QStringLiteral("process id")), QString::number(installer.process.processId()));
    const QString address = recordValue(record, QStringLiteral("exception address"));
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]+$")).match(address).hasMatch());
    QVERIFY(record.contains("backtrace:\n"));
    const bool onMainThread = recordValue(record, QStringLiteral("thread id")) == recordValue(record, QStringLiteral("process id"));
    QCOMPARE(onMainThread, !where.startsWith(QLatin1String("job")));

    QTRY_COMPARE_WITH_TIMEOUT(server.errorReports(QStringLiteral("1001")).size(), 1, 20000);
    const QJsonObject report = server.errorReports(QStringLiteral("1001")).first().toObject();
    QVERIFY(report.value(QStringLiteral("sign_valid")).toBool());
    QCOMPARE(VendorApiServer::field(report, QStringLiteral("msg")),
             QStringLiteral("<程序崩溃>:崩溃程序:安装,状态码：c0000005,错误内存：%1,用户名：%2").arg(address, user));

    QCOMPARE(installer.process.state(), QProcess::Running); // until the user has read the box
    QVERIFY(closeBox(box));
    QVERIFY(installer.process.waitForFinished(20000));
    QCOMPARE(installer.process.exitStatus(), QProcess::CrashExit);
}

// The reporter logs as the crashed run did ("--alog": everything to
// log.txt) and reads the user name from the install folder chosen by then,
// not from the default one.
void TestCrash::reporterGoesByTheRun()
{
    writeUserName(QStringLiteral("默认的人"));
    QTemporaryDir chosen;
    QVERIFY(writeTestFile(chosen.filePath(QStringLiteral("temp/config/config.ini")),
                          QStringLiteral("[user]\nusername=选中的人\n").toUtf8()));
    VendorApiServer server;
    QVERIFY(server.start());
    environment->set("LUMENRIDER_DOMAIN_LIST_URL", server.domainListUrl());

    CrashingInstaller installer;
    installer.start(QStringLiteral("job"), {QStringLiteral("--alog")}, chosen.path());
    const QRect box = waitForWindow(boxTitle);
    QVERIFY2(!box.isEmpty(), "the crash box is on screen");
    QTRY_COMPARE_WITH_TIMEOUT(server.errorReports(QStringLiteral("1001")).size(), 1, 20000);
    const QString message =
        VendorApiServer::field(server.errorReports(QStringLiteral("1001")).first().toObject(), QStringLiteral("msg"));
    QVERIFY2(message.endsWith(QStringLiteral(",用户名：选中的人")), qPrintable(message));
    QVERIFY(closeBox(box));
    QVERIFY(installer.process.waitForFinished(20000));

    const QString folder = installer.dir.path();
    QVERIFY(QString::fromLocal8Bit(readTestFile(folder + QStringLiteral("/log.txt"))).contains(message));
    QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/Errorlog.txt")));
}

void TestCrash::boxStillShowsWithTheApiDown()
{
    CrashingInstaller installer;
    installer.start(QStringLiteral("main"));
    const QRect box = waitForWindow(boxTitle);
    QVERIFY(!box.isEmpty());
    QVERIFY(QFile::exists(installer.dump()));
    QVERIFY(closeBox(box));
    QVERIFY(installer.process.waitForFinished(20000));
    QCOMPARE(installer.process.exitStatus(), QProcess::CrashExit);
}

void TestCrash::readOnlyFolderStillReportsWithoutDump()
{
    if (!permissionsAreEnforced())
        QSKIP("this process may write into read-only folders");
    VendorApiServer server;
    QVERIFY(server.start());
    environment->set("LUMENRIDER_DOMAIN_LIST_URL", server.domainListUrl());
    CrashingInstaller installer;
    QFile::setPermissions(installer.dir.path(), QFile::ReadOwner | QFile::ExeOwner);
    installer.start(QStringLiteral("main"));
    const QRect box = waitForWindow(boxTitle);
    QFile::setPermissions(installer.dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(!box.isEmpty());
    QVERIFY(!QFile::exists(installer.dump()));
    QTRY_COMPARE_WITH_TIMEOUT(server.errorReports(QStringLiteral("1001")).size(), 1, 20000);
    QVERIFY(closeBox(box));
    QVERIFY(installer.process.waitForFinished(20000));
}

QTEST_GUILESS_MAIN(TestCrash)
#include "tst_crash.moc"
