// The whole install of the shipped Windows folder on a Chinese Windows
// played by Wine, clicked through as a user does it: the earlier client's
// service "DOVivived" installed and running and its background program
// ZURizad.exe running; the installer started from a download folder, a
// second start while it runs, the custom panel opened, a folder with
// spaces, parentheses and Chinese typed in, the logon start ticked, install,
// start. Then Windows' own state is read back: files, registry, shortcuts,
// services, processes, the logon task, the reports the vendor-API stand-in
// received, the client's launch, the log's code page. Last, a test build of
// the installer crashes for real.
//
// A Linux program: it drives Wine and the X server from outside. Run it by
// wine-run --wintools DIR --linux, which made the prefix (WINEPREFIX) and
// put the Windows builds of the system tools in its system folder;
// LUMENRIDER_WIN_BUILD names the Windows build tree.

#include "TestSupport.h"
#include "VendorApiServer.h"

#include <QDateTime>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTextCodec>
#include <QtTest>

#include <memory>

namespace {

const QString title = QStringLiteral("流光游戏加速器安装程序");
const QString customFolder = QStringLiteral("C:\\Program Files (x86)\\流光 (1)");
const QString uninstallKey =
    QStringLiteral("Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\");

QString fromGbk(const QByteArray &bytes)
{
    return QTextCodec::codecForName("GBK")->toUnicode(bytes);
}

bool isUtf8(const QByteArray &bytes)
{
    QTextCodec::ConverterState state;
    QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0;
}

// Windows' view of the Linux file system (drive Z:).
QString zPath(const QString &path)
{
    return QStringLiteral("Z:") + QString(path).replace(QLatin1Char('/'), QLatin1Char('\\'));
}

// The Wine prefix as the Windows programs in it see it.
class WinePrefix
{
public:
    QString prefix = qEnvironmentVariable("WINEPREFIX");
    QString build = qEnvironmentVariable("LUMENRIDER_WIN_BUILD");

    // A path of drive C: ("C:\a\b") on the Linux side.
    QString linuxPath(const QString &windowsPath) const
    {
        QString path = windowsPath.mid(3);
        return prefix + QStringLiteral("/drive_c/") + path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    }

    // Runs a Windows program to its end; its exit code, -1 when it did not end.
    int run(const QStringList &arguments, QByteArray *output = nullptr, int timeoutMs = 120000) const
    {
        QProcess wine;
        wine.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        wine.start(QStringLiteral("wine"), arguments);
        if (!wine.waitForFinished(timeoutMs)) {
            wine.kill();
            wine.waitForFinished();
            return -1;
        }
        if (output)
            *output = wine.readAllStandardOutput();
        return wine.exitStatus() == QProcess::NormalExit ? wine.exitCode() : -1;
    }

    std::unique_ptr<QProcess> start(const QStringList &arguments, const QString &folder,
                                    const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment()) const
    {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(environment);
        process->setWorkingDirectory(folder);
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(QProcess::nullDevice());
        process->start(QStringLiteral("wine"), arguments);
        process->waitForStarted(30000);
        return process;
    }

    // A system tool, by its full path: the Windows build of our stand-in.
    int tool(const QString &name, const QStringList &arguments, QString *output = nullptr) const
    {
        QByteArray bytes;
        const int code = run(QStringList{QStringLiteral("C:\\windows\\syswow64\\") + name} + arguments, &bytes);
        if (output)
            *output = fromGbk(bytes);
        return code;
    }

    // What Windows itself holds, read by the test helper (registry, link,
    // service, processes, minimize).
    QString probe(const QString &what, const QString &argument) const
    {
        QTemporaryDir folder;
        const QString file = folder.filePath(QStringLiteral("probe.txt"));
        if (run({zPath(build + QStringLiteral("/tests/windows/test_helper.exe")), QStringLiteral("--probe"),
                 zPath(file), what, argument})
            != 0)
            return QStringLiteral("(the probe failed)");
        return QString::fromUtf8(readTestFile(file));
    }

    // NAME -> "TYPE DATA" of every value of HKLM\key.
    QMap<QString, QString> registryValues(const QString &key) const
    {
        QMap<QString, QString> values;
        for (const QString &line : probe(QStringLiteral("registry"), key).split(QLatin1Char('\n'))) {
            const QStringList parts = line.split(QLatin1Char('\t'));
            if (parts.size() == 3)
                values.insert(parts.at(0), parts.at(1) + QLatin1Char(' ') + parts.at(2));
        }
        return values;
    }

    QStringList processes() const
    {
        return probe(QStringLiteral("processes"), QStringLiteral("-")).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
};

// The whole window, wherever it is now.
QRect windowNow()
{
    return waitForWindow(title, 0, 30000);
}

} // namespace

class TestEndToEndWindows : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void installerShowsItsMainPage();
    void secondStartBringsTheFirstForward();
    void installThroughTheCustomPanel();
    void everyFileIsInstalledByteForByte();
    void uninstallEntryHasEveryValue();
    void shortcutsLeadToTheClient();
    void earlierClientIsGone();
    void logonTaskStartsTheClient();
    void vendorReceivedSignedCallsInOrder();
    void clientStartedWithPassOnFlags();
    void logIsInTheChineseCodePage();
    void crashLeavesDumpReportAndMessage();

private:
    QString log() const { return fromGbk(readTestFile(shipped + QStringLiteral("/log.txt"))); }
    bool waitForLog(const QString &pattern, int timeoutMs) const;
    QList<QJsonObject> launches() const;
    QString taskTarget(const QString &name) const;
    void click(const QPoint &inWindow);
    bool typeText(const QString &text);

    WinePrefix wine;
    VendorApiServer server;
    QString shipped;
    QString installerPath;
    QString installFolder;
    QMap<QString, QByteArray> payload;
    std::unique_ptr<QProcess> background;
    std::unique_ptr<QProcess> installer;
    std::unique_ptr<QProcess> clipboard;
    QTemporaryDir clipboardFolder;
    QRect window;
    qint64 startedAt = 0;
};

bool TestEndToEndWindows::waitForLog(const QString &pattern, int timeoutMs) const
{
    const QRegularExpression expression(pattern);
    QDeadlineTimer deadline(timeoutMs);
    while (!expression.match(log()).hasMatch()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(300);
    }
    return true;
}

QList<QJsonObject> TestEndToEndWindows::launches() const
{
    QList<QJsonObject> all;
    for (const QByteArray &line : readTestFile(installFolder + QStringLiteral("/temp/launches.jsonl")).split('\n')) {
        const QJsonObject launch = QJsonDocument::fromJson(line).object();
        if (!launch.isEmpty())
            all << launch;
    }
    return all;
}

QString TestEndToEndWindows::taskTarget(const QString &name) const
{
    // The tool stand-in keeps its tasks in the 32-bit view of the registry.
    return wine.registryValues(QStringLiteral("Software\\WOW6432Node\\LumenRiderTestTools\\Tasks\\") + name)
        .value(QStringLiteral("Target"))
        .section(QLatin1Char(' '), 1);
}

void TestEndToEndWindows::click(const QPoint &inWindow)
{
    window = windowNow();
    QVERIFY2(!window.isEmpty(), "the installer's window is gone");
    QVERIFY(clickAt(window.topLeft() + inWindow));
}

// Text into the focused field, key by key; the Chinese part as an input
// method hands it over, in one piece, through the clipboard: Wine's keyboard
// map has no room for keys of characters it does not know. The clipboard
// is served until the test ends: the installer fetches it when it handles
// the paste key.
bool TestEndToEndWindows::typeText(const QString &text)
{
    static const QRegularExpression pieces(QStringLiteral("[\\x{20}-\\x{7e}]+|[^\\x{20}-\\x{7e}]+"));
    for (auto it = pieces.globalMatch(text); it.hasNext();) {
        const QString piece = it.next().captured();
        if (piece.at(0).unicode() < 0x7f) {
            if (!xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("30"), piece}))
                return false;
            continue;
        }
        const QString file = clipboardFolder.filePath(QStringLiteral("piece.txt"));
        if (!writeTestFile(file, piece.toUtf8()))
            return false;
        clipboard = std::make_unique<QProcess>();
        clipboard->setStandardInputFile(QProcess::nullDevice());
        clipboard->setStandardOutputFile(QProcess::nullDevice());
        clipboard->start(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard"),
                                                  QStringLiteral("-quiet"), file});
        if (!clipboard->waitForStarted(10000))
            return false;
        // Wine takes the new selection over on its own time.
        QDeadlineTimer deadline(30000);
        QString seen;
        while ((seen = wine.probe(QStringLiteral("clipboard"), QStringLiteral("-"))) != piece) {
            if (deadline.hasExpired()) {
                qWarning() << "Windows never saw" << piece << "on the clipboard; last:" << seen
                           << "xclip:" << clipboard->state() << clipboard->readAllStandardError();
                return false;
            }
        }
        if (!xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), QStringLiteral("ctrl+v")}))
            return false;
    }
    return true;
}

