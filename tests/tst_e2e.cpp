// The whole install, as a user meets it: the demo payload's installer runs
// as its own process against the vendor-API stand-in, with an earlier
// client's driver service and background program on the machine, and is
// clicked through on the X server. Everything it leaves is then checked.

#include "TestSupport.h"
#include "VendorApiServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QtTest>

#include <memory>

#include <signal.h>

namespace {

const QString title = QStringLiteral("流光游戏加速器安装程序");

// The demo user's machine: home and XDG folders, the payload as shipped,
// the vendor-API stand-in; the programs started here inherit them.
class Machine
{
public:
    // A client the installer started must not outlive a test that failed
    // before stopping it: it would keep the test's output open, and CTest
    // would wait for it to the time-out.
    ~Machine()
    {
        const QByteArray launches = readTestFile(installFolder() + QStringLiteral("/temp/launches.jsonl"));
        for (const QByteArray &line : launches.split('\n')) {
            const int pid = QJsonDocument::fromJson(line).object().value(QStringLiteral("pid")).toInt();
            if (pid > 0)
                ::kill(pid_t(pid), SIGTERM);
        }
    }

    bool setUp()
    {
        if (QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-a"), QStringLiteral(DEMO_DIR),
                                                     path(QStringLiteral("payload"))})
            != 0)
            return false;
        shipped = filesBelow(path(QStringLiteral("payload")));
        if (!server.start())
            return false;
        home.set("LUMENRIDER_DOMAIN_LIST_URL", server.domainListUrl());
        return sc({QStringLiteral("create"), QStringLiteral("DOVivived"), QStringLiteral("binPath="),
                   QStringLiteral("C:\\Windows\\System32\\drivers\\DOVivived.sys"), QStringLiteral("type="),
                   QStringLiteral("kernel")})
                   == 0
               && sc({QStringLiteral("start"), QStringLiteral("DOVivived")}) == 0;
    }

    QString path(const QString &sub) const { return home.path() + QLatin1Char('/') + sub; }
    QString installFolder() const { return home.dataHome() + QStringLiteral("/lumenrider"); }
    QString log() const { return QString::fromLocal8Bit(readTestFile(path(QStringLiteral("payload/log.txt")))); }

    // The exit code (its low byte: Linux keeps no more) and what sc printed.
    int sc(const QStringList &arguments, QString *output = nullptr)
    {
        QProcess tool;
        tool.start(QStringLiteral(WINTOOLS_DIR "/sc"), arguments);
        if (!tool.waitForFinished(30000))
            return -1;
        if (output)
            *output = QString::fromLocal8Bit(tool.readAllStandardOutput());
        return tool.exitCode();
    }

    std::unique_ptr<QProcess> start(const QString &program, const QStringList &arguments)
    {
        auto process = std::make_unique<QProcess>();
        process->setWorkingDirectory(path(QStringLiteral("payload")));
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->setStandardOutputFile(QProcess::nullDevice());
        process->start(program, arguments);
        process->waitForStarted(10000);
        return process;
    }

    ScopedTestEnvironment home;
    VendorApiServer server;
    QMap<QString, QByteArray> shipped;
};

// The install button of the first screen and the start button of the
// success page share one place: 150 × 40 at (245, 270).
void clickTheBigButton(const QRect &window)
{
    QVERIFY(clickAt(window.topLeft() + QPoint(320, 290)));
}

QJsonObject firstLaunch(const QString &installFolder)
{
    const QByteArray line = readTestFile(installFolder + QStringLiteral("/temp/launches.jsonl")).split('\n').value(0);
    return QJsonDocument::fromJson(line).object();
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void installThroughThePages();
    void immediateInstall();

private:
    void checkInstalledFiles(Machine &machine);
    void checkStartedClient(Machine &machine, const QStringList &arguments);
};

void TestEndToEnd::initTestCase()
{
    QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "the installer needs an X server");
    QVERIFY2(QFile::exists(QStringLiteral(DEMO_DIR "/lumenrider_1.6.9_35.exe")), "the demo payload is built");
}

