// The real installer against a vendor API that fails in every way it can,
// and against a disk that refuses. Each case is an installer process of its
// own (own home and XDG folders, own runtime folder and so its own
// single-instance lock, own payload, own stand-in); the cases of one kind
// run at once, and each row then checks what its installer left and what
// its stand-in received.

#include "TestSupport.h"
#include "VendorApiServer.h"

#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QtTest>

#include <algorithm>
#include <map>
#include <memory>

namespace {

const QString installerName = QStringLiteral("lumenrider_1.6.9_35.exe");
const QString title = QStringLiteral("流光游戏加速器安装程序");

const QString domainList = QStringLiteral("/init/domain2.txt");
const QString initCall = QStringLiteral("/game/api/index/init");
const QString installReport = QStringLiteral("/log/api/statistic/install");
const QString errorReport = QStringLiteral("/log/api/client/up_log");

// The stand-in's fault modes, and "tls": that path's API served over HTTPS
// with a certificate nobody trusts.
const QString untrusted = QStringLiteral("tls");
// Longer than the installer's 15 s bound on the domain-list GET.
const QString stallPastTimeout = QStringLiteral("stall:20000");
// Longer than the whole install, and than the 15 s bound of every call.
const QString stallPastInstall = QStringLiteral("stall:150000");

const QString installedLine = QStringLiteral("<安装进度>:安装成功!");
const QString releaseFailedLine = QStringLiteral("<安装流程>:解压文件失败！");
const QString reportInstallLine = QStringLiteral("上报安装");

// Generous bounds for many installers sharing two cores; a hang stays a hang.
const int installBoundMs = 90000;
const int reportBoundMs = 15000;
// Installers starting up at the same time. Start-up and the first frames
// keep a core busy for a while, and an installer whose main thread starves
// sends the body of its init call so late that the stand-in stops waiting
// for it (after 5 s).
const int startingAtOnce = 2;
const QString startStuck = QStringLiteral("not started: the installers before it never finished starting");

QByteArray installerProgram()
{
    static const QByteArray program = readTestFile(QStringLiteral(INSTALLER_EXE));
    return program;
}

QByteArray pattern(int size, int seed)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i * 131 + i / 4099 + seed);
    return bytes;
}

void makeWritable(const QString &root)
{
    QDirIterator it(root, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        QFile::setPermissions(it.next(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile::setPermissions(root, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QString expand(QString text, const QMap<QString, QString> &values)
{
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        text.replace(QLatin1Char('{') + it.key() + QLatin1Char('}'), it.value());
    return text;
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

// One installer of its own: home and XDG folders (the data folder holds the
// default install folder), a runtime folder, the payload folder with the
// installer in it (log.txt lands there too) and its output beside them.
class InstallerRun
{
public:
    explicit InstallerRun(const QString &payloadName = QStringLiteral("payload"),
                          const QString &dataName = QStringLiteral("data"))
        : payloadFolder(dir.path() + QLatin1Char('/') + payloadName),
          dataFolder(dir.path() + QLatin1Char('/') + dataName)
    {
        const QString root = dir.path();
        for (const QString &sub : {root + QStringLiteral("/home/Desktop"), root + QStringLiteral("/config"),
                                   root + QStringLiteral("/cache"), root + QStringLiteral("/runtime"), dataFolder,
                                   payloadFolder})
            QDir().mkpath(sub);
        QFile::setPermissions(root + QStringLiteral("/runtime"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        environment.insert(QStringLiteral("HOME"), root + QStringLiteral("/home"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), root + QStringLiteral("/config"));
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), root + QStringLiteral("/cache"));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), dataFolder);
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), root + QStringLiteral("/runtime"));
        environment.insert(QStringLiteral("XDG_DESKTOP_DIR"), root + QStringLiteral("/home/Desktop"));
    }
    ~InstallerRun()
    {
        stop();
        makeWritable(dir.path());
    }
    InstallerRun(const InstallerRun &) = delete;
    InstallerRun &operator=(const InstallerRun &) = delete;

    QString payload() const { return payloadFolder; }
    QString dataHome() const { return dataFolder; }
    QString installFolder() const { return dataFolder + QStringLiteral("/lumenrider"); }
    QString log() const { return QString::fromUtf8(readTestFile(payloadFolder + QStringLiteral("/log.txt"))); }
    bool installed() const { return log().contains(installedLine); }
    // Its installing page has taken the driver step's result: start-up and
    // the first frames are behind it, and its main thread is free again.
    bool startedUp() const { return log().contains(QStringLiteral("<安装进度>:卸载驱动成功")); }
    bool running() const { return process.state() == QProcess::Running; }
    const QMap<QString, QByteArray> &payloadFiles() const { return files; }

    bool addPayloadFile(const QString &relative, const QByteArray &content)
    {
        files.insert(relative, content);
        return writeTestFile(payloadFolder + QLatin1Char('/') + relative, content);
    }

    // The installer and the client it installs.
    bool addInstallerAndClient()
    {
        return addPayloadFile(installerName, installerProgram())
               && QFile::setPermissions(payloadFolder + QLatin1Char('/') + installerName,
                                        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)
               && addPayloadFile(QStringLiteral("lumenrider.exe"), "#!/bin/sh\necho client\n");
    }

    // Starts the installer from its folder; `wrapper` runs it (prlimit ...).
    bool start(const QStringList &arguments, const QStringList &wrapper = QStringList())
    {
        const QString program = payloadFolder + QLatin1Char('/') + installerName;
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(payloadFolder);
        process.setStandardOutputFile(dir.path() + QStringLiteral("/stdout.txt"));
        process.setStandardErrorFile(dir.path() + QStringLiteral("/stderr.txt"));
        if (wrapper.isEmpty())
            process.start(program, arguments);
        else
            process.start(wrapper.first(), wrapper.mid(1) + QStringList{program} + arguments);
        return process.waitForStarted(10000);
    }

    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(10000)) {
            process.kill();
            process.waitForFinished(10000);
        }
    }

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QProcess process;

private:
    QTemporaryDir dir;
    QString payloadFolder;
    QString dataFolder;
    QMap<QString, QByteArray> files;
};