void TestEndToEndWindows::initTestCase()
{
    QVERIFY2(!wine.prefix.isEmpty(), "run me through wine-run --linux");
    QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "the installer needs an X server");
    const QString demo = wine.build + QStringLiteral("/demo");
    QVERIFY2(QFile::exists(demo + QStringLiteral("/lumenrider_1.6.9_35.exe")), "the shipped folder is built");
    payload = filesBelow(demo);

    // Downloaded by the user, into a folder of Chinese name.
    shipped = wine.linuxPath(QStringLiteral("C:\\下载\\lumenrider_1.6.9_35"));
    QVERIFY(QDir().mkpath(shipped));
    QCOMPARE(QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-a"), demo + QStringLiteral("/."), shipped}), 0);
    installerPath = QStringLiteral("C:\\下载\\lumenrider_1.6.9_35\\lumenrider_1.6.9_35.exe");
    installFolder = wine.linuxPath(customFolder);
    QVERIFY(server.start());

    // The earlier client: its service running, its background program too.
    const QString oldClient = QStringLiteral("C:\\Program Files (x86)\\LumenRider Old");
    QVERIFY(QDir().mkpath(wine.linuxPath(oldClient)));
    for (const QString &name : {QStringLiteral("DOVivived.exe")})
        QVERIFY(QFile::copy(wine.build + QStringLiteral("/wintools/") + name, wine.linuxPath(oldClient + QLatin1Char('\\') + name)));
    QCOMPARE(QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-a"), demo + QStringLiteral("/."), wine.linuxPath(oldClient)}), 0);
    QString output;
    QCOMPARE(wine.tool(QStringLiteral("sc.exe"),
                       {QStringLiteral("create"), QStringLiteral("DOVivived"), QStringLiteral("binPath="),
                        oldClient + QStringLiteral("\\DOVivived.exe"), QStringLiteral("start="), QStringLiteral("demand")},
                       &output),
             0);
    // On a busy machine Wine's service manager may give up on a service
    // process that is slow to come up (it then shows as stopped); a user
    // would start it again.
    QString state;
    for (int attempt = 0; attempt < 3 && state != QLatin1String("state 4\n"); ++attempt) {
        QCOMPARE(wine.tool(QStringLiteral("sc.exe"), {QStringLiteral("start"), QStringLiteral("DOVivived")}, &output), 0);
        QDeadlineTimer deadline(60000);
        while ((state = wine.probe(QStringLiteral("service"), QStringLiteral("DOVivived"))) == QLatin1String("state 2\n")
               && !deadline.hasExpired())
            QTest::qWait(300);
    }
    QCOMPARE(state, QStringLiteral("state 4\n"));
    background = wine.start({oldClient + QStringLiteral("\\ZURizad.exe")}, wine.linuxPath(oldClient));
    QTRY_VERIFY_WITH_TIMEOUT(wine.processes().contains(QStringLiteral("ZURizad.exe")), 30000);
}

void TestEndToEndWindows::cleanupTestCase()
{
    for (auto *process : {installer.get(), background.get(), clipboard.get()}) {
        if (process && process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(10000);
        }
    }
}

void TestEndToEndWindows::installerShowsItsMainPage()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LUMENRIDER_DOMAIN_LIST_URL"), server.domainListUrl());
    startedAt = QDateTime::currentSecsSinceEpoch();
    // "--td": a console of its own and debug mode, which the client is told.
    installer = wine.start({installerPath, QStringLiteral("--alog"), QStringLiteral("--td")}, shipped, environment);
    window = waitForWindow(title, 0, 120000);
    QVERIFY2(!window.isEmpty(), "the main page never showed");
    QVERIFY2(waitForLog(QStringLiteral("argueurl.url:"), 60000), "the agreement address was never logged");
    // Start-up stopped the background program before the page came up.
    QTRY_VERIFY2_WITH_TIMEOUT(background->state() == QProcess::NotRunning, "ZURizad.exe still runs after start-up",
                              60000);
}

