// Start-up: the flag table, the channel scan, the repeated-install check, the
// log sink, and the real installer refusing to run twice.

#include "Info.h"
#include "Platform.h"
#include "TestSupport.h"
#include "main.h"

#include <QProcess>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QSettings>
#include <QTcpServer>
#include <QThread>
#include <QtTest>

#include <memory>

class TestMain : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void flagTable_data();
    void flagTable();
    void everyArgumentIsLogged();

    void channelScan_data();
    void channelScan();

    void repeatedInstall_data();
    void repeatedInstall();

    void pagesAreDrawnInSoftwareUnlessAskedOtherwise_data();
    void pagesAreDrawnInSoftwareUnlessAskedOtherwise();

    void logEntryFormat();
    void logEntriesTellTheSecondTheyWereMadeIn();
    void logRouting_data();
    void logRouting();
    void logWithoutContext();
    void logKeepsPercentSigns();
    void logEntriesFromThreadsNeverInterleave();

    void secondInstanceExitsWhileFirstIsInStartUp();
    void secondInstanceExitsWhileFirstShowsItsPage();

private:
    QString logFile(const QString &name) const { return installerFolder() + QLatin1Char('/') + name; }
    void removeLogFiles();

    std::unique_ptr<ScopedTestEnvironment> environment;
};

void TestMain::init()
{
    environment = std::make_unique<ScopedTestEnvironment>();
    debugMode = consoleMode = fullLogMode = goInstall = false;
    ::secondInstall = QStringLiteral("否");
    removeLogFiles();
}

void TestMain::cleanup()
{
    fullLogMode = false;
    removeLogFiles();
    environment.reset();
}

void TestMain::removeLogFiles()
{
    QFile::remove(logFile(QStringLiteral("log.txt")));
    QFile::remove(logFile(QStringLiteral("Errorlog.txt")));
}

// ---- command line ------------------------------------------------------------

void TestMain::flagTable_data()
{
    QTest::addColumn<QByteArray>("argument");
    QTest::addColumn<bool>("debug");
    QTest::addColumn<bool>("console");
    QTest::addColumn<bool>("fullLog");
    QTest::addColumn<bool>("install");

    QTest::newRow("--d") << QByteArray("--d") << true << false << false << false;
    QTest::newRow("--td sets both") << QByteArray("--td") << true << true << false << false;
    QTest::newRow("--dt sets both") << QByteArray("--dt") << true << true << false << false;
    QTest::newRow("--t") << QByteArray("--t") << false << true << false << false;
    QTest::newRow("--alog") << QByteArray("--alog") << false << false << true << false;
    QTest::newRow("--goinstall") << QByteArray("--goinstall") << false << false << false << true;
    QTest::newRow("capital letters") << QByteArray("--D") << false << false << false << false;
    QTest::newRow("capital --TD") << QByteArray("--TD") << false << false << false << false;
    QTest::newRow("one dash") << QByteArray("-d") << false << false << false << false;
    QTest::newRow("extra character") << QByteArray("--dd") << false << false << false << false;
    QTest::newRow("trailing blank") << QByteArray("--t ") << false << false << false << false;
    QTest::newRow("missing character") << QByteArray("--goinstal") << false << false << false << false;
    QTest::newRow("one too many") << QByteArray("--goinstalll") << false << false << false << false;
    QTest::newRow("value attached") << QByteArray("--alog=1") << false << false << false << false;
    QTest::newRow("empty") << QByteArray("") << false << false << false << false;
    QTest::newRow("program path") << QByteArray("/opt/lumenrider_1.6.9.exe") << false << false << false << false;
}

void TestMain::flagTable()
{
    QFETCH(QByteArray, argument);
    applyCommandLineFlag(argument.constData());
    QTEST(debugMode, "debug");
    QTEST(consoleMode, "console");
    QTEST(fullLogMode, "fullLog");
    QTEST(goInstall, "install");
}

void TestMain::everyArgumentIsLogged()
{
    QByteArray program("lumenrider_1.6.9.exe"), flag("--alog"), other("--x");
    char *argv[] = {program.data(), flag.data(), other.data()};
    LogCapture log;
    readCommandLine(3, argv);
    const QStringList lines = log.messages(QtDebugMsg);
    QCOMPARE(lines.filter(QStringLiteral("<参数启动>检测启动参数：")).size(), 3);
    QVERIFY(lines.contains(QStringLiteral("<参数启动>检测启动参数： \"--x\"")));
    QVERIFY(lines.contains(QStringLiteral("开启全日志模式")));
    QVERIFY(fullLogMode);
}

