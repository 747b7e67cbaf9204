#include "WinTools.h"

#include <cstdio>

void printLines(const QStringList &lines)
{
    QByteArray out;
    for (const QString &line : lines)
        out += line.toUtf8() + "\r\n";
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