void TestEndToEndWindows::secondStartBringsTheFirstForward()
{
    // Minimized from the taskbar; with no window manager here Wine keeps it
    // on the X screen, so Windows is asked for its state.
    QCOMPARE(wine.probe(QStringLiteral("minimize"), title), QStringLiteral("minimized\n"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LUMENRIDER_DOMAIN_LIST_URL"), server.domainListUrl());
    const auto second = wine.start({installerPath}, shipped, environment);
    QVERIFY2(second->waitForFinished(120000), "the second start did not end");
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(wine.probe(QStringLiteral("window"), title), QStringLiteral("shown\n"), 30000);
    QCOMPARE(installer->state(), QProcess::Running);
}

void TestEndToEndWindows::installThroughTheCustomPanel()
{
    click({580, 388}); // 自定义安装 >: the window grows by the panel, upwards
    QTRY_COMPARE_WITH_TIMEOUT(windowNow().height(), 500, 10000);
    window = windowNow();
    // The page moved down by 40 in the taller window.
    click({300, 450}); // the folder field
    QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), QStringLiteral("ctrl+a"),
                     QStringLiteral("BackSpace")}));
    QVERIFY(typeText(customFolder));
    click({166, 483}); // 开机启动
    click({26, 386});  // the agreement: off, and on again
    click({26, 386});
    click({320, 330}); // 立即安装
    // The log quotes the folder as C++ does: each backslash doubled.
    const QString released = QStringLiteral("<释放文件>释放路径: \"%1\"")
                                 .arg(QString(customFolder).replace(QLatin1Char('\\'), QStringLiteral("\\\\")));
    QVERIFY2(waitForLog(QRegularExpression::escape(released), 60000),
             qPrintable(QStringLiteral("the release did not go to ") + customFolder));
    QVERIFY2(waitForLog(QRegularExpression::escape(QStringLiteral("<安装进度>:安装成功!")), 180000),
             "the success page never came");
    QTRY_COMPARE_WITH_TIMEOUT(windowNow().size(), QSize(640, 420), 10000);
    click({320, 290}); // 立即体验
    QVERIFY2(installer->waitForFinished(60000), "the installer did not end after the start button");
    QCOMPARE(installer->exitStatus(), QProcess::NormalExit);
    QCOMPARE(installer->exitCode(), 0);
}

