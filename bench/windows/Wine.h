#pragma once

// What the Linux drivers of the Windows benchmarks share: paths as the
// Windows programs see them, and programs started through `wine` in the
// prefix that scripts/bench has made (WINEPREFIX, its wineserver running).

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QString>
#include <QStringList>

#include <cstdio>

namespace bench {

// A Linux path as a Windows program of the prefix names it: below the
// prefix's drive_c on C:, anything else through Wine's Z:, which is "/".
inline QString windowsPath(const QString &path)
{
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QString driveC = QDir::cleanPath(qEnvironmentVariable("WINEPREFIX") + QStringLiteral("/drive_c"));
    const QString windows = absolute.startsWith(driveC + QLatin1Char('/'))
                                ? QStringLiteral("C:") + absolute.mid(driveC.size())
                                : QStringLiteral("Z:") + absolute;
    return QString(windows).replace(QLatin1Char('/'), QLatin1Char('\\'));
}

// The command line that runs the Windows program at `path` (a Linux path).
inline QStringList wineCommand(const QString &path, const QStringList &arguments = QStringList())
{
    return QStringList{QStringLiteral("wine"), windowsPath(path)} + arguments;
}

// Whether the prefix is there to run in; says why not on the error output.
inline bool winePrefixReady(const char *benchmark)
{
    if (qEnvironmentVariableIsEmpty("WINEPREFIX") || !QFileInfo(qEnvironmentVariable("WINEPREFIX")).isDir()) {
        std::fprintf(stderr, "%s: needs WINEPREFIX, a prefix whose wineserver runs (scripts/bench --windows)\n",
                     benchmark);
        return false;
    }
    return true;
}

} // namespace bench
