#pragma once

// The install context: the product's constants, the values start-up reads
// from the command line, the installer's name and the registry, the install
// and config paths, the machine description, the API bases and the job
// counters. One process-wide copy; each value has its few writers.

#include <QByteArray>
#include <QString>
#include <QVariant>

class QSettings;

// Product constants.
extern const QString appVersion;
extern const QString versionName;
extern const QString versionCode;
extern const QString clientExeBase;
extern const QString uninstallRoot;
extern const QString installerUninstallRoot;
extern const QString uninstallExeName;
extern const QString signKey;
extern const QString sessionId;
extern const qint32 userId;
// Fixed at build time; LUMENRIDER_DOMAIN_LIST_URL replaces it when the program starts.
extern QString domainListUrl;
extern const QString initPath;
extern const QString installReportPath;
extern const QString logUploadPath;

// Start-up values.
extern bool debugMode;
extern bool consoleMode;
extern bool fullLogMode;
extern bool goInstall;
extern QString inviteCdk;
extern QString oemId;
extern QString projectName;
extern QString secondInstall;
extern QString clientProcessList;

// Paths and the client's config file.
extern QString installPath;
extern QString configPath;
extern QSettings *configSettings;

// Machine description.
extern QString osName;
extern QString osBits;
extern QString macAddress;
extern QString machineId;

// API bases, found by domain discovery.
extern QString gameApiBase;
extern QString logApiBase;

// Counters.
extern int replyFailureCount;
extern QString downloadPath;
extern QByteArray downloadData;
extern int threadJob;
extern int releaseTotal;
extern int releaseDone;

// Fills installPath and configPath from the registry (or the default) and
// describes the machine.
void initInstallInfo();
// Machine description and identifier; opens configSettings on configPath.
void getSystemInfo();
// Points installPath, configPath and configSettings at another folder.
bool retargetInstallPath(const QString &path);

// The client's config file, keys "/group/key".
QVariant getConfigValue(const QString &group, const QString &key);
bool setConfigValue(const QString &group, const QString &key, const QVariant &value);

// Makes sure the folder of `path` exists and, when the path names a file,
// that the file exists (emptied first when overwrite is set).
bool createfile(const QString &path, bool overwrite);
bool deletefile(const QString &path);

// The folder of the running installer: the client's files travel in it and
// the log files are written beside it.
QString installerFolder();