void TestEndToEndWindows::everyFileIsInstalledByteForByte()
{
    const QMap<QString, QByteArray> installed = filesBelow(installFolder);
    QStringList wrong;
    for (auto it = payload.cbegin(); it != payload.cend(); ++it) {
        if (installed.value(it.key()) != it.value())
            wrong << it.key();
    }
    QVERIFY2(wrong.isEmpty(), qPrintable(QStringLiteral("%1 file(s) not as shipped: ").arg(wrong.size())
                                         + wrong.mid(0, 5).join(QStringLiteral(", "))));
}

void TestEndToEndWindows::uninstallEntryHasEveryValue()
{
    const QMap<QString, QString> entry = wine.registryValues(uninstallKey + QStringLiteral("流光骑士"));
    QCOMPARE(entry.value(QStringLiteral("DisplayName")), QStringLiteral("REG_SZ 流光骑士"));
    QCOMPARE(entry.value(QStringLiteral("DisplayVersion")), QStringLiteral("REG_SZ 1.6.9"));
    QCOMPARE(entry.value(QStringLiteral("Publisher")), QStringLiteral("REG_SZ 远帆信息科技有限公司"));
    QCOMPARE(entry.value(QStringLiteral("InstallPath")), QStringLiteral("REG_SZ ") + customFolder);
    QCOMPARE(entry.value(QStringLiteral("UninstallString")),
             QStringLiteral("REG_SZ ") + customFolder + QStringLiteral("\\unInstall.exe"));
    QCOMPARE(entry.value(QStringLiteral("DisplayIcon")),
             QStringLiteral("REG_SZ ") + customFolder + QStringLiteral("\\lumenrider.exe"));
    const QString time = entry.value(QStringLiteral("InstallTime"));
    QVERIFY2(time.startsWith(QStringLiteral("REG_DWORD ")), qPrintable(time));
    const qint64 seconds = time.mid(10).toLongLong();
    QVERIFY2(seconds >= startedAt && seconds <= QDateTime::currentSecsSinceEpoch(), qPrintable(time));
    QCOMPARE(entry.size(), 7);
    QCOMPARE(wine.registryValues(uninstallKey + QStringLiteral("LRI")).value(QStringLiteral("xinstall")),
             QStringLiteral("REG_SZ 1"));
}