// The install finishes, and the client and the version section are where
// it puts them.
void checkInstallFinishes(const InstallerRun &run)
{
    // A dead installer writes no more: no need to wait for it.
    QTRY_VERIFY_WITH_TIMEOUT(run.installed() || !run.running(), installBoundMs);
    QVERIFY2(run.installed(), "the installer ended without installing");
    QCOMPARE(readTestFile(run.installFolder() + QStringLiteral("/lumenrider.exe")),
             run.payloadFiles().value(QStringLiteral("lumenrider.exe")));
    const QString config = run.installFolder() + QStringLiteral("/temp/config/config.ini");
    // The settings reach the file on the installer's next turn of its event loop.
    QTRY_VERIFY_WITH_TIMEOUT(QString::fromUtf8(readTestFile(config)).contains(QStringLiteral("oem=35")), 10000);
    QSettings settings(config, QSettings::IniFormat);
    settings.setIniCodec("utf-8");
    settings.beginGroup(QStringLiteral("version"));
    QCOMPARE(settings.value(QStringLiteral("show")).toString(), QStringLiteral("1.6.9"));
    QCOMPARE(settings.value(QStringLiteral("update")).toString(), QStringLiteral("169"));
}

// An X server of its own, for an installer that is clicked: no window of
// the other installers can lie over its button and take the click.
class PrivateDisplay
{
public:
    ~PrivateDisplay()
    {
        server.terminate();
        if (!server.waitForFinished(5000))
            server.kill();
        server.waitForFinished(5000);
    }

