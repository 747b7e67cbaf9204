// The reply envelope: any body on any address, as a server or a proxy on
// the way may send it. The input is the address, a line feed, the body.

#include "FuzzSupport.h"
#include "Info.h"
#include "Network.h"

#include <QPointer>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    startFuzzApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Network network;
    const QByteArray input(reinterpret_cast<const char *>(data), int(size));
    const int lineEnd = input.indexOf('\n');
    const QString address = QString::fromUtf8(input.left(qMax(lineEnd, 0)));
    const QByteArray body = lineEnd < 0 ? input : input.mid(lineEnd + 1);

    // Bases without a host: the reports a rejection makes fail at once,
    // with no traffic.
    gameApiBase = QStringLiteral("fuzz-game/");
    logApiBase = QStringLiteral("fuzz-log/");
    QPointer<FuzzReply> reply = new FuzzReply(QUrl(address, QUrl::TolerantMode));
    const QString url = reply->url().toString();
    network.jsonReply(body, reply);
    settleEvents();

    require(reply.isNull(), "the reply is released on every path");
    if (!url.contains(domainListUrl))
        require(gameApiBase == QLatin1String("fuzz-game/") && logApiBase == QLatin1String("fuzz-log/"),
                "only the domain list sets the bases");
    return 0;
}
