#pragma once

// Runs the vendor-API stand-in (tools/vendor-api) as a child process on
// loopback for one test, and reads back what it recorded. Everything here
// blocks on its own, so it works with or without a running event loop.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSslSocket>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

class VendorApiServer
{
public:
    // extraArgs go after the defaults, so "--port N" or "--sign-key K" in
    // them replace the defaults; e.g. {"--fault", "/init/domain2.txt=empty"}.
    explicit VendorApiServer(const QStringList &extraArgs = {}) : extra(extraArgs) {}
    ~VendorApiServer() { stop(); }
    VendorApiServer(const VendorApiServer &) = delete;
    VendorApiServer &operator=(const VendorApiServer &) = delete;

    // Starts the server and waits (at most 10 s) for its listening line.
    bool start()
    {
        stop();
        if (!dir.isValid())
            return false;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.setWorkingDirectory(dir.path());
        process.start(QStringLiteral(VENDOR_API_EXE),
                      QStringList{QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--records"),
                                  recordsPath(), QStringLiteral("--sign-key"), QStringLiteral(TEST_SIGN_KEY)}
                          + extra);
        if (!process.waitForStarted(10000))
            return false;
        const QByteArray prefix("vendor-api listening on ");
        QDeadlineTimer deadline(10000);
        while (!process.canReadLine()) {
            if (process.state() != QProcess::Running || deadline.hasExpired()
                || !process.waitForReadyRead(int(qMax<qint64>(deadline.remainingTime(), 1)))) {
                if (process.canReadLine())
                    break;
                stop();
                return false;
            }
        }
        const QByteArray line = process.readLine().trimmed();
        if (!line.startsWith(prefix)) {
            stop();
            return false;
        }
        base = QString::fromUtf8(line.mid(prefix.size()));
        return true;
    }

    // "http://127.0.0.1:PORT" ("https://" when serving TLS).
    QString baseUrl() const { return base; }
    QString domainListUrl() const { return base + QStringLiteral("/init/domain2.txt"); }
    int port() const { return QUrl(base).port(); }
    QString recordsPath() const { return dir.filePath(QStringLiteral("records.jsonl")); }

    // Every request recorded so far, in arrival order.
    QJsonArray records() const
    {
        QJsonArray all;
        QFile file(recordsPath());
        if (!file.open(QIODevice::ReadOnly))
            return all;
        for (const QByteArray &line : file.readAll().split('\n')) {
            const QJsonDocument doc = QJsonDocument::fromJson(line);
            if (doc.isObject())
                all.append(doc.object());
        }
        return all;
    }

    QJsonArray records(const QString &path) const
    {
        QJsonArray matching;
        for (const QJsonValue &record : records())
            if (record.toObject().value(QStringLiteral("path")).toString() == path)
                matching.append(record);
        return matching;
    }

    // Error reports (/log/api/client/up_log), optionally only those with that code.
    QJsonArray errorReports(const QString &code = QString()) const
    {
        QJsonArray matching;
        for (const QJsonValue &record : records(QStringLiteral("/log/api/client/up_log")))
            if (code.isNull() || field(record.toObject(), QStringLiteral("code")) == code)
                matching.append(record);
        return matching;
    }

    // The value of the first field called `name`; a null string when there is none.
    static QString field(const QJsonObject &record, const QString &name)
    {
        for (const QJsonValue &value : record.value(QStringLiteral("fields")).toArray()) {
            const QJsonObject part = value.toObject();
            if (part.value(QStringLiteral("name")).toString() == name) {
                const QString value = part.value(QStringLiteral("value")).toString();
                return value.isNull() ? QStringLiteral("") : value;
            }
        }
        return QString();
    }

    // Sets (mode "none": clears) the fault of one path on the running server.
    bool setFault(const QString &path, const QString &mode)
    {
        const QUrl url(base);
        QSslSocket socket;
        if (url.scheme() == QLatin1String("https")) {
            // Only our own stand-in answers here; its certificate is the test's.
            socket.setPeerVerifyMode(QSslSocket::VerifyNone);
            socket.connectToHostEncrypted(url.host(), quint16(url.port()));
            if (!socket.waitForEncrypted(5000))
                return false;
        } else {
            socket.connectToHost(url.host(), quint16(url.port()));
            if (!socket.waitForConnected(5000))
                return false;
        }
        const QByteArray target = "/_fault?path=" + QUrl::toPercentEncoding(path)
                                  + "&mode=" + QUrl::toPercentEncoding(mode);
        socket.write("POST " + target + " HTTP/1.1\r\nHost: " + url.host().toUtf8() + ':'
                     + QByteArray::number(url.port()) + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        QByteArray answer;
        while (socket.waitForReadyRead(5000))
            answer += socket.readAll();
        answer += socket.readAll();
        return answer.startsWith("HTTP/1.1 200") && answer.endsWith("{\"code\":0}");
    }

    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

private:
    QStringList extra;
    QTemporaryDir dir;
    QProcess process;
    QString base;
};