    bool start()
    {
        server.setStandardErrorFile(QProcess::nullDevice());
        // -displayfd 1: Xvfb picks a free display and prints its number.
        const QStringList arguments{QStringLiteral("-displayfd"), QStringLiteral("1"),
                                    QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1280x1024x24"),
                                    QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-ac")};
        server.start(QStringLiteral("Xvfb"), arguments);
        if (!server.waitForStarted(10000))
            return false;
        while (!server.canReadLine()) {
            if (!server.waitForReadyRead(10000))
                return false;
        }
        name = QLatin1Char(':') + QString::fromLatin1(server.readLine().trimmed());
        return true;
    }

    QString name;

private:
    QProcess server;
};

// TestSupport's X helpers talk to the display this process names.
class UsingDisplay
{
public:
    explicit UsingDisplay(const QString &display) : saved(qgetenv("DISPLAY"))
    {
        qputenv("DISPLAY", display.toLatin1());
    }
    ~UsingDisplay() { qputenv("DISPLAY", saved); }

private:
    QByteArray saved;
};

// What makes the faulted request happen.
enum class Trigger {
    Start,        // the installer's own start-up (domain list, init call)
    InstallClick, // the install button: the only sender of the install report
    InitRejected, // a rejected init call, whose "2002" is an error report
};

struct ApiCase
{
    QString path;
    QString fault;
    Trigger trigger;
};

struct ApiRun
{
    QString problem; // why the run could not be set up, empty when it was
    // Before the installer, so they outlive it.
    std::unique_ptr<PrivateDisplay> display;
    std::unique_ptr<VendorApiServer> listServer; // the stand-in holding the domain list
    std::unique_ptr<VendorApiServer> tlsServer;  // the untrusted one, for the other paths' "tls"
    InstallerRun installer;
};

// A request as the rows name it: "domain", "init", "install", or
// "report CODE" for an error report.
QString requestName(const QJsonObject &record)
{
    const QString path = record.value(QStringLiteral("path")).toString();
    if (path == errorReport)
        return QStringLiteral("report ") + VendorApiServer::field(record, QStringLiteral("code"));
    if (path == domainList)
        return QStringLiteral("domain");
    if (path == initCall)
        return QStringLiteral("init");
    if (path == installReport)
        return QStringLiteral("install");
    return path;
}

// The requests a stand-in received, sorted. A connection dropped before any
// answer makes Qt send the very same request again (same fields, timestamp
// and signature); such a repeat to `resentPath` is one request, not two.
QStringList receivedRequests(const VendorApiServer &server, const QString &resentPath)
{
    QStringList names;
    QList<QJsonObject> seen;
    for (const QJsonValue &value : server.records()) {
        QJsonObject record = value.toObject();
        record.remove(QStringLiteral("seq"));
        if (record.value(QStringLiteral("path")).toString() == resentPath && seen.contains(record))
            continue;
        seen << record;
        names << requestName(record);
    }
    return sorted(names);
}

// The log lines of requests that failed on the untrusted certificate.
int untrustedFailures(const QString &log)
{
    int count = 0;
    for (const QString &line : log.split(QLatin1Char('\n')))
        count += line.contains(QStringLiteral("<接口操作>:请求接口失败:"))
                 && line.contains(QStringLiteral("SslHandshakeFailedError"));
    return count;
}

// What a disk case prepares before its installer starts.
struct DiskRun
{
    DiskRun(const QString &payloadName, const QString &dataName) : installer(payloadName, dataName) {}

