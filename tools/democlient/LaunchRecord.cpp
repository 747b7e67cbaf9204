#include "LaunchRecord.h"

#include "ClientConfig.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

QJsonObject launchRecord(qint64 pid, const QStringList &arguments, const QString &workingDir,
                         const ClientConfig &config)
{
    const QJsonObject values{
        {QStringLiteral("show"), config.show},       {QStringLiteral("update"), config.update},
        {QStringLiteral("oem"), config.oem},         {QStringLiteral("cdk"), config.cdk},
        {QStringLiteral("project"), config.project}, {QStringLiteral("openstart"), config.openstart},
    };
    return QJsonObject{
        {QStringLiteral("pid"), pid},
        {QStringLiteral("args"), QJsonArray::fromStringList(arguments)},
        {QStringLiteral("cwd"), workingDir},
        {QStringLiteral("time"), QDateTime::currentDateTime().toOffsetFromUtc(
                                     QDateTime::currentDateTime().offsetFromUtc()).toString(Qt::ISODateWithMs)},
        {QStringLiteral("config"), values},
    };
}

bool appendLaunchRecord(const QString &path, const QJsonObject &record)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    // One write of the whole line, so lines of clients started together do
    // not interleave.
    const QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n';
    return file.write(line) == line.size() && file.flush();
}
