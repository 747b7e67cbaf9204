// The domain list: any body at the domain-list address. Whatever it holds,
// the bases either stay as they were or become the two texts it names, each
// with one "/" added.

#include "FuzzSupport.h"
#include "Info.h"
#include "Network.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace {

const QString gameBefore = QStringLiteral("fuzz-game/");
const QString logBefore = QStringLiteral("fuzz-log/");

// The data object of a list that is taken, or nothing.
bool acceptedData(const QByteArray &body, QJsonObject *data)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return false;
    const QJsonObject envelope = document.object();
    if (envelope.value(QStringLiteral("code")).toInt(0) != 0 || !envelope.value(QStringLiteral("data")).isObject())
        return false;
    *data = envelope.value(QStringLiteral("data")).toObject();
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    startFuzzApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Network network;
    const QByteArray body(reinterpret_cast<const char *>(data), int(size));

    // Bases without a host: a rejected list's report fails at once, with no traffic.
    gameApiBase = gameBefore;
    logApiBase = logBefore;
    network.jsonReply(body, new FuzzReply(QUrl(domainListUrl)));
    settleEvents();

    QJsonObject listed;
    if (!acceptedData(body, &listed)) {
        require(gameApiBase == gameBefore && logApiBase == logBefore, "a list that is not taken changes no base");
        return 0;
    }
    require(gameApiBase == listed.value(QStringLiteral("game")).toString() + QLatin1Char('/'),
            "the game base is the listed text and a slash");
    require(logApiBase == listed.value(QStringLiteral("log")).toString() + QLatin1Char('/'),
            "the log base is the listed text and a slash");
    return 0;
}
