// The vendor API client against the vendor-API stand-in on loopback:
// signed form posts, the reply envelope, failure reports and their limits,
// domain discovery with its time-out, the init reply, reports from job
// threads, HTTPS, and the download operations.

#include "Info.h"
#include "Network.h"
#include "TestSupport.h"
#include "VendorApiServer.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QThread>
#include <QtTest>

#include <memory>

namespace {

const QString errorReportRoute = QStringLiteral("/log/api/client/up_log");
const QString installReportRoute = QStringLiteral("/log/api/statistic/install");
const QString initCallRoute = QStringLiteral("/game/api/index/init");
const QString domainListRoute = QStringLiteral("/init/domain2.txt");
const QStringList commonFields = {"auth", "version", "unionid", "oem", "timestamp", "session", "uid", "sign"};

QString field(const QJsonValue &record, const char *name)
{
    return VendorApiServer::field(record.toObject(), QLatin1String(name));
}

QStringList fieldNames(const QJsonValue &record)
{
    QStringList names;
    for (const QJsonValue &part : record.toObject().value(QStringLiteral("fields")).toArray())
        names << part.toObject().value(QStringLiteral("name")).toString();
    return names;
}

QStringList fieldValues(const QJsonArray &records, const char *name)
{
    QStringList values;
    for (const QJsonValue &record : records)
        values << field(record, name);
    return values;
}

// The signature as the vendor computes it, from the fields the request carried.
QString vendorSignature(const QJsonValue &record)
{
    const QString text = "auth=" + field(record, "auth") + "&oem=" + field(record, "oem") + "&session="
                         + field(record, "session") + "&timestamp=" + field(record, "timestamp")
                         + "&uid=" + field(record, "uid") + "&unionid=" + field(record, "unionid")
                         + "&version=" + field(record, "version") + QStringLiteral(TEST_SIGN_KEY);
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

bool signatureHolds(const QJsonValue &record)
{
    return record.toObject().value(QStringLiteral("sign_valid")) == QJsonValue(true)
           && field(record, "sign") == vendorSignature(record);
}

// A job thread as the installer runs them: run() without an event loop,
// one short-lived Network for the report.
class ReportThread : public QThread
{
public:
    ReportThread(const QString &code, const QString &msg) : code(code), msg(msg) {}

protected:
    void run() override
    {
        auto *network = new Network;
        network->sendReportError(code, msg);
        delete network;
    }

private:
    QString code;
    QString msg;
};

} // namespace

class TestNetwork : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void signedPosts_data();
    void signedPosts();
    void channelValuesAreSignedAsSent_data();
    void channelValuesAreSignedAsSent();
    void signLineHidesTheKey();
    void missingFormIsRefused();

    void reportingStopsAfterThreeFailuresInARow();
    void nothingIsReportedWithoutLogBase();
    void rejections_data();
    void rejections();
    void basesAreComparedAsAddresses_data();
    void basesAreComparedAsAddresses();
    void callsAreBounded_data();
    void callsAreBounded();
    void domainListOfEndlessBody();
    void replyEnvelope_data();
    void replyEnvelope();
    void replyHandedOverThroughMetaObject();

    void domainList_data();
    void domainList();
    void domainListOverHttps();
    void initReply_data();
    void initReply();

    void reportsOutliveTheirSender_data();
    void reportsOutliveTheirSender();
    void lriderRuleHoldsForEveryJobThread();

    void timeOutNamesNoReleasedReply();
    void download_data();
    void download();
    void downloadFinishLines_data();
    void downloadFinishLines();
    void byteReadyReadOnFreshObject();

private:
    void useServerBases();
    bool waitForParsedReply(const LogCapture &log, const QString &path, int timeoutMs = 5000);

    ScopedTestEnvironment environment;
    std::unique_ptr<VendorApiServer> server;
    QString base;
};