    QString problem;
    VendorApiServer server; // before the installer, so it outlives it
    InstallerRun installer;
    QStringList wrapper;                 // runs the installer, e.g. prlimit
    QMap<QString, QByteArray> existing;  // the target's files from an earlier install
};

using DiskSetUp = bool (*)(DiskRun &);

struct DiskCase
{
    DiskSetUp setUp;
    bool needsRefusals;
    bool awkwardFolders; // the installer's folder and the install folder too
};

bool addExisting(DiskRun &run, const QString &relative, const QByteArray &content)
{
    run.existing.insert(relative, content);
    return writeTestFile(run.installer.installFolder() + QLatin1Char('/') + relative, content);
}

bool addSmallPayload(DiskRun &run)
{
    return run.installer.addInstallerAndClient()
           && run.installer.addPayloadFile(QStringLiteral("0-first.txt"), "the first file")
           && run.installer.addPayloadFile(QStringLiteral("data/1-small.bin"), pattern(64 << 10, 1));
}

// Room for the QML engine's stack, a memory file of a little over 4 MiB.
const int fileSizeLimit = 8 << 20;

// Writing stops part-way through data/2-big.bin: the process may write no
// file beyond 8 MiB. The target already holds that file from before.
bool setUpWriteLimit(DiskRun &run)
{
    run.wrapper = QStringList{QStringLiteral("prlimit"), QStringLiteral("--fsize=%1").arg(fileSizeLimit),
                              QStringLiteral("--")};
    return addSmallPayload(run)
           && run.installer.addPayloadFile(QStringLiteral("data/2-big.bin"), pattern(fileSizeLimit + (4 << 20), 2))
           && run.installer.addPayloadFile(QStringLiteral("data/3-after.txt"), "after the big one")
           && addExisting(run, QStringLiteral("data/2-big.bin"), "the earlier install's copy");
}

bool setUpReadOnlyTarget(DiskRun &run)
{
    return addSmallPayload(run) && addExisting(run, QStringLiteral("earlier.txt"), "from the earlier install")
           && QFile::setPermissions(run.installer.installFolder(), QFile::ReadOwner | QFile::ExeOwner);
}

bool setUpReadOnlyParent(DiskRun &run)
{
    return addSmallPayload(run)
           && QFile::setPermissions(run.installer.dataHome(), QFile::ReadOwner | QFile::ExeOwner);
}

bool setUpUnreadableSource(DiskRun &run)
{
    const QString secret = QStringLiteral("data/2-unreadable.bin");
    return addSmallPayload(run) && run.installer.addPayloadFile(secret, "nobody may read this")
           && run.installer.addPayloadFile(QStringLiteral("data/3-after.txt"), "after the unreadable one")
           && QFile::setPermissions(run.installer.payload() + QLatin1Char('/') + secret, QFile::Permissions());
}

const QStringList awkwardNames{
    QStringLiteral("空格 和 'single' \"double\".txt"),
    QStringLiteral("目录 'a' \"b\"/子 目录/文件 \"名\" 'x'.bin"),
    QStringLiteral("it's \"here\"/ok.txt"),
};

bool setUpAwkwardNames(DiskRun &run)
{
    bool ok = run.installer.addInstallerAndClient();
    for (const QString &name : awkwardNames)
        ok = ok && run.installer.addPayloadFile(name, name.toUtf8());
    return ok;
}

QString deepFile()
{
    QString path = QStringLiteral("deep");
    for (int level = 1; level <= 30; ++level)
        path += QStringLiteral("/level %1").arg(level, 2, 10, QLatin1Char('0'));
    return path + QStringLiteral("/leaf.txt");
}

bool setUpDeepTree(DiskRun &run)
{
    return run.installer.addInstallerAndClient() && run.installer.addPayloadFile(deepFile(), "thirty levels down");
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void vendorApiFault_data();
    void vendorApiFault();

    void diskFault_data();
    void diskFault();

private:
    void addApiRow(const char *name, const QString &path, const QString &fault, Trigger trigger,
                   const QStringList &received, const QString &report = QString());
    void startApiRuns();
    QString launch(ApiRun &run, const ApiCase &setup);
    QStringList listServerArguments(const ApiCase &setup, const ApiRun &run) const;
    QString clickInstall(ApiRun &run);

    void addDiskRow(const char *name, const DiskCase &setup, bool installs, const QStringList &copied,
                    const QStringList &reports = QStringList());
    void startDiskRuns();
    bool waitForStartSlot();

    ScopedTestEnvironment environment;
    QTemporaryDir certificateFolder;
    QMap<QString, ApiCase> apiCases;
    std::map<QString, std::unique_ptr<ApiRun>> apiRuns;
    QMap<QString, DiskCase> diskCases;
    std::map<QString, std::unique_ptr<DiskRun>> diskRuns;
    QList<const InstallerRun *> launched;
    bool startsStuck = false;
};

void TestFaults::initTestCase()
{
    QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "the installer needs an X server");
    QVERIFY2(!installerProgram().isEmpty(), "the installer is built");
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                   QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-keyout"), certificateFolder.filePath(QStringLiteral("key.pem")),
                   QStringLiteral("-out"), certificateFolder.filePath(QStringLiteral("cert.pem")),
                   QStringLiteral("-days"), QStringLiteral("1"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                   QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1")});
    QVERIFY(openssl.waitForFinished(30000));
    QCOMPARE(openssl.exitCode(), 0);
}

// ---- the vendor API ----------------------------------------------------------

void TestFaults::addApiRow(const char *name, const QString &path, const QString &fault, Trigger trigger,
                           const QStringList &received, const QString &report)
{
    apiCases.insert(QString::fromUtf8(name), {path, fault, trigger});
    QTest::newRow(name) << path << fault << received << report;
}

void TestFaults::vendorApiFault_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("fault");
    // The requests the stand-in holding the domain list receives.
    QTest::addColumn<QStringList>("received");
    // The text of the one error report among them; {base} stands for that
    // stand-in, {tls} for the untrusted one.
    QTest::addColumn<QString>("report");

