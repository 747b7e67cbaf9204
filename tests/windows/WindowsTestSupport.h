#pragma once

// What the Windows test programs share: the vendor-API stand-in that
// tests/windows/wine-run started for them (a Linux process, reached over
// loopback), waits on child programs, and Windows' own view of paths.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <windows.h>

// The stand-in at LUMENRIDER_TEST_API (or LUMENRIDER_TEST_API_TLS): what it
// recorded and how it misbehaves, through its own routes.
class TestApi
{
public:
    explicit TestApi(const char *variable = "LUMENRIDER_TEST_API") : base(qEnvironmentVariable(variable)) {}

    bool isValid() const { return !base.isEmpty(); }
    QString baseUrl() const { return base; }
    QString domainListUrl() const { return base + QStringLiteral("/init/domain2.txt"); }

    // Every request recorded so far, in arrival order.
    QJsonArray records() const
    {
        const QByteArray body = send("GET", QStringLiteral("/_records"));
        return QJsonDocument::fromJson(body).array();
    }
    QJsonArray records(const QString &path, int afterSeq = 0) const
    {
        QJsonArray matching;
        for (const QJsonValue &record : records()) {
            const QJsonObject object = record.toObject();
            if (object.value(QStringLiteral("path")).toString() == path
                && object.value(QStringLiteral("seq")).toInt() > afterSeq)
                matching.append(object);
        }
        return matching;
    }
    int lastSeq() const
    {
        const QJsonArray all = records();
        return all.isEmpty() ? 0 : all.last().toObject().value(QStringLiteral("seq")).toInt();
    }
    bool setFault(const QString &path, const QString &mode) const
    {
        return send("POST", QStringLiteral("/_fault?path=") + QString::fromLatin1(QUrl::toPercentEncoding(path))
                                + QStringLiteral("&mode=") + QString::fromLatin1(QUrl::toPercentEncoding(mode)))
               == "{\"code\":0}";
    }

    static QString field(const QJsonValue &record, const QString &name)
    {
        for (const QJsonValue &value : record.toObject().value(QStringLiteral("fields")).toArray()) {
            const QJsonObject part = value.toObject();
            if (part.value(QStringLiteral("name")).toString() == name)
                return part.value(QStringLiteral("value")).toString();
        }
        return QString();
    }

private:
    QByteArray send(const char *verb, const QString &route) const
    {
        QNetworkAccessManager manager;
        QNetworkRequest request(QUrl(base + route));
        QNetworkReply *reply = qstrcmp(verb, "GET") == 0 ? manager.get(request) : manager.post(request, QByteArray());
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        if (!reply->isFinished())
            loop.exec();
        const QByteArray body = reply->readAll();
        delete reply;
        return body;
    }

    QString base;
};

// A Linux path handed over by wine-run, as this program sees it.
inline QString windowsPathOf(const QString &unixPath)
{
    return QStringLiteral("Z:") + unixPath;
}

inline QByteArray readWholeFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeWholeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(path.left(path.lastIndexOf(QLatin1Char('/'))));
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

// The top-level window titled exactly `title`, once it is there (within
// timeoutMs, while this thread's events go on); null when it never is.
inline HWND waitForWindowTitled(const QString &title, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (HWND window = ::FindWindowW(nullptr, reinterpret_cast<const wchar_t *>(title.utf16())))
            return window;
        if (deadline.hasExpired())
            return nullptr;
        QEventLoop loop;
        QTimer::singleShot(100, &loop, &QEventLoop::quit);
        loop.exec();
    }
}