void TestNetwork::init()
{
    server = std::make_unique<VendorApiServer>();
    QVERIFY(server->start());
    base = server->baseUrl();
    domainListUrl = server->domainListUrl();
    gameApiBase.clear();
    logApiBase.clear();
    projectName = QStringLiteral("lumenrider");
    oemId = QStringLiteral("100");
    machineId = QStringLiteral("0123456789abcdef0123456789abcdef");
    debugMode = false;
    replyFailureCount = 0;
    downloadData.clear();
    downloadPath.clear();
}

void TestNetwork::cleanup()
{
    server.reset();
}

void TestNetwork::useServerBases()
{
    gameApiBase = base + QStringLiteral("/game/");
    logApiBase = base + QStringLiteral("/log/");
}

// With debugMode set, every reply that parses is dumped; a parse failure
// is warned about. Either way its handling has finished once the line is there.
bool TestNetwork::waitForParsedReply(const LogCapture &log, const QString &path, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        for (const QString &message : log.messages(QtDebugMsg) + log.messages(QtWarningMsg))
            if ((message.startsWith("<接口操作>:接口:") || message.startsWith("<接口请求>:json解析失败:"))
                && message.contains(base + path))
                return true;
        QTest::qWait(20);
    }
    return false;
}

void TestNetwork::signedPosts_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("msg");
    QTest::addColumn<QStringList>("names");

    QTest::newRow("init call") << initCallRoute << QString() << QString() << commonFields;
    QTest::newRow("install report") << installReportRoute << QString() << QString() << commonFields;
    QTest::newRow("error report") << errorReportRoute << "4003"
                                  << "二次安装" << QStringList{"code", "msg"} + commonFields;
    QTest::newRow("error report, empty text") << errorReportRoute << "4001" << ""
                                              << QStringList{"code", "msg"} + commonFields;
}

void TestNetwork::signedPosts()
{
    QFETCH(QString, path);
    QFETCH(QString, code);
    QFETCH(QString, msg);
    QFETCH(QStringList, names);
    useServerBases();

    const qint64 before = QDateTime::currentSecsSinceEpoch();
    Network network;
    if (path == initCallRoute)
        network.initRequest();
    else if (path == installReportRoute)
        network.reportinstall();
    else
        network.sendReportError(code, msg);
    QTRY_COMPARE(server->records(path).size(), 1);
    const qint64 after = QDateTime::currentSecsSinceEpoch();

    const QJsonObject record = server->records(path).at(0).toObject();
    QCOMPARE(record.value("method").toString(), QStringLiteral("POST"));
    QCOMPARE(fieldNames(record), names);
    for (const QJsonValue &part : record.value("fields").toArray()) {
        const QString header = QStringLiteral("Content-Disposition: form-data; name=\"%1\"")
                                   .arg(part.toObject().value("name").toString());
        QCOMPARE(part.toObject().value("headers").toArray(), QJsonArray{header});
    }
    QVERIFY(signatureHolds(record));
    QVERIFY(QRegularExpression("^[0-9a-f]{32}$").match(field(record, "sign")).hasMatch());
    const qint64 timestamp = field(record, "timestamp").toLongLong();
    QVERIFY(timestamp >= before && timestamp <= after);
    QCOMPARE(field(record, "auth"), QStringLiteral("lumenrider"));
    QCOMPARE(field(record, "version"), QStringLiteral("169"));
    QCOMPARE(field(record, "unionid"), machineId);
    QCOMPARE(field(record, "oem"), QStringLiteral("100"));
    QCOMPARE(field(record, "session"), QStringLiteral("0"));
    QCOMPARE(field(record, "uid"), QStringLiteral("0"));
    if (!code.isNull()) {
        QCOMPARE(field(record, "code"), code);
        QCOMPARE(field(record, "msg"), msg);
    }
}

void TestNetwork::channelValuesAreSignedAsSent_data()
{
    QTest::addColumn<QString>("project");
    QTest::addColumn<QString>("expectedOem");

    QTest::newRow("lrider forces its oem") << "lrider"
                                           << "10013";
    QTest::newRow("the word in capitals does not") << "LRIDER"
                                                   << "100";
    QTest::newRow("& and = are signed unchanged") << "a&oem=1=b"
                                                  << "100";
}

