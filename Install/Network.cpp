#include "Network.h"

#include "Info.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDebug>
#include <QEventLoop>
#include <QHttpMultiPart>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QMutex>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QThread>
#include <QTimer>

namespace {

// Transport failures reported in a row before the installer stops reporting them.
const int maxReplyFailures = 3;
// How long a request waits for the vendor before it gives up (start-up goes
// on without the API bases after a domain list that never comes), and the
// most of a reply it reads: the domain list and the answers to the calls
// are small, so a longer body is no answer of the vendor's.
const int requestTimeoutMs = 15000;
const qint64 maxReplyBytes = qint64(1) << 20;

// replyFailureCount is shared by every Network on every thread.
QMutex failureCountMutex;
// The "lrider" channel's oem value is written to the shared oemId by
// whichever thread signs first.
QMutex oemMutex;

// Whether a reply's address lies under a base the domain list wrote. The
// reply names its address in QUrl's form (scheme and host in lower case,
// escapes resolved), so the base is put in that form too; an empty base
// lies in every address.
bool addressUnder(const QString &url, const QString &base)
{
    return url.contains(base.isEmpty() ? base : QUrl(base, QUrl::TolerantMode).toString());
}

enum class FailureAction { Report, LogOnly, GiveUp };

// Decides, and counts, a transport failure in one step, so two threads
// can't both take the last report.
FailureAction takeFailure(const QString &url)
{
    QMutexLocker lock(&failureCountMutex);
    if (replyFailureCount >= maxReplyFailures)
        return FailureAction::GiveUp;
    // A failed report is not reported again (an empty base is in every URL).
    if (addressUnder(url, logApiBase))
        return FailureAction::LogOnly;
    ++replyFailureCount;
    return FailureAction::Report;
}

void resetFailureCount()
{
    QMutexLocker lock(&failureCountMutex);
    replyFailureCount = 0;
}

QString oemForRequest()
{
    QMutexLocker lock(&oemMutex);
    if (projectName == QLatin1String("lrider"))
        oemId = QStringLiteral("10013");
    return oemId;
}

// The installer's job threads run without an event loop: a request started
// there would never be sent.
bool needsApplicationThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() != app->thread();
}

// Runs the calling thread's events until the reply has finished, and with
// it the manager's handling of the reply.
void waitForReply(QNetworkReply *reply, int timeoutMs = -1)
{
    if (reply->isFinished())
        return;
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer limit;
    if (timeoutMs >= 0) {
        limit.setSingleShot(true);
        // The aborted reply finishes with OperationCanceledError and takes the failure path.
        QObject::connect(&limit, &QTimer::timeout, reply, &QNetworkReply::abort);
        limit.start(timeoutMs);
    }
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

// A reply that takes too long, or runs on past what any answer holds, is
// aborted; it finishes with OperationCanceledError and takes the failure
// path. Its timer and its size check go with it.
void limitReply(QNetworkReply *reply)
{
    auto *limit = new QTimer(reply);
    limit->setSingleShot(true);
    QObject::connect(limit, &QTimer::timeout, reply, [reply] {
        if (!reply->isRunning())
            return;
        qWarning() << "<接口操作>:请求超时,url:" << reply->url();
        reply->abort();
    });
    limit->start(requestTimeoutMs);
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64) {
        if (received > maxReplyBytes && reply->isRunning()) {
            qWarning() << "<接口操作>:返回内容过长,接口:" << reply->url() << "字节数:" << received;
            reply->abort();
        }
    });
}

void applyDomainList(const QJsonObject &data)
{
    gameApiBase = data.value(QStringLiteral("game")).toString() + QLatin1Char('/');
    logApiBase = data.value(QStringLiteral("log")).toString() + QLatin1Char('/');
}

} // namespace

Network::Network() : manager(new QNetworkAccessManager)
{
    qRegisterMetaType<QNetworkReply *>();
    // The manager is never released: a report outlives the short-lived
    // object that made it.
    connect(manager, &QNetworkAccessManager::finished, this, &Network::replyFinished);
}

Network::~Network() = default;

