#pragma once

// How the client was started, appended as one JSON line to
// temp/launches.jsonl beside the program, so the demo and the tests can tell
// that and how the installer started it.

#include <QJsonObject>
#include <QString>
#include <QStringList>

struct ClientConfig;

QJsonObject launchRecord(qint64 pid, const QStringList &arguments, const QString &workingDir,
                         const ClientConfig &config);
// False when the line could not be written (the program still runs).
bool appendLaunchRecord(const QString &path, const QJsonObject &record);