void TestNetwork::channelValuesAreSignedAsSent()
{
    QFETCH(QString, project);
    QFETCH(QString, expectedOem);
    useServerBases();
    projectName = project;

    Network network;
    network.reportinstall();
    network.reportinstall();
    QTRY_COMPARE(server->records(installReportRoute).size(), 2);

    for (const QJsonValue &record : server->records(installReportRoute)) {
        QCOMPARE(field(record, "auth"), project);
        QCOMPARE(field(record, "oem"), expectedOem);
        QVERIFY(signatureHolds(record));
    }
    QCOMPARE(oemId, expectedOem);
}

void TestNetwork::signLineHidesTheKey()
{
    useServerBases();
    LogCapture log;
    Network network;
    network.reportinstall();
    QTRY_COMPARE(server->records(installReportRoute).size(), 1);

    QStringList signLines;
    for (const QString &message : log.messages(QtDebugMsg))
        if (message.startsWith("sign:"))
            signLines << message;
    QCOMPARE(signLines.size(), 1);
    const QString key = QStringLiteral(TEST_SIGN_KEY);
    QVERIFY2(signLines.at(0).endsWith("&version=169" + QString(key.size(), '*') + '"'), qPrintable(signLines.at(0)));
    for (const auto &entry : log.entries())
        QVERIFY2(!entry.second.contains(key), qPrintable(entry.second));
    // The signature still covers the real key.
    QVERIFY(signatureHolds(server->records(installReportRoute).at(0)));
}

// A page can hand over nothing but a null form.
void TestNetwork::missingFormIsRefused()
{
    useServerBases();
    Network network;
    QVERIFY(!network.addFormdata(nullptr, "code", "4001"));
    network.httpRequestFormdate(base + errorReportRoute, nullptr);
    network.reportinstall();
    QTRY_COMPARE(server->records().size(), 1);
    QCOMPARE(server->records(installReportRoute).size(), 1);
}

void TestNetwork::reportingStopsAfterThreeFailuresInARow()
{
    useServerBases();
    // The reports' own replies fail inside the log base: they neither count
    // nor re-arm, so only the GETs below move the count.
    QVERIFY(server->setFault(errorReportRoute, "status:500"));
    LogCapture log;
    Network network;
    const auto missing = [this](int n) { return base + "/missing/" + QString::number(n); };

    for (int n = 1; n <= 3; ++n)
        network.httpGetRequest(missing(n));
    QCOMPARE(replyFailureCount, 3);
    QTRY_COMPARE(server->errorReports("2000").size(), 3);

    log.clear();
    network.httpGetRequest(missing(4));
    QVERIFY(log.messages(QtWarningMsg).contains("本地网络环境出现问题！"));
    for (const QString &warning : log.messages(QtWarningMsg))
        QVERIFY2(!warning.contains(missing(4)), qPrintable(warning));
    QCOMPARE(replyFailureCount, 3);

    // Any reply without a network error re-arms, even one that isn't JSON.
    network.httpGetRequest(base + "/agreement.html");
    QCOMPARE(replyFailureCount, 0);
    network.httpGetRequest(missing(5));
    QTRY_COMPARE(server->errorReports("2000").size(), 4);

    QStringList expected;
    for (int n : {1, 2, 3, 5})
        expected << "<接口操作>:接口出错,接口:" + missing(n) + "状态码:203";
    QStringList sent = fieldValues(server->errorReports("2000"), "msg");
    sent.sort();
    QCOMPARE(sent, expected);
}

void TestNetwork::nothingIsReportedWithoutLogBase()
{
    LogCapture log;
    Network network;
    for (int n = 1; n <= 4; ++n) {
        const QString url = base + "/missing/" + QString::number(n);
        network.httpGetRequest(url);
        // The GET returns only once its failure has been handled.
        QVERIFY(log.contains("<接口操作>:请求接口失败: QNetworkReply::ContentNotFoundError ,接口: \"" + url + '"'));
    }
    network.sendReportError("4001", "no host yet");
    QTRY_VERIFY(log.contains(",接口: \"api/client/up_log\""));

    QCOMPARE(replyFailureCount, 0);
    QCOMPARE(server->records().size(), 4);
    QCOMPARE(server->records(errorReportRoute).size(), 0);
}