void Network::httpGetRequest(QString interface)
{
    qInfo() << "<接口操作>:请求接口:" << interface;
    QNetworkReply *reply = manager->get(QNetworkRequest(QUrl(interface, QUrl::TolerantMode)));
    currentReply = reply;
    limitReply(reply);
    waitForReply(reply);
}

void Network::httpRequest(QString interface, QByteArray post_data)
{
    qInfo() << "<接口操作>:请求接口:" << interface;
    request.setUrl(QUrl(interface, QUrl::TolerantMode));
    currentReply = manager->post(request, post_data);
    limitReply(currentReply);
}

void Network::httpRequestFormdate(QString interface, QHttpMultiPart *post_data)
{
    if (!post_data)
        return;
    if (!ownThreadSends && needsApplicationThread()) {
        sendFromApplicationThread(interface, post_data);
        return;
    }
    signForm(post_data);
    currentReply = manager->post(QNetworkRequest(QUrl(interface, QUrl::TolerantMode)), post_data);
    post_data->setParent(currentReply);
    limitReply(currentReply);
}

// A Network of the main thread's own sends the form there and goes once
// its reply is handled.
void Network::sendFromApplicationThread(const QString &interface, QHttpMultiPart *form)
{
    QObject *app = QCoreApplication::instance();
    form->moveToThread(app->thread());
    QMetaObject::invokeMethod(
        app,
        [interface, form] {
            auto *relay = new Network;
            connect(relay->manager, &QNetworkAccessManager::finished, relay, &QObject::deleteLater);
            relay->httpRequestFormdate(interface, form);
        },
        Qt::QueuedConnection);
}

void Network::signForm(QHttpMultiPart *form)
{
    const QString timestamp = QString::number(qint32(QDateTime::currentSecsSinceEpoch()));
    const QString oem = oemForRequest();
    const QString uid = QString::number(userId);
    addFormdata(form, QStringLiteral("auth"), projectName.toUtf8());
    addFormdata(form, QStringLiteral("version"), versionCode.toUtf8());
    addFormdata(form, QStringLiteral("unionid"), machineId.toUtf8());
    addFormdata(form, QStringLiteral("oem"), oem.toUtf8());
    addFormdata(form, QStringLiteral("timestamp"), timestamp.toUtf8());
    addFormdata(form, QStringLiteral("session"), sessionId.toUtf8());
    addFormdata(form, QStringLiteral("uid"), uid.toUtf8());

    const QString fields = QStringLiteral("auth=") + projectName + QStringLiteral("&oem=") + oem
                           + QStringLiteral("&session=") + sessionId + QStringLiteral("&timestamp=") + timestamp
                           + QStringLiteral("&uid=") + uid + QStringLiteral("&unionid=") + machineId
                           + QStringLiteral("&version=") + versionCode;
    // The log files travel with bug reports: the key stays out of them.
    qDebug() << "sign:" << fields + QString(signKey.size(), QLatin1Char('*'));
    const QByteArray sign = QCryptographicHash::hash((fields + signKey).toUtf8(), QCryptographicHash::Md5).toHex();
    addFormdata(form, QStringLiteral("sign"), sign);
}

void Network::sendFromOwnThread()
{
    ownThreadSends = true;
}

void Network::waitForCurrentReply(int timeoutMs)
{
    if (currentReply)
        waitForReply(currentReply, timeoutMs);
}

void Network::replyTimeOut()
{
    qWarning() << "<接口操作>:请求超时,url:" << (currentReply ? currentReply->url() : QUrl());
}

void Network::replyFinished(QNetworkReply *reply)
{
    if (reply->error() == QNetworkReply::NoError) {
        resetFailureCount();
        jsonReply(reply->readAll(), reply);
        return;
    }
    // A failed reply goes too, and its time limit with it.
    reply->deleteLater();
    const QString url = reply->url().toString();
    switch (takeFailure(url)) {
    case FailureAction::GiveUp:
        qWarning() << "本地网络环境出现问题！";
        return;
    case FailureAction::Report:
        sendReportError(QStringLiteral("2000"), QStringLiteral("<接口操作>:接口出错,接口:") + url
                                                    + QStringLiteral("状态码:") + QString::number(reply->error()));
        break;
    case FailureAction::LogOnly:
        break;
    }
    qWarning() << "<接口操作>:请求接口失败:" << reply->error() << ",接口:" << url;
}