    const Trigger start = Trigger::Start;
    // Any fault of the domain list leaves both bases empty: the init call and
    // every report then have no host, and nothing is reported.
    addApiRow("domain list rejected", domainList, QStringLiteral("reject:4242"), start, {"domain"});
    addApiRow("domain list HTTP 500", domainList, QStringLiteral("status:500"), start, {"domain"});
    addApiRow("domain list not JSON", domainList, QStringLiteral("notjson"), start, {"domain"});
    addApiRow("domain list empty", domainList, QStringLiteral("empty"), start, {"domain"});
    addApiRow("domain list stalled", domainList, stallPastTimeout, start, {"domain"});
    addApiRow("domain list dropped", domainList, QStringLiteral("drop"), start, {"domain"});
    addApiRow("domain list untrusted", domainList, untrusted, start, {});

    // The init call: a rejection gives one "2002", a transport failure one
    // "2000"; an answer that is no JSON, or none yet, gives nothing.
    const QString initRejected =
        QStringLiteral("<接口操作>:接口拒绝,接口:{base}/game/api/index/init,状态码:4242,消息内容:rejected");
    addApiRow("init rejected", initCall, QStringLiteral("reject:4242"), start, {"domain", "init", "report 2002"},
              initRejected);
    addApiRow("init HTTP 500", initCall, QStringLiteral("status:500"), start, {"domain", "init", "report 2000"},
              QStringLiteral("<接口操作>:接口出错,接口:{base}/game/api/index/init状态码:401"));
    addApiRow("init not JSON", initCall, QStringLiteral("notjson"), start, {"domain", "init"});
    addApiRow("init empty", initCall, QStringLiteral("empty"), start, {"domain", "init"});
    // A call that gets no answer is given up after 15 s, as a transport failure.
    addApiRow("init stalled", initCall, stallPastInstall, start, {"domain", "init", "report 2000"},
              QStringLiteral("<接口操作>:接口出错,接口:{base}/game/api/index/init状态码:5"));
    addApiRow("init dropped", initCall, QStringLiteral("drop"), start, {"domain", "init", "report 2000"},
              QStringLiteral("<接口操作>:接口出错,接口:{base}/game/api/index/init状态码:2"));
    addApiRow("init untrusted", initCall, untrusted, start, {"domain", "report 2000"},
              QStringLiteral("<接口操作>:接口出错,接口:{tls}/game/api/index/init状态码:6"));

    // The install report: a rejection is reported like any other; a report
    // that fails in transport is never reported.
    const Trigger click = Trigger::InstallClick;
    const QStringList reported{"domain", "init", "install"};
    addApiRow("install report rejected", installReport, QStringLiteral("reject:4242"), click,
              reported + QStringList{"report 2002"},
              QStringLiteral("<接口操作>:接口拒绝,接口:{base}/log/api/statistic/install,状态码:4242,消息内容:rejected"));
    addApiRow("install report HTTP 500", installReport, QStringLiteral("status:500"), click, reported);
    addApiRow("install report not JSON", installReport, QStringLiteral("notjson"), click, reported);
    addApiRow("install report empty", installReport, QStringLiteral("empty"), click, reported);
    addApiRow("install report stalled", installReport, stallPastInstall, click, reported);
    addApiRow("install report dropped", installReport, QStringLiteral("drop"), click, reported);
    addApiRow("install report untrusted", installReport, untrusted, click, {"domain", "init"});

    // The error report (the "2002" of a rejected init call): whatever
    // becomes of it, it is not reported again.
    const Trigger rejected = Trigger::InitRejected;
    const QStringList oneReport{"domain", "init", "report 2002"};
    addApiRow("error report rejected", errorReport, QStringLiteral("reject:4242"), rejected, oneReport, initRejected);
    addApiRow("error report HTTP 500", errorReport, QStringLiteral("status:500"), rejected, oneReport, initRejected);
    addApiRow("error report not JSON", errorReport, QStringLiteral("notjson"), rejected, oneReport, initRejected);
    addApiRow("error report empty", errorReport, QStringLiteral("empty"), rejected, oneReport, initRejected);
    addApiRow("error report stalled", errorReport, stallPastInstall, rejected, oneReport, initRejected);
    addApiRow("error report dropped", errorReport, QStringLiteral("drop"), rejected, oneReport, initRejected);
    addApiRow("error report untrusted", errorReport, untrusted, rejected, {"domain", "init"});
}