void TestEndToEnd::checkInstalledFiles(Machine &machine)
{
    const QMap<QString, QByteArray> installed = filesBelow(machine.installFolder());
    for (auto it = machine.shipped.cbegin(); it != machine.shipped.cend(); ++it) {
        QVERIFY2(installed.contains(it.key()), qPrintable(it.key()));
        QVERIFY2(installed.value(it.key()) == it.value(), qPrintable(it.key()));
    }
    QSettings config(machine.installFolder() + QStringLiteral("/temp/config/config.ini"), QSettings::IniFormat);
    config.setIniCodec("utf-8");
    config.beginGroup(QStringLiteral("version"));
    QCOMPARE(config.value(QStringLiteral("show")).toString(), QStringLiteral("1.6.9"));
    QCOMPARE(config.value(QStringLiteral("update")).toString(), QStringLiteral("169"));
    QCOMPARE(config.value(QStringLiteral("oem")).toString(), QStringLiteral("35"));
    QCOMPARE(config.value(QStringLiteral("cdk")).toString(), QString());
    QCOMPARE(config.value(QStringLiteral("project")).toString(), QStringLiteral("lumenrider"));

    const QString client = machine.installFolder() + QStringLiteral("/lumenrider.exe");
    for (const QString &launcher : {machine.home.desktop() + QStringLiteral("/流光骑士.desktop"),
                                    machine.home.dataHome() + QStringLiteral("/applications/流光骑士/流光骑士.desktop")}) {
        const QString entry = QString::fromUtf8(readTestFile(launcher));
        QVERIFY2(entry.contains(QStringLiteral("Exec=\"") + client + QLatin1Char('"')), qPrintable(launcher));
        QVERIFY(QFileInfo(launcher).isExecutable());
    }

    // The earlier client's service and background program are gone.
    QString query;
    machine.sc({QStringLiteral("qc"), QStringLiteral("DOVivived")}, &query);
    QVERIFY2(query.contains(QStringLiteral("1060")), qPrintable(query));

    // The init call was signed as the vendor checks it; nothing failed.
    const QJsonArray init = machine.server.records(QStringLiteral("/game/api/index/init"));
    QCOMPARE(init.size(), 1);
    QVERIFY(init.first().toObject().value(QStringLiteral("sign_valid")).toBool());
    QCOMPARE(VendorApiServer::field(init.first().toObject(), QStringLiteral("oem")), QStringLiteral("35"));
    QCOMPARE(machine.server.errorReports().size(), 0);
}

void TestEndToEnd::checkStartedClient(Machine &machine, const QStringList &arguments)
{
    QTRY_VERIFY_WITH_TIMEOUT(!firstLaunch(machine.installFolder()).isEmpty(), 20000);
    const QJsonObject launch = firstLaunch(machine.installFolder());
    QCOMPARE(launch.value(QStringLiteral("args")).toVariant().toStringList(), arguments);
    QCOMPARE(launch.value(QStringLiteral("config")).toObject().value(QStringLiteral("oem")).toString(),
             QStringLiteral("35"));
    ::kill(pid_t(launch.value(QStringLiteral("pid")).toInt()), SIGTERM);
}

void TestEndToEnd::installThroughThePages()
{
    Machine machine;
    QVERIFY(machine.setUp());
    auto background = machine.start(machine.path(QStringLiteral("payload/ZURizad.exe")), {});
    QCOMPARE(background->state(), QProcess::Running);

    auto installer = machine.start(machine.path(QStringLiteral("payload/lumenrider_1.6.9_35.exe")),
                                   {QStringLiteral("--alog"), QStringLiteral("--td")});
    const QRect window = waitForWindow(title, installer->processId());
    QVERIFY(!window.isEmpty());
    // Start-up stopped the background program before the page came up.
    QVERIFY(background->waitForFinished(30000));

    clickTheBigButton(window);
    QTRY_VERIFY_WITH_TIMEOUT(machine.log().contains(QStringLiteral("<安装进度>:安装成功!")), 120000);
    clickTheBigButton(window);
    QVERIFY(installer->waitForFinished(30000));
    QCOMPARE(installer->exitStatus(), QProcess::NormalExit);
    QCOMPARE(installer->exitCode(), 0);

    checkInstalledFiles(machine);
    checkStartedClient(machine, {QStringLiteral("--t"), QStringLiteral("--d")});

    const QString text = QString::fromUtf8(readTestFile(machine.home.registryFile()));
    QVERIFY2(text.contains(QStringLiteral("\"InstallPath\"=\"") + machine.installFolder() + QLatin1Char('"')),
             qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("\"DisplayName\"=\"流光骑士\"")));
    QVERIFY(QRegularExpression(QStringLiteral("\"InstallTime\"=dword:[0-9a-f]{8}")).match(text).hasMatch());
    QVERIFY(text.contains(QStringLiteral("Uninstall/LRI]\n\"xinstall\"=\"1\"")));
    const QJsonArray install = machine.server.records(QStringLiteral("/log/api/statistic/install"));
    QCOMPARE(install.size(), 1);
    QVERIFY(install.first().toObject().value(QStringLiteral("sign_valid")).toBool());
}

void TestEndToEnd::immediateInstall()
{
    Machine machine;
    QVERIFY(machine.setUp());
    auto installer = machine.start(machine.path(QStringLiteral("payload/lumenrider_1.6.9_35.exe")),
                                   {QStringLiteral("--alog"), QStringLiteral("--goinstall")});
    const QRect window = waitForWindow(title, installer->processId());
    QVERIFY(!window.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(machine.log().contains(QStringLiteral("<安装进度>:安装成功!")), 120000);
    clickTheBigButton(window);
    QVERIFY(installer->waitForFinished(30000));
    QCOMPARE(installer->exitCode(), 0);

    checkInstalledFiles(machine);
    checkStartedClient(machine, {});
    const QString registry = QString::fromUtf8(readTestFile(machine.home.registryFile()));
    QVERIFY2(!registry.contains(QStringLiteral("InstallPath")), qPrintable(registry));
    QCOMPARE(machine.server.records(QStringLiteral("/log/api/statistic/install")).size(), 0);
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