// ---- channel scan --------------------------------------------------------------

void TestMain::channelScan_data()
{
    QTest::addColumn<QByteArray>("listing");
    QTest::addColumn<QString>("cdk");
    QTest::addColumn<QString>("oem");
    QTest::addColumn<QString>("project");

    const QString dflOem = QStringLiteral("100"), dflProject = QStringLiteral("lumenrider");
    QTest::newRow("version only") << QByteArray("lumenrider_1.6.9.exe") << QString() << dflOem << dflProject;
    QTest::newRow("version and channel") << QByteArray("lumenrider_1.6.9_35.exe") << QString() << "35" << dflProject;
    QTest::newRow("version and a copy number") << QByteArray("lumenrider_1.6.9(1).exe") << QString() << dflOem << dflProject;
    QTest::newRow("auth and project") << QByteArray("lumenrider_auth_demo.exe") << QString() << dflOem << "demo";
    QTest::newRow("auth with (") << QByteArray("lumenrider_auth(2)_demo.exe") << "auth(2)_demo" << dflOem << dflProject;
    QTest::newRow("plain invite code") << QByteArray("lumenrider_K7XQ2M.exe") << "K7XQ2M" << dflOem << dflProject;
    QTest::newRow("exactly auth keeps the default") << QByteArray("lumenrider_auth.exe") << QString() << dflOem << dflProject;
    QTest::newRow("channel and a copy number") << QByteArray("lumenrider_1.6.9_35(1).exe") << "1.6.9_35(1)" << dflOem << dflProject;
    QTest::newRow("no marker") << QByteArray("setup.exe") << QString() << dflOem << dflProject;
    QTest::newRow("marker in other letter case") << QByteArray("LUMENRIDER_1.6.9_35.exe") << QString() << dflOem << dflProject;
    QTest::newRow("no .e") << QByteArray("lumenrider_1.6.9_35") << QString() << dflOem << dflProject;
    QTest::newRow(".e beyond the 60-byte slice")
        << QByteArray("lumenrider_" + QByteArray(50, 'x') + ".exe") << QString() << dflOem << dflProject;
    QTest::newRow("Windows process table")
        << QByteArray("映像名称                       PID 会话名\r\n"
                      "System Idle Process              0 Services                   0          8 K\r\n"
                      "lumenrider_1.6.9_35.exe       4321 Console                    1     20,000 K\r\n")
        << QString() << "35" << dflProject;
    QTest::newRow("first marked entry counts")
        << QByteArray("lumenrider_1.6.9_7.exe 1 Console\r\nlumenrider_1.6.9_35.exe 2 Console\r\n") << QString() << "7"
        << dflProject;
    QTest::newRow("Chinese tag cut in the middle of a character")
        << QByteArray("lumenrider_") + QString(20, QChar(0x6d41)).toUtf8() + QByteArray(".exe") << QString() << dflOem
        << dflProject;
}

void TestMain::channelScan()
{
    QFETCH(QByteArray, listing);
    const ChannelValues defaults{QString(), QStringLiteral("100"), QStringLiteral("lumenrider")};
    const ChannelValues values = scanInstallerChannel(listing, defaults);
    QTEST(values.inviteCdk, "cdk");
    QTEST(values.oemId, "oem");
    QTEST(values.projectName, "project");
}

// ---- repeated install ------------------------------------------------------------

void TestMain::repeatedInstall_data()
{
    QTest::addColumn<QVariant>("xinstall");
    QTest::addColumn<QString>("expected");
    QTest::newRow("absent") << QVariant() << QStringLiteral("否");
    QTest::newRow("marked") << QVariant(QStringLiteral("1")) << QStringLiteral("是");
    QTest::newRow("zero") << QVariant(QStringLiteral("0")) << QStringLiteral("否");
    QTest::newRow("other text") << QVariant(QStringLiteral("yes")) << QStringLiteral("否");
}

