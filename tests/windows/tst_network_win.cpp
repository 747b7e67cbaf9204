// The vendor API client of the Windows build, under Wine, against the
// vendor-API stand-in on loopback: domain discovery, the signed init call
// and reports (the stand-in checks every signature), a report from a job
// thread without an event loop, and HTTPS through Schannel: a certificate
// nobody trusts is refused, a trusted one is taken.

#include "Info.h"
#include "Network.h"
#include "WindowsTestSupport.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QThread>
#include <QtTest>

namespace {

bool signatureHeld(const QJsonValue &record)
{
    return record.toObject().value(QStringLiteral("sign_valid")).toBool();
}

// A job thread as the installer runs them: no event loop of its own.
class ReportThread : public QThread
{
protected:
    void run() override
    {
        Network network;
        network.sendReportError(QStringLiteral("4001"), QStringLiteral("安装程序进行文件copy时失败,释放路径:C:/流光"));
    }
};

} // namespace

class TestNetworkWin : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void discoveryAndSignedCalls();
    void reportFromAJobThread();
    void untrustedCertificateIsRefused();
    void trustedCertificateIsTaken();
};

void TestNetworkWin::init()
{
    gameApiBase.clear();
    logApiBase.clear();
    replyFailureCount = 0;
    machineId = QStringLiteral("0123456789abcdef0123456789abcdef");
}

void TestNetworkWin::discoveryAndSignedCalls()
{
    const TestApi api;
    QVERIFY(api.isValid());
    const int seen = api.lastSeq();
    domainListUrl = api.domainListUrl();
    Network network;
    network.getDomain();
    QCOMPARE(gameApiBase, api.baseUrl() + QStringLiteral("/game/"));
    QCOMPARE(logApiBase, api.baseUrl() + QStringLiteral("/log/"));

    QSignalSpy agreement(&network, &Network::qmlSign_QString_agreementurl);
    network.initRequest();
    QVERIFY(agreement.wait(60000));
    QCOMPARE(agreement.first().first().toString(), api.baseUrl() + QStringLiteral("/agreement.html"));

    network.reportinstall();
    network.sendReportError(QStringLiteral("4003"), QStringLiteral("二次安装"));
    QJsonArray reports;
    QTRY_COMPARE_WITH_TIMEOUT((reports = api.records(QStringLiteral("/log/api/client/up_log"), seen)).size(), 1,
                              60000);
    QCOMPARE(TestApi::field(reports.first(), QStringLiteral("code")), QStringLiteral("4003"));
    QCOMPARE(TestApi::field(reports.first(), QStringLiteral("msg")), QStringLiteral("二次安装"));
    const QJsonArray init = api.records(QStringLiteral("/game/api/index/init"), seen);
    const QJsonArray install = api.records(QStringLiteral("/log/api/statistic/install"), seen);
    QCOMPARE(init.size(), 1);
    QCOMPARE(install.size(), 1);
    for (const QJsonValue &record : {init.first(), install.first(), reports.first()})
        QVERIFY(signatureHeld(record));
    QCOMPARE(TestApi::field(install.first(), QStringLiteral("unionid")), machineId);
}

void TestNetworkWin::reportFromAJobThread()
{
    const TestApi api;
    const int seen = api.lastSeq();
    logApiBase = api.baseUrl() + QStringLiteral("/log/");
    ReportThread job;
    job.start();
    QVERIFY(job.wait(30000));
    QJsonArray reports;
    QTRY_COMPARE_WITH_TIMEOUT((reports = api.records(QStringLiteral("/log/api/client/up_log"), seen)).size(), 1,
                              60000);
    QCOMPARE(TestApi::field(reports.first(), QStringLiteral("code")), QStringLiteral("4001"));
    QVERIFY(signatureHeld(reports.first()));
}

void TestNetworkWin::untrustedCertificateIsRefused()
{
    const TestApi api("LUMENRIDER_TEST_API_TLS");
    QVERIFY(api.baseUrl().startsWith(QLatin1String("https://")));
    domainListUrl = api.domainListUrl();
    Network network;
    network.getDomain();
    QVERIFY(gameApiBase.isEmpty());
    QVERIFY(logApiBase.isEmpty());
}

void TestNetworkWin::trustedCertificateIsTaken()
{
    const QString certificate = windowsPathOf(qEnvironmentVariable("LUMENRIDER_TEST_API_CERT"));
    const QList<QSslCertificate> trusted = QSslCertificate::fromPath(certificate);
    QCOMPARE(trusted.size(), 1);
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setCaCertificates(configuration.caCertificates() + trusted);
    QSslConfiguration::setDefaultConfiguration(configuration);

    const TestApi api("LUMENRIDER_TEST_API_TLS");
    domainListUrl = api.domainListUrl();
    Network network;
    network.getDomain();
    QCOMPARE(gameApiBase, api.baseUrl() + QStringLiteral("/game/"));
}

QTEST_GUILESS_MAIN(TestNetworkWin)

#include "tst_network_win.moc"
