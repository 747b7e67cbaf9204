#include "WinTools.h"

#include <cstdio>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#endif

void printLines(const QStringList &lines)
{
    QByteArray out;
    for (const QString &line : lines) {
#ifdef Q_OS_WIN
        out += line.toLocal8Bit() + "\r\n";
#else
        out += line.toUtf8() + "\r\n";
#endif
    }
#ifdef Q_OS_WIN
    // In text mode the C runtime would make each "\r\n" a "\r\r\n".
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    std::fflush(stdout);
}

bool isOption(const QString &argument, const char *option)
{
    return argument.compare(QLatin1String(option), Qt::CaseInsensitive) == 0;
}

QString optionValue(const QStringList &arguments, const char *option)
{
    for (int i = 0; i + 1 < arguments.size(); ++i) {
        if (isOption(arguments.at(i), option))
            return arguments.at(i + 1);
    }
    return QString();
}