void TestMain::repeatedInstall()
{
    QFETCH(QVariant, xinstall);
    if (xinstall.isValid()) {
        auto key = Platform::openRegistryKey(installerUninstallRoot + QStringLiteral("LRI\\"));
        key->setValue(QStringLiteral("xinstall"), xinstall);
    }
    checkSecondInstall();
    QTEST(::secondInstall, "expected");
}

// ---- log sink ----------------------------------------------------------------------

void TestMain::pagesAreDrawnInSoftwareUnlessAskedOtherwise_data()
{
    QTest::addColumn<QByteArray>("asked");
    QTest::addColumn<QString>("chosen");
    QTest::newRow("nothing asked") << QByteArray() << QStringLiteral("software");
    // Qt reads the variable itself; the installer must not override it.
    QTest::newRow("OpenGL asked") << QByteArray("opengl") << QString();
}

void TestMain::pagesAreDrawnInSoftwareUnlessAskedOtherwise()
{
    QFETCH(QByteArray, asked);
    QFETCH(QString, chosen);
    ScopedTestEnvironment environment;
    environment.set("QT_QUICK_BACKEND", QString::fromLatin1(asked));
    QQuickWindow::setSceneGraphBackend(QString());

    drawPagesInSoftware();

    QCOMPARE(QQuickWindow::sceneGraphBackend(), chosen);
    QQuickWindow::setSceneGraphBackend(QString());
}

void TestMain::logEntryFormat()
{
    const QMessageLogContext context("src/Operation.cpp", 42, "bool Operation::releasefile()", "default");
    logMessageHandler(QtWarningMsg, context, QStringLiteral("<安装流程>:解压文件失败！"));

    const QByteArray entry = readTestFile(logFile(QStringLiteral("Errorlog.txt")));
    const QRegularExpression time(QStringLiteral("^【Error】\\[(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d)\\]"));
    const auto match = time.match(QString::fromLocal8Bit(entry));
    QVERIFY2(match.hasMatch(), entry.constData());
    const QByteArray expected = QStringLiteral("【Error】[%1][File:src/Operation.cpp][Line:42]"
                                               "[Function:bool Operation::releasefile()]\r\n"
                                               "【msg】:[<安装流程>:解压文件失败！]\r\n\r\n")
                                    .arg(match.captured(1))
                                    .toLocal8Bit();
    QCOMPARE(entry, expected);
    QVERIFY(!QFile::exists(logFile(QStringLiteral("log.txt"))));
}

// The sink keeps the text of the last second it wrote; an entry of the
// next second must not carry it.
void TestMain::logEntriesTellTheSecondTheyWereMadeIn()
{
    const QMessageLogContext context("src/Operation.cpp", 42, "bool Operation::releasefile()", "default");
    const qint64 first = QDateTime::currentSecsSinceEpoch();
    logMessageHandler(QtWarningMsg, context, QStringLiteral("first"));
    QTRY_VERIFY_WITH_TIMEOUT(QDateTime::currentSecsSinceEpoch() > first, 3000);
    logMessageHandler(QtWarningMsg, context, QStringLiteral("second"));

    const QString entries = QString::fromLocal8Bit(readTestFile(logFile(QStringLiteral("Errorlog.txt"))));
    const QRegularExpression time(QStringLiteral("^【Error】\\[([^\\]]+)\\]"), QRegularExpression::MultilineOption);
    QStringList times;
    for (auto it = time.globalMatch(entries); it.hasNext();)
        times << it.next().captured(1);
    QCOMPARE(times.size(), 2);
    const QString format = QStringLiteral("yyyy-MM-dd hh:mm:ss");
    QVERIFY2(QDateTime::fromString(times.at(1), format) > QDateTime::fromString(times.at(0), format),
             qPrintable(times.join(QLatin1String(" then "))));
}