void TestFaults::vendorApiFault()
{
    QFETCH(QString, path);
    QFETCH(QString, fault);
    QFETCH(QStringList, received);
    QFETCH(QString, report);
    startApiRuns();
    ApiRun &run = *apiRuns.at(QString::fromUtf8(QTest::currentDataTag()));
    QVERIFY2(run.problem.isEmpty(), qPrintable(run.problem));

    checkInstallFinishes(run.installer);
    if (QTest::currentTestFailed())
        return;

    const QString resent = fault == QLatin1String("drop") ? path : QString();
    const QStringList expected = sorted(received);
    QTRY_COMPARE_WITH_TIMEOUT(receivedRequests(*run.listServer, resent), expected, reportBoundMs);
    // Nothing can follow once the installer is gone.
    run.installer.stop();
    QCOMPARE(receivedRequests(*run.listServer, resent), expected);

    const QMap<QString, QString> bases{{QStringLiteral("base"), run.listServer->baseUrl()},
                                       {QStringLiteral("tls"), run.tlsServer ? run.tlsServer->baseUrl() : QString()}};
    const QJsonArray reports = run.listServer->errorReports();
    if (!report.isEmpty()) {
        QVERIFY(!reports.isEmpty());
        QCOMPARE(VendorApiServer::field(reports.first().toObject(), QStringLiteral("msg")), expand(report, bases));
    }
    for (const QJsonValue &value : run.listServer->records()) {
        const QJsonObject record = value.toObject();
        if (record.value(QStringLiteral("method")).toString() == QLatin1String("POST"))
            QVERIFY2(record.value(QStringLiteral("sign_valid")).toBool(),
                     QJsonDocument(record).toJson(QJsonDocument::Compact).constData());
    }
    if (fault == untrusted) {
        // The certificate was refused before any request reached the server,
        // and the one failed request was not reported.
        if (run.tlsServer)
            QCOMPARE(run.tlsServer->records().size(), 0);
        QCOMPARE(untrustedFailures(run.installer.log()), 1);
    }
}

void TestFaults::startApiRuns()
{
    if (!apiRuns.empty())
        return;
    for (auto it = apiCases.cbegin(); it != apiCases.cend(); ++it) {
        ApiRun &run = *(apiRuns[it.key()] = std::make_unique<ApiRun>());
        run.problem = waitForStartSlot() ? launch(run, it.value()) : startStuck;
        if (run.problem.isEmpty() && run.display)
            run.problem = clickInstall(run);
    }
}

// Starts the stand-ins and the installer of one case; why it could not, or
// an empty text.
QString TestFaults::launch(ApiRun &run, const ApiCase &setup)
{
    const QStringList certificate{QStringLiteral("--cert"), certificateFolder.filePath(QStringLiteral("cert.pem")),
                                  QStringLiteral("--cert-key"), certificateFolder.filePath(QStringLiteral("key.pem"))};
    const bool untrustedList = setup.fault == untrusted && setup.path == domainList;
    if (setup.fault == untrusted && !untrustedList) {
        run.tlsServer = std::make_unique<VendorApiServer>(certificate);
        if (!run.tlsServer->start())
            return QStringLiteral("the untrusted stand-in did not start");
    }
    run.listServer = std::make_unique<VendorApiServer>(untrustedList ? certificate : listServerArguments(setup, run));
    if (!run.listServer->start() || !run.installer.addInstallerAndClient())
        return QStringLiteral("the stand-in or the payload could not be set up");
    run.installer.environment.insert(QStringLiteral("LUMENRIDER_DOMAIN_LIST_URL"), run.listServer->domainListUrl());
    QStringList arguments{QStringLiteral("--alog")};
    if (setup.trigger == Trigger::InstallClick) {
        run.display = std::make_unique<PrivateDisplay>();
        if (!run.display->start())
            return QStringLiteral("no X server of its own for the click");
        run.installer.environment.insert(QStringLiteral("DISPLAY"), run.display->name);
    } else {
        arguments << QStringLiteral("--goinstall");
    }
    if (!run.installer.start(arguments))
        return QStringLiteral("the installer did not start");
    launched << &run.installer;
    return QString();
}

