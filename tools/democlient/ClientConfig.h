#pragma once

// What the installer leaves for the client in temp/config/config.ini.

#include <QString>

struct ClientConfig {
    QString show;       // version shown, "1.6.9"
    QString update;     // version code, "169"
    QString oem;        // channel id
    QString cdk;        // invite code
    QString project;    // project name
    QString openstart;  // "true" when the client starts at logon

    // Missing or unreadable file: every value stays empty.
    static ClientConfig read(const QString &iniPath);
};