void TestNetwork::rejections_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("reported");

    QTest::newRow("install report") << installReportRoute << true;
    QTest::newRow("init call") << initCallRoute << true;
    QTest::newRow("error report") << errorReportRoute << false;
}

void TestNetwork::rejections()
{
    QFETCH(QString, path);
    QFETCH(bool, reported);
    useServerBases();
    QVERIFY(server->setFault(path, "reject:10002"));
    LogCapture log;
    Network network;

    if (path == installReportRoute)
        network.reportinstall();
    else if (path == initCallRoute)
        network.initRequest();
    else
        network.sendReportError("4002", "启动失败");
    const QString warning =
        "<接口操作>:接口拒绝,<interface: \"" + base + path + "\" ><code: 10002 ><msg: \"rejected\" >";
    QTRY_VERIFY(log.contains(warning));

    // A "2002" report is signed before the rejection is logged.
    QCOMPARE(log.count("sign:"), reported ? 2 : 1);
    if (reported) {
        QTRY_COMPARE(server->errorReports("2002").size(), 1);
        const QJsonValue report = server->errorReports("2002").at(0);
        QCOMPARE(field(report, "msg"), "<接口操作>:接口拒绝,接口:" + base + path + ",状态码:10002,消息内容:rejected");
        QVERIFY(signatureHolds(report));
    } else {
        QCOMPARE(server->errorReports("2002").size(), 0);
    }
}

// The domain list may write its hosts in capitals; the reply's address
// comes back in QUrl's form, host in lower case. A failed or rejected error
// report is still never reported again, and the domain list's reply is
// still known for what it is.
void TestNetwork::basesAreComparedAsAddresses_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("logged");
    QTest::newRow("error report rejected") << "reject:10002" << "<接口操作>:接口拒绝";
    QTest::newRow("error report fails") << "status:500" << "<接口操作>:请求接口失败:";
}

void TestNetwork::basesAreComparedAsAddresses()
{
    QFETCH(QString, fault);
    QFETCH(QString, logged);
    const QString shouting = QStringLiteral("http://LocalHost:%1").arg(server->port());
    QVERIFY(server->setFault(domainListRoute, "body:{\"code\":0,\"data\":{\"game\":\"" + shouting
                                                  + "/game\",\"log\":\"" + shouting + "/log\"}}"));
    domainListUrl = shouting + domainListRoute;
    Network network;
    network.getDomain();
    QCOMPARE(logApiBase, shouting + QStringLiteral("/log/"));

    QVERIFY(server->setFault(errorReportRoute, fault));
    LogCapture log;
    network.sendReportError("4001", "安装程序进行文件copy时失败");
    QTRY_VERIFY(log.contains(logged));
    // Time for a report about the report to go out, were one made.
    QTest::qWait(1000);
    QCOMPARE(server->errorReports().size(), 1);
    QCOMPARE(replyFailureCount, 0);
}

// The init call and the reports end within the request bound, and no reply
// is read past 1 MiB: both take the failure path.
void TestNetwork::callsAreBounded_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("why");
    QTest::newRow("endless body") << "endless" << "<接口操作>:返回内容过长,接口:";
    QTest::newRow("no answer") << "stall:60000" << "<接口操作>:请求超时,url:";
}

void TestNetwork::callsAreBounded()
{
    QFETCH(QString, fault);
    QFETCH(QString, why);
    useServerBases();
    QVERIFY(server->setFault(initCallRoute, fault));
    LogCapture log;
    Network network;
    network.initRequest();
    QTRY_COMPARE_WITH_TIMEOUT(server->errorReports("2000").size(), 1, 40000);
    QCOMPARE(log.count(why), 1);
    QCOMPARE(field(server->errorReports("2000").at(0), "msg"),
             "<接口操作>:接口出错,接口:" + base + initCallRoute + "状态码:5");
}