// False when earlier installers never finished starting; from then on at once.
bool TestFaults::waitForStartSlot()
{
    startsStuck = startsStuck || !QTest::qWaitFor(
        [this] {
            const auto starting = [](const InstallerRun *run) { return run->running() && !run->startedUp(); };
            return std::count_if(launched.cbegin(), launched.cend(), starting) < startingAtOnce;
        },
        installBoundMs);
    return !startsStuck;
}

// The faults of the stand-in that serves the domain list. An untrusted path
// is reached through a domain list that points its base at the TLS stand-in.
QStringList TestFaults::listServerArguments(const ApiCase &setup, const ApiRun &run) const
{
    QStringList faults;
    if (setup.trigger == Trigger::InitRejected)
        faults << initCall + QStringLiteral("=reject:4242");
    if (setup.fault != untrusted) {
        faults << setup.path + QLatin1Char('=') + setup.fault;
    } else {
        const QString tls = run.tlsServer->baseUrl();
        const QString game = setup.path == initCall ? tls : QStringLiteral("{base}");
        const QString log = setup.path == initCall ? QStringLiteral("{base}") : tls;
        const QString list = QStringLiteral("{\"code\":0,\"msg\":\"ok\",\"data\":{\"game\":\"%1/game\",\"log\":\"%2/log\"}}");
        faults << domainList + QStringLiteral("=body:") + list.arg(game, log);
    }
    QStringList arguments;
    for (const QString &fault : faults)
        arguments << QStringLiteral("--fault") << fault;
    return arguments;
}

// Clicks the install button (150 × 40 at (245, 270) of the first screen)
// on the case's own screen; why that failed, or an empty text.
QString TestFaults::clickInstall(ApiRun &run)
{
    UsingDisplay display(run.display->name);
    const QRect window = waitForWindow(title, run.installer.process.processId());
    if (window.isEmpty() || !clickAt(window.topLeft() + QPoint(320, 290))
        || !QTest::qWaitFor([&run] { return run.installer.log().contains(reportInstallLine); }, reportBoundMs))
        return QStringLiteral("the install button could not be clicked");
    return QString();
}

// ---- the disk ------------------------------------------------------------------

void TestFaults::addDiskRow(const char *name, const DiskCase &setup, bool installs, const QStringList &copied,
                            const QStringList &reports)
{
    diskCases.insert(QString::fromUtf8(name), setup);
    QTest::newRow(name) << setup.needsRefusals << installs << copied << reports;
}

void TestFaults::diskFault_data()
{
    QTest::addColumn<bool>("needsRefusals");
    QTest::addColumn<bool>("installs");
    // The payload's files found in the install folder, as they were shipped;
    // beside them only what the folder held before, as it was.
    QTest::addColumn<QStringList>("copied");
    // The "4001" reports, in any order; {target} is the install folder.
    QTest::addColumn<QStringList>("reports");

    const QString fileFailed = QStringLiteral("安装程序进行文件copy时失败,释放路径:{target}%1当前是否为覆盖安装:否");
    const QString folderFailed =
        QStringLiteral("为目录时递归的进行copy失败,释放路径:{target}当前是否为覆盖安装:否newpath{target}");
    const QStringList upToData{QStringLiteral("0-first.txt"), QStringLiteral("data/1-small.bin")};
    const QStringList installerAndClient{installerName, QStringLiteral("lumenrider.exe")};

    addDiskRow("write fails part-way", {setUpWriteLimit, false, false}, false, upToData,
               {fileFailed.arg(QStringLiteral("/data")), folderFailed});
    addDiskRow("read-only target folder", {setUpReadOnlyTarget, true, false}, false, {}, {fileFailed.arg(QString())});
    addDiskRow("read-only parent of the target", {setUpReadOnlyParent, true, false}, false, {},
               {QStringLiteral("安装程序创建目录失败,释放路径:{target}当前是否为覆盖安装:否newpath{target}")});
    addDiskRow("unreadable source file", {setUpUnreadableSource, true, false}, false, upToData,
               {fileFailed.arg(QStringLiteral("/data")), folderFailed});
    addDiskRow("spaces, Chinese and quotes in names", {setUpAwkwardNames, false, true}, true,
               installerAndClient + awkwardNames);
    addDiskRow("30 levels deep", {setUpDeepTree, false, false}, true, installerAndClient + QStringList{deepFile()});
}