void TestMain::logRouting_data()
{
    QTest::addColumn<bool>("fullLog");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("tag");
    QTest::addColumn<int>("logEntries");
    QTest::addColumn<int>("errorEntries");

    QTest::newRow("debug") << false << int(QtDebugMsg) << "【Debug】" << 0 << 0;
    QTest::newRow("info") << false << int(QtInfoMsg) << "【Info】" << 0 << 0;
    QTest::newRow("warning") << false << int(QtWarningMsg) << "【Error】" << 0 << 1;
    QTest::newRow("critical") << false << int(QtCriticalMsg) << "【Critical】" << 0 << 0;
    QTest::newRow("--alog debug") << true << int(QtDebugMsg) << "【Debug】" << 1 << 0;
    QTest::newRow("--alog info") << true << int(QtInfoMsg) << "【Info】" << 1 << 0;
    QTest::newRow("--alog warning") << true << int(QtWarningMsg) << "【Error】" << 1 << 0;
    QTest::newRow("--alog critical") << true << int(QtCriticalMsg) << "【Critical】" << 1 << 0;
}

void TestMain::logRouting()
{
    QFETCH(bool, fullLog);
    QFETCH(int, type);
    QFETCH(QString, tag);
    QFETCH(int, logEntries);
    QFETCH(int, errorEntries);
    fullLogMode = fullLog;
    const QMessageLogContext context("a.cpp", 1, "void f()", "default");
    for (int i = 0; i < 2; ++i)
        logMessageHandler(QtMsgType(type), context, QStringLiteral("message %1").arg(i));

    // Two messages: each routed file holds two entries of the level's tag.
    const QString log = QString::fromLocal8Bit(readTestFile(logFile(QStringLiteral("log.txt"))));
    const QString errors = QString::fromLocal8Bit(readTestFile(logFile(QStringLiteral("Errorlog.txt"))));
    QCOMPARE(log.count(tag + QLatin1Char('[')), 2 * logEntries);
    QCOMPARE(errors.count(tag + QLatin1Char('[')), 2 * errorEntries);
    QCOMPARE(QFile::exists(logFile(QStringLiteral("log.txt"))), fullLog);
}

void TestMain::logWithoutContext()
{
    logMessageHandler(QtWarningMsg, QMessageLogContext(), QStringLiteral("no context"));
    const QString entry = QString::fromLocal8Bit(readTestFile(logFile(QStringLiteral("Errorlog.txt"))));
    QVERIFY2(entry.contains(QStringLiteral("][File:][Line:0][Function:]\r\n【msg】:[no context]\r\n")),
             qPrintable(entry));
}

void TestMain::logKeepsPercentSigns()
{
    const QString message = QStringLiteral("100% done %1 %2 %% %s %n");
    const QMessageLogContext context("%1.cpp", 7, "void %2()", "default");
    logMessageHandler(QtWarningMsg, context, message);
    const QString entry = QString::fromLocal8Bit(readTestFile(logFile(QStringLiteral("Errorlog.txt"))));
    QVERIFY2(entry.contains(QStringLiteral("[File:%1.cpp][Line:7][Function:void %2()]")), qPrintable(entry));
    QVERIFY2(entry.contains(QStringLiteral("【msg】:[") + message + QLatin1Char(']')), qPrintable(entry));
}

namespace {

// Logs from its own run(), as a job thread does. The test also runs under
// ThreadSanitizer, which sees nothing of a QThread::create body: Qt runs
// that inside a call into the C++ library, whose work it leaves out.
class LoggingThread : public QThread
{
public:
    LoggingThread(int line, int entries) : line(line), entries(entries) {}

protected:
    void run() override
    {
        for (int i = 0; i < entries; ++i) {
            const QMessageLogContext context("worker.cpp", line, "void work()", "default");
            logMessageHandler(QtWarningMsg, context,
                              QStringLiteral("thread %1 entry %2 %3").arg(line).arg(i).arg(QString(200, QLatin1Char('x'))));
        }
    }

private:
    const int line;
    const int entries;
};

} // namespace

void TestMain::logEntriesFromThreadsNeverInterleave()
{
    const int threads = 4, perThread = 150;
    QList<QThread *> workers;
    for (int t = 0; t < threads; ++t)
        workers << new LoggingThread(t, perThread);
    for (QThread *worker : workers)
        worker->start();
    for (QThread *worker : workers) {
        QVERIFY(worker->wait(60000));
        delete worker;
    }

    const QString text = QString::fromLocal8Bit(readTestFile(logFile(QStringLiteral("Errorlog.txt"))));
    const QRegularExpression entry(QStringLiteral(
        "【Error】\\[[^\\]]+\\]\\[File:worker\\.cpp\\]\\[Line:(\\d)\\]\\[Function:void work\\(\\)\\]\r\n"
        "【msg】:\\[thread (\\d) entry (\\d+) x{200}\\]\r\n\r\n"));
    QSet<QString> seen;
    int at = 0;
    for (auto it = entry.globalMatch(text); it.hasNext();) {
        const auto match = it.next();
        QCOMPARE(match.capturedStart(), at); // whole entries, back to back
        QCOMPARE(match.captured(1), match.captured(2));
        seen.insert(match.captured(2) + QLatin1Char('/') + match.captured(3));
        at = match.capturedEnd();
    }
    QCOMPARE(at, text.size());
    QCOMPARE(seen.size(), threads * perThread);
}

