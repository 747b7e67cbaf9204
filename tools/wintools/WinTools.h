#pragma once

// Linux stand-ins for tasklist, taskkill, sc and schtasks: the arguments the
// installer passes, the texts a Chinese-language Windows prints, the same
// exit codes.

#include <QString>
#include <QStringList>

// Writes the lines in UTF-8 with Windows line ends.
void printLines(const QStringList &lines);
// Whether `argument` is the option `option`, in any letter case.
bool isOption(const QString &argument, const char *option);
// The argument after the option `option`; empty when there is none.
QString optionValue(const QStringList &arguments, const char *option);

int tasklist(const QStringList &arguments);
int taskkill(const QStringList &arguments);
int sc(const QStringList &arguments);
int schtasks(const QStringList &arguments);