void TestNetwork::domainListOfEndlessBody()
{
    QVERIFY(server->setFault(domainListRoute, "endless"));
    LogCapture log;
    Network network;
    network.getDomain();
    QCOMPARE(log.count("<接口操作>:返回内容过长,接口:"), 1);
    QVERIFY(gameApiBase.isEmpty());
}

void TestNetwork::replyEnvelope_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("rejected");
    QTest::addColumn<bool>("unparsed");

    QTest::newRow("code 0") << R"(body:{"code":0})" << false << false;
    QTest::newRow("no code") << R"(body:{"msg":"x"})" << false << false;
    QTest::newRow("code as a string") << R"(body:{"code":"7","msg":"x"})" << false << false;
    QTest::newRow("code not integral") << R"(body:{"code":1.5,"msg":"x"})" << false << false;
    QTest::newRow("code as a number") << R"(body:{"code":7,"msg":"x"})" << true << false;
    QTest::newRow("array") << R"(body:[7,"x"])" << false << false;
    QTest::newRow("empty body") << "empty" << false << true;
    QTest::newRow("not JSON") << "notjson" << false << true;
}

// Replies to the install report: besides a rejection, nothing follows from
// them, and they never touch the bases or the agreement address.
void TestNetwork::replyEnvelope()
{
    QFETCH(QString, fault);
    QFETCH(bool, rejected);
    QFETCH(bool, unparsed);
    useServerBases();
    debugMode = true;
    QVERIFY(server->setFault(installReportRoute, fault));
    LogCapture log;
    Network network;
    QSignalSpy agreement(&network, &Network::qmlSign_QString_agreementurl);

    network.reportinstall();
    QVERIFY(waitForParsedReply(log, installReportRoute));

    QCOMPARE(log.contains("<接口操作>:接口拒绝,<interface:"), rejected);
    QCOMPARE(log.contains("<接口请求>:json解析失败:"), unparsed);
    QCOMPARE(log.count("sign:"), rejected ? 2 : 1);
    QCOMPARE(agreement.count(), 0);
    QCOMPARE(gameApiBase, base + "/game/");
    QCOMPARE(logApiBase, base + "/log/");
}

void TestNetwork::replyHandedOverThroughMetaObject()
{
    QNetworkAccessManager fetcher;
    QNetworkReply *reply = fetcher.get(QNetworkRequest(QUrl(server->domainListUrl())));
    QSignalSpy finished(reply, &QNetworkReply::finished);
    QVERIFY(finished.wait(5000));

    Network network;
    QVERIFY(QMetaObject::invokeMethod(&network, "replyFinished", Qt::QueuedConnection,
                                      Q_ARG(QNetworkReply *, reply)));
    QTRY_COMPARE(gameApiBase, base + "/game/");
    QCOMPARE(logApiBase, base + "/log/");
}

void TestNetwork::domainList_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("game");
    QTest::addColumn<QString>("log");
    QTest::addColumn<QString>("warning");

    QTest::newRow("served list") << "" << "{base}/game/" << "{base}/log/" << "";
    QTest::newRow("game ending in /") << R"(body:{"code":0,"data":{"game":"{base}/game/","log":"{base}/log"}})"
                                      << "{base}/game//" << "{base}/log/" << "";
    QTest::newRow("no game") << R"(body:{"code":0,"data":{"log":"{base}/log"}})" << "/" << "{base}/log/" << "";
    QTest::newRow("no code") << R"(body:{"data":{"game":"{base}/game","log":"{base}/log"}})" << "{base}/game/"
                             << "{base}/log/" << "";
    QTest::newRow("data not an object") << R"(body:{"code":0,"data":"{base}"})" << "" << "" << "";
    QTest::newRow("rejected") << "reject:5" << "" << "" << "<接口操作>:接口拒绝";
    QTest::newRow("not JSON") << "notjson" << "" << "" << "<接口请求>:json解析失败:";
    QTest::newRow("empty body") << "empty" << "" << "" << "<接口请求>:json解析失败:";
    QTest::newRow("HTTP error") << "status:500" << "" << "" << "QNetworkReply::InternalServerError";
    QTest::newRow("connection dropped") << "drop" << "" << "" << "QNetworkReply::RemoteHostClosedError";
    // Waits out the 15 s bound of the blocking GET.
    QTest::newRow("stalled server") << "stall:30000" << "" << "" << "QNetworkReply::OperationCanceledError";
}