// ---- single instance, with the real installer ---------------------------------------

namespace {

// A copy of the installer in a folder of its own, so its log files stay there.
struct InstallerCopy
{
    QTemporaryDir dir;
    QString program;

    InstallerCopy()
    {
        program = dir.path() + QStringLiteral("/lumenrider_1.6.9.exe");
        QFile::copy(QStringLiteral(INSTALLER_EXE), program);
    }

    std::unique_ptr<QProcess> start(const QString &domainListUrl, const QStringList &arguments = {}) const
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LUMENRIDER_DOMAIN_LIST_URL"), domainListUrl);
        if (env.value(QStringLiteral("DISPLAY")).isEmpty())
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->start(program, arguments);
        process->waitForStarted();
        return process;
    }

    QString log() const
    {
        return QString::fromLocal8Bit(readTestFile(dir.path() + QStringLiteral("/log.txt")));
    }
};

QString machineIdIn(const QString &log)
{
    const auto match = QRegularExpression(QStringLiteral("<系统环境>:.*\"([0-9a-f]{32})\"\\]")).match(log);
    return match.captured(1);
}

void stop(QProcess &process)
{
    process.kill();
    process.waitForFinished(10000);
}

} // namespace

void TestMain::secondInstanceExitsWhileFirstIsInStartUp()
{
    // A domain-list server that accepts and never answers keeps the first
    // installer inside domain discovery.
    QTcpServer stalled;
    QVERIFY(stalled.listen(QHostAddress::LocalHost));
    const QString url = QStringLiteral("http://127.0.0.1:%1/init/domain2.txt").arg(stalled.serverPort());

    InstallerCopy copy;
    auto first = copy.start(url, {QStringLiteral("--alog")});
    QTRY_VERIFY_WITH_TIMEOUT(copy.log().contains(QStringLiteral("<接口操作>:请求接口:")), 20000);
    QCOMPARE(first->state(), QProcess::Running);

    auto second = copy.start(url);
    QVERIFY(second->waitForFinished(10000));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QCOMPARE(first->state(), QProcess::Running);
    stop(*first);
}

void TestMain::secondInstanceExitsWhileFirstShowsItsPage()
{
    const QString closedPort = QStringLiteral("http://127.0.0.1:9/init/domain2.txt");
    InstallerCopy copy;
    auto first = copy.start(closedPort, {QStringLiteral("--alog")});
    QVERIFY(!waitForWindow(installerTitle, first->processId()).isEmpty());
    const QString firstRun = machineIdIn(copy.log());

    auto second = copy.start(closedPort);
    QVERIFY(second->waitForFinished(10000));
    QCOMPARE(second->exitCode(), 0);
    QCOMPARE(first->state(), QProcess::Running);
    QVERIFY(!second->readAll().contains("<系统环境>")); // it wrote nothing of its own

    // A killed instance leaves no lock behind: the next one starts and
    // describes the same machine.
    stop(*first);
    QFile::remove(copy.dir.path() + QStringLiteral("/log.txt"));
    auto again = copy.start(closedPort, {QStringLiteral("--alog")});
    QTRY_VERIFY_WITH_TIMEOUT(!machineIdIn(copy.log()).isEmpty(), 30000);
    QCOMPARE(machineIdIn(copy.log()), firstRun);
    // The console line follows the file entry.
    QTRY_VERIFY_WITH_TIMEOUT(again->peek(1 << 20).contains("【Info】<系统环境>:"), 10000);
    stop(*again);

    getSystemInfo();
    QCOMPARE(firstRun, machineId);
}

QTEST_MAIN(TestMain)
#include "tst_main.moc"