void Network::jsonReply(QByteArray result, QNetworkReply *reply)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(result, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        qWarning() << "<接口请求>:json解析失败:" << parseError.errorString() << ",接口:" << reply->url()
                   << ",json:" << document.object();
    } else {
        if (debugMode)
            qDebug() << "<接口操作>:接口:" << reply->url() << "返回值:" << document.object();
        if (document.isObject())
            handleEnvelope(document.object(), reply->url().toString());
    }
    reply->deleteLater();
}

void Network::handleEnvelope(const QJsonObject &envelope, const QString &url)
{
    const int code = envelope.value(QStringLiteral("code")).toInt(0);
    if (code != 0) {
        const QString msg = envelope.value(QStringLiteral("msg")).toString();
        // A rejected error report is not reported again: a server that
        // rejects everything would otherwise never hear the end of it.
        if (!addressUnder(url, logApiBase + logUploadPath))
            sendReportError(QStringLiteral("2002"), QStringLiteral("<接口操作>:接口拒绝,接口:") + url
                                                        + QStringLiteral(",状态码:") + QString::number(code)
                                                        + QStringLiteral(",消息内容:") + msg);
        qWarning() << "<接口操作>:接口拒绝,<interface:" << url << "><code:" << code << "><msg:" << msg << ">";
        return;
    }
    const QJsonValue data = envelope.value(QStringLiteral("data"));
    if (!data.isObject())
        return;
    if (addressUnder(url, domainListUrl))
        applyDomainList(data.toObject());
    else if (url.contains(initPath))
        applyInitReply(data.toObject());
}

void Network::applyInitReply(const QJsonObject &data)
{
    const QString agreement = data.value(QStringLiteral("register_agreement")).toString();
    qInfo() << "url:" << agreement;
    emit qmlSign_QString_agreementurl(agreement);
}

bool Network::addFormdata(QHttpMultiPart *post_data, QString key, QByteArray value)
{
    if (!post_data)
        return false;
    QHttpPart part;
    part.setRawHeader("Content-Disposition", "form-data; name=\"" + key.toUtf8() + '"');
    part.setBody(value);
    post_data->append(part);
    return true;
}

void Network::httpRequestByte(QUrl imageurl, QString imagepath)
{
    // A manager of its own: the download bypasses the reply handling above.
    auto *downloader = new QNetworkAccessManager;
    QNetworkReply *reply = downloader->get(QNetworkRequest(imageurl));
    qInfo() << "<文件下载>:开始下载文件,path:" << reply->url();
    waitForReply(reply);
    downloadData = reply->readAll();
    downloadPath = imagepath;
    downloader->deleteLater();
}

void Network::byteReadyRead()
{
    if (!downloadReply)
        return;
    if (!downloadFile) {
        qWarning() << "<type:download error><interface:" << downloadReply->url();
        return;
    }
    if (debugMode)
        qDebug() << "<文件下载>:" << downloadReply->bytesAvailable();
    downloadFile->write(downloadReply->readAll());
}

void Network::byteDownloadFinish(bool success, int index)
{
    if (success)
        qInfo() << "<文件下载>:下载文件成功！path:" << downloadPath;
    else
        qWarning() << "<文件下载>:文件下载失败！path:" << downloadPath;
    qInfo() << "<线程操作>:关闭,线程ID：" << index;
}

void Network::getDomain()
{
    httpGetRequest(domainListUrl);
}

void Network::initRequest()
{
    currentForm = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    httpRequestFormdate(gameApiBase + initPath, currentForm);
}

void Network::reportinstall()
{
    qDebug() << "上报安装";
    currentForm = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    httpRequestFormdate(logApiBase + installReportPath, currentForm);
}

void Network::sendReportError(QString code, QString msg)
{
    const QString url = logApiBase + logUploadPath;
    currentForm = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    addFormdata(currentForm, QStringLiteral("code"), code.toUtf8());
    addFormdata(currentForm, QStringLiteral("msg"), msg.toUtf8());
    httpRequestFormdate(url, currentForm);
}