void TestNetwork::domainList()
{
    QFETCH(QString, fault);
    QFETCH(QString, game);
    QFETCH(QString, log);
    QFETCH(QString, warning);
    if (!fault.isEmpty())
        QVERIFY(server->setFault(domainListRoute, fault));
    LogCapture capture;

    Network network;
    network.getDomain();

    QCOMPARE(gameApiBase, game.replace("{base}", base));
    QCOMPARE(logApiBase, log.replace("{base}", base));
    // Qt repeats a GET once when the connection closes without an answer.
    QVERIFY(!server->records(domainListRoute).isEmpty());
    if (warning.isEmpty())
        QVERIFY(capture.messages(QtWarningMsg).isEmpty());
    else
        QVERIFY(capture.contains(warning));
}

void TestNetwork::domainListOverHttps()
{
    QTemporaryDir dir;
    const QString cert = dir.filePath("cert.pem");
    const QString key = dir.filePath("key.pem");
    QProcess openssl;
    openssl.start("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                              "-nodes", "-keyout", key, "-out", cert, "-days", "1", "-subj", "/CN=127.0.0.1",
                              "-addext", "subjectAltName=IP:127.0.0.1"});
    QVERIFY(openssl.waitForFinished(30000));
    QCOMPARE(openssl.exitCode(), 0);
    VendorApiServer https({"--cert", cert, "--cert-key", key});
    QVERIFY(https.start());
    QVERIFY(https.baseUrl().startsWith("https://127.0.0.1:"));

    const QSslConfiguration saved = QSslConfiguration::defaultConfiguration();
    QSslConfiguration trusting = saved;
    trusting.setCaCertificates(saved.caCertificates() + QSslCertificate::fromPath(cert));
    QSslConfiguration::setDefaultConfiguration(trusting);
    domainListUrl = https.domainListUrl();
    Network network;
    network.getDomain();
    QSslConfiguration::setDefaultConfiguration(saved);

    QCOMPARE(gameApiBase, https.baseUrl() + "/game/");
    QCOMPARE(logApiBase, https.baseUrl() + "/log/");
}

void TestNetwork::initReply_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("emitted");
    QTest::addColumn<QString>("address");

    QTest::newRow("agreement address") << "" << true << "{base}/agreement.html";
    QTest::newRow("no address") << R"(body:{"code":0,"data":{}})" << true << "";
    QTest::newRow("address not a string") << R"(body:{"code":0,"data":{"register_agreement":5}})" << true << "";
    QTest::newRow("data not an object") << R"(body:{"code":0,"data":"{base}/agreement.html"})" << false << "";
    QTest::newRow("rejected") << "reject:3" << false << "";
}

void TestNetwork::initReply()
{
    QFETCH(QString, fault);
    QFETCH(bool, emitted);
    QFETCH(QString, address);
    useServerBases();
    debugMode = true;
    if (!fault.isEmpty())
        QVERIFY(server->setFault(initCallRoute, fault));
    LogCapture log;
    Network network;
    QSignalSpy agreement(&network, &Network::qmlSign_QString_agreementurl);

    network.initRequest();
    QVERIFY(waitForParsedReply(log, initCallRoute));

    QCOMPARE(agreement.count(), emitted ? 1 : 0);
    if (emitted) {
        address.replace("{base}", base);
        QCOMPARE(agreement.at(0).at(0).toString(), address);
        QVERIFY(log.messages(QtInfoMsg).contains("url: \"" + address + '"'));
    }
}

void TestNetwork::reportsOutliveTheirSender_data()
{
    QTest::addColumn<bool>("onJobThread");

    QTest::newRow("main thread, sender deleted after the call") << false;
    QTest::newRow("job thread without an event loop") << true;
}

