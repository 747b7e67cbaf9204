#pragma once

// The installer's client for the vendor's HTTP API: signed form posts, the
// reply envelope, failure reports, domain discovery, the init call, the
// install and error reports, and file download.

#include <QByteArray>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

class QHttpMultiPart;
class QIODevice;
class QJsonObject;
class QNetworkAccessManager;


class Network : public QObject
{
    Q_OBJECT
public:
    Network();
    ~Network() override;

signals:
    void qmlSign_QString_agreementurl(QString url);

public:
    Q_INVOKABLE void httpGetRequest(QString interface);
    Q_INVOKABLE void httpRequest(QString interface, QByteArray post_data);
    Q_INVOKABLE void httpRequestFormdate(QString interface, QHttpMultiPart *post_data);
    Q_INVOKABLE void replyTimeOut();
    Q_INVOKABLE void replyFinished(QNetworkReply *reply);
    Q_INVOKABLE void jsonReply(QByteArray result, QNetworkReply *reply);
    Q_INVOKABLE bool addFormdata(QHttpMultiPart *post_data, QString key, QByteArray value);
    Q_INVOKABLE void httpRequestByte(QUrl imageurl, QString imagepath);
    Q_INVOKABLE void byteReadyRead();
    Q_INVOKABLE void byteDownloadFinish(bool success, int index);
    Q_INVOKABLE void getDomain();
    Q_INVOKABLE void initRequest();
    Q_INVOKABLE void reportinstall();
    Q_INVOKABLE void sendReportError(QString code, QString msg);

    // Waits, at most timeoutMs, until the latest request made through this
    // object has been answered; for a process that is about to end.
    void waitForCurrentReply(int timeoutMs);
    // Requests of this object go out from its own thread, which runs events
    // (the crash reporter's), not through the main thread.
    void sendFromOwnThread();

private:
    void signForm(QHttpMultiPart *form);
    void handleEnvelope(const QJsonObject &envelope, const QString &url);
    void applyInitReply(const QJsonObject &data);
    static void sendFromApplicationThread(const QString &interface, QHttpMultiPart *form);

    QIODevice *downloadFile = nullptr;
    QNetworkAccessManager *manager = nullptr;
    QNetworkRequest request;
    // Guarded: the reply may be gone by the time replyTimeOut names it.
    QPointer<QNetworkReply> currentReply;
    QNetworkReply *downloadReply = nullptr;
    QHttpMultiPart *currentForm = nullptr;
    bool ownThreadSends = false;
};

Q_DECLARE_METATYPE(QNetworkReply *)