void TestEndToEndWindows::shortcutsLeadToTheClient()
{
    const QString client = customFolder + QStringLiteral("\\lumenrider.exe");
    const QString user = QStringLiteral("C:\\users\\") + qEnvironmentVariable("USER", QStringLiteral("root"));
    for (const QString &link : {user + QStringLiteral("\\Desktop\\流光骑士.lnk"),
                                user + QStringLiteral("\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\流光骑士\\流光骑士.lnk")}) {
        QVERIFY2(readTestFile(wine.linuxPath(link)).startsWith(QByteArray("\x4c\x00\x00\x00", 4)),
                 qPrintable(link + QStringLiteral(" is not a shell link")));
        QCOMPARE(wine.probe(QStringLiteral("link"), link), client + QLatin1Char('\n'));
    }
}

void TestEndToEndWindows::earlierClientIsGone()
{
    QCOMPARE(wine.probe(QStringLiteral("service"), QStringLiteral("DOVivived")), QStringLiteral("absent\n"));
    const QStringList running = wine.processes();
    QVERIFY2(!running.contains(QStringLiteral("ZURizad.exe")), qPrintable(running.join(QLatin1Char(' '))));
    QVERIFY2(!running.contains(QStringLiteral("DOVivived.exe")), qPrintable(running.join(QLatin1Char(' '))));
}

void TestEndToEndWindows::logonTaskStartsTheClient()
{
    QString listing;
    QCOMPARE(wine.tool(QStringLiteral("schtasks.exe"), {}, &listing), 0);
    QVERIFY2(listing.contains(QStringLiteral("LumenRiderSpeed")), qPrintable(listing));
    // The batch file the task was made by is gone again.
    QVERIFY(!QFile::exists(shipped + QStringLiteral("/autostart.bat")));
    const QString target = taskTarget(QStringLiteral("LumenRiderSpeed"));
    QCOMPARE(target, customFolder + QStringLiteral("\\lumenrider.exe"));
    const int before = launches().size();
    const auto client = wine.start({target}, installFolder);
    QTRY_COMPARE_WITH_TIMEOUT(launches().size(), before + 1, 60000);
    QCOMPARE(launches().last().value(QStringLiteral("args")).toArray().size(), 0);
    client->kill();
    client->waitForFinished(10000);
}

