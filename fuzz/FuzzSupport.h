#pragma once

// What the fuzz targets share: an application object for the API client, a
// quiet log, a reply that carries only its address, and a check that ends
// the run the way libFuzzer records a finding.

#include <QByteArray>
#include <QCoreApplication>
#include <QNetworkReply>
#include <QString>
#include <QUrl>

#include <cstdio>
#include <cstdlib>

// One application for the whole run; the log goes nowhere, or the fuzzer
// would spend its time printing.
inline void startFuzzApplication(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
}

// A finished reply from nowhere: the API client reads only its address.
class FuzzReply : public QNetworkReply
{
public:
    explicit FuzzReply(const QUrl &url)
    {
        setUrl(url);
        setFinished(true);
        open(QIODevice::ReadOnly);
    }
    void abort() override {}

protected:
    qint64 readData(char *, qint64) override { return -1; }
};

// The released replies go, and the requests the client started (reports to
// an address without a host) end, before the next input.
inline void settleEvents()
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

inline void require(bool holds, const char *what)
{
    if (holds)
        return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}