void TestFaults::diskFault()
{
    QFETCH(bool, needsRefusals);
    QFETCH(bool, installs);
    QFETCH(QStringList, copied);
    QFETCH(QStringList, reports);
    if (needsRefusals && !permissionsAreEnforced())
        QSKIP("this process may write read-only folders and read unreadable files; scripts/test drops that capability");
    startDiskRuns();
    DiskRun &run = *diskRuns.at(QString::fromUtf8(QTest::currentDataTag()));
    QVERIFY2(run.problem.isEmpty(), qPrintable(run.problem));

    const QMap<QString, QString> target{{QStringLiteral("target"), run.installer.installFolder()}};
    QStringList expectedReports;
    for (const QString &message : reports)
        expectedReports << QStringLiteral("4001 ") + expand(message, target);
    expectedReports.sort();
    const auto receivedReports = [&run] {
        QStringList messages;
        for (const QJsonValue &report : run.server.errorReports())
            messages << VendorApiServer::field(report.toObject(), QStringLiteral("code")) + QLatin1Char(' ')
                            + VendorApiServer::field(report.toObject(), QStringLiteral("msg"));
        return sorted(messages);
    };

    if (installs) {
        checkInstallFinishes(run.installer);
        if (QTest::currentTestFailed())
            return;
    } else {
        const auto releaseFailed = [&run] { return run.installer.log().contains(releaseFailedLine); };
        QTRY_VERIFY_WITH_TIMEOUT(releaseFailed() || !run.installer.running(), installBoundMs);
        QVERIFY2(releaseFailed(), "the installer ended without reporting the failed release");
        QTRY_COMPARE_WITH_TIMEOUT(receivedReports(), expectedReports, reportBoundMs);
        // The failure was the installer's to handle, not the end of it.
        QVERIFY(run.installer.running());
    }
    run.installer.stop();
    QCOMPARE(run.installer.installed(), installs);
    QCOMPARE(receivedReports(), expectedReports);

    // Every file copied so far is whole, the rest of what was there is
    // untouched, and nothing half-written is left.
    QMap<QString, QByteArray> expected = run.existing;
    for (const QString &file : copied)
        expected.insert(file, run.installer.payloadFiles().value(file));
    QMap<QString, QByteArray> found = filesBelow(run.installer.installFolder());
    // Written beside the installer and by the finished install, not released.
    found.remove(QStringLiteral("log.txt"));
    found.remove(QStringLiteral("temp/config/config.ini"));
    QCOMPARE(found.keys(), expected.keys());
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        QVERIFY2(found.value(it.key()) == it.value(), qPrintable(it.key()));
}

void TestFaults::startDiskRuns()
{
    if (!diskRuns.empty())
        return;
    const QString awkward = QStringLiteral(" 安装 'single' \"double\"");
    for (auto it = diskCases.cbegin(); it != diskCases.cend(); ++it) {
        const DiskCase &setup = it.value();
        const QString suffix = setup.awkwardFolders ? awkward : QString();
        auto &run = *(diskRuns[it.key()] = std::make_unique<DiskRun>(QStringLiteral("payload") + suffix,
                                                                     QStringLiteral("data") + suffix));
        if (setup.needsRefusals && !permissionsAreEnforced())
            continue;
        if (!setup.setUp(run) || !run.server.start()) {
            run.problem = QStringLiteral("the payload, the target or the stand-in could not be set up");
            continue;
        }
        run.installer.environment.insert(QStringLiteral("LUMENRIDER_DOMAIN_LIST_URL"), run.server.domainListUrl());
        if (!waitForStartSlot())
            run.problem = startStuck;
        else if (run.installer.start({QStringLiteral("--alog"), QStringLiteral("--goinstall")}, run.wrapper))
            launched << &run.installer;
        else
            run.problem = QStringLiteral("the installer did not start");
    }
}

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