void TestNetwork::reportsOutliveTheirSender()
{
    QFETCH(bool, onJobThread);
    useServerBases();

    if (onJobThread) {
        ReportThread thread("4001", "复制文件失败");
        thread.start();
        QVERIFY(thread.wait(10000));
    } else {
        auto *network = new Network;
        network->sendReportError("4001", "复制文件失败");
        delete network;
    }

    QTRY_COMPARE(server->errorReports("4001").size(), 1);
    const QJsonValue report = server->errorReports("4001").at(0);
    QCOMPARE(field(report, "msg"), QStringLiteral("复制文件失败"));
    QVERIFY(signatureHolds(report));
}

void TestNetwork::lriderRuleHoldsForEveryJobThread()
{
    useServerBases();
    projectName = QStringLiteral("lrider");
    std::vector<std::unique_ptr<ReportThread>> threads;
    for (const char *code : {"3011", "3012", "4000", "4001"})
        threads.push_back(std::make_unique<ReportThread>(code, "x"));
    for (auto &thread : threads)
        thread->start();
    for (auto &thread : threads)
        QVERIFY(thread->wait(10000));

    QTRY_COMPARE(server->errorReports().size(), 4);
    for (const QJsonValue &report : server->errorReports()) {
        QCOMPARE(field(report, "oem"), QStringLiteral("10013"));
        QVERIFY(signatureHolds(report));
    }
    QCOMPARE(oemId, QStringLiteral("10013"));
}

void TestNetwork::timeOutNamesNoReleasedReply()
{
    LogCapture log;
    Network network;
    network.getDomain();
    // The handled reply was scheduled for deletion; let it go.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    network.replyTimeOut();
    QCOMPARE(log.messages(QtWarningMsg), QStringList{"<接口操作>:请求超时,url: QUrl(\"\")"});
}

void TestNetwork::download_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QByteArray>("content");

    QTest::newRow("unreachable") << "http://127.0.0.1:9/setup.bin" << QByteArray();
    QTest::newRow("served") << "{base}/agreement.html" << QByteArray("<title>流光骑士用户协议</title>");
}

void TestNetwork::download()
{
    QFETCH(QString, url);
    QFETCH(QByteArray, content);
    useServerBases();
    url.replace("{base}", base);
    LogCapture log;
    const QString target = environment.path() + "/download/setup.bin";

    Network network;
    network.httpRequestByte(QUrl(url), target);

    QCOMPARE(downloadPath, target);
    if (content.isEmpty())
        QVERIFY(downloadData.isEmpty());
    else
        QVERIFY(downloadData.contains(content));
    QVERIFY(log.messages(QtInfoMsg).contains("<文件下载>:开始下载文件,path: QUrl(\"" + url + "\")"));
    // The download bypasses the reply handling: no failure is counted or reported.
    QCOMPARE(replyFailureCount, 0);
    QVERIFY(!QFile::exists(target));
    QCOMPARE(server->records(errorReportRoute).size(), 0);
}

void TestNetwork::downloadFinishLines_data()
{
    QTest::addColumn<bool>("success");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("outcome");

    QTest::newRow("success") << true << 1 << int(QtInfoMsg) << "<文件下载>:下载文件成功！path: \"/tmp/setup.bin\"";
    QTest::newRow("failure") << false << 2 << int(QtWarningMsg) << "<文件下载>:文件下载失败！path: \"/tmp/setup.bin\"";
}

void TestNetwork::downloadFinishLines()
{
    QFETCH(bool, success);
    QFETCH(int, index);
    QFETCH(int, type);
    QFETCH(QString, outcome);
    downloadPath = QStringLiteral("/tmp/setup.bin");
    LogCapture log;

    Network network;
    network.byteDownloadFinish(success, index);

    const QList<QPair<QtMsgType, QString>> expected = {
        {QtMsgType(type), outcome}, {QtInfoMsg, "<线程操作>:关闭,线程ID： " + QString::number(index)}};
    QCOMPARE(log.entries(), expected);
}

void TestNetwork::byteReadyReadOnFreshObject()
{
    LogCapture log;
    Network network;
    network.byteReadyRead();
    QCOMPARE(log.entries().size(), 0);
}

QTEST_GUILESS_MAIN(TestNetwork)
#include "tst_network.moc"