void TestEndToEndWindows::vendorReceivedSignedCallsInOrder()
{
    const QJsonArray records = server.records();
    QStringList paths;
    for (const QJsonValue &record : records) {
        const QJsonObject request = record.toObject();
        paths << request.value(QStringLiteral("path")).toString();
        if (paths.last() != QLatin1String("/init/domain2.txt"))
            QVERIFY2(request.value(QStringLiteral("sign_valid")).toBool(), qPrintable(paths.last()));
    }
    const int init = paths.indexOf(QStringLiteral("/game/api/index/init"));
    const int install = paths.indexOf(QStringLiteral("/log/api/statistic/install"));
    QVERIFY2(init >= 0 && install > init, qPrintable(paths.join(QStringLiteral(", "))));
    QCOMPARE(paths.count(QStringLiteral("/game/api/index/init")), 1);
    QCOMPARE(paths.count(QStringLiteral("/log/api/statistic/install")), 1);
    QCOMPARE(VendorApiServer::field(records.at(init).toObject(), QStringLiteral("oem")), QStringLiteral("35"));
    // An error report may come: on a busy machine Wine's service manager has
    // been seen to stop the earlier client's service on its own, and the
    // installer's stop then reports 3011 ("服务尚未启动"). It is signed too.
    for (const QJsonValue &report : server.errorReports())
        qInfo() << "error report" << VendorApiServer::field(report.toObject(), QStringLiteral("code"))
                << VendorApiServer::field(report.toObject(), QStringLiteral("msg"));
}

void TestEndToEndWindows::clientStartedWithPassOnFlags()
{
    QVERIFY2(!launches().isEmpty(), "the installed client was never started");
    const QJsonObject first = launches().first();
    QCOMPARE(first.value(QStringLiteral("args")).toVariant().toStringList(),
             QStringList({QStringLiteral("--t"), QStringLiteral("--d")}));
    QCOMPARE(first.value(QStringLiteral("config")).toObject().value(QStringLiteral("oem")).toString(),
             QStringLiteral("35"));
}

void TestEndToEndWindows::logIsInTheChineseCodePage()
{
    const QByteArray bytes = readTestFile(shipped + QStringLiteral("/log.txt"));
    const QByteArray line = QTextCodec::codecForName("GBK")->fromUnicode(QStringLiteral("<安装进度>:安装成功!"));
    QVERIFY2(bytes.contains(line), "log.txt does not hold the success line in code page 936");
    QVERIFY2(!isUtf8(bytes), "log.txt is UTF-8, not the code page of a Chinese Windows");
}

void TestEndToEndWindows::crashLeavesDumpReportAndMessage()
{
    // The test build of the installer, with its Qt, faults on a job thread.
    const QString faulty = wine.build + QStringLiteral("/tests/windows/lumenrider_1.6.9.exe");
    QVERIFY2(QFile::exists(faulty), qPrintable(faulty));
    const int reportsBefore = server.errorReports(QStringLiteral("1001")).size();
    const QString current = wine.linuxPath(QStringLiteral("C:\\users\\Public\\crash"));
    QVERIFY(QDir().mkpath(current));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LUMENRIDER_DOMAIN_LIST_URL"), server.domainListUrl());
    environment.insert(QStringLiteral("LUMENRIDER_TEST_FAULT"), QStringLiteral("job"));
    const auto crashing = wine.start({zPath(faulty)}, current, environment);
    const QRect box = waitForWindow(QStringLiteral("程式崩溃"), 0, 180000);
    QVERIFY2(!box.isEmpty(), "the crash message never showed");
    QVERIFY2(readTestFile(current + QStringLiteral("/crash.dmp")).startsWith("MDMP"), "crash.dmp is no minidump");
    QTRY_COMPARE_WITH_TIMEOUT(server.errorReports(QStringLiteral("1001")).size(), reportsBefore + 1, 30000);
    QVERIFY(server.errorReports(QStringLiteral("1001")).last().toObject().value(QStringLiteral("sign_valid")).toBool());
    // The user reads the message and presses its button (Enter).
    QVERIFY(clickAt(box.center()));
    QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("Return")}));
    QVERIFY2(crashing->waitForFinished(60000), "the crashed installer did not end after its message");
    QVERIFY(crashing->exitCode() != 0);
}

QTEST_GUILESS_MAIN(TestEndToEndWindows)
#include "tst_e2e_win.moc"
