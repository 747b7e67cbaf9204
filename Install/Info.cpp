#include "Info.h"

#include "Platform.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QSettings>
#include <QSysInfo>

namespace {

QString configPathFor(const QString &folder)
{
    return folder + QStringLiteral("/temp/config/config.ini");
}

QSettings *openConfigSettings(const QString &path)
{
    auto *settings = new QSettings(path, QSettings::IniFormat);
    settings->setIniCodec("utf-8");
    return settings;
}

// The demo and the tests point the installer at the vendor-API stand-in.
QString chooseDomainListUrl()
{
    const QString chosen = qEnvironmentVariable("LUMENRIDER_DOMAIN_LIST_URL");
    return chosen.isEmpty() ? QStringLiteral(LUMENRIDER_DOMAIN_LIST_URL) : chosen;
}

} // namespace

const QString appVersion = QStringLiteral("1.6.9");
const QString versionName = appVersion;
const QString versionCode = QStringLiteral("169");
const QString clientExeBase = QStringLiteral("lumenrider");
const QString uninstallRoot =
    QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\");
const QString installerUninstallRoot = uninstallRoot;
const QString uninstallExeName = QStringLiteral("/unInstall.exe");
const QString signKey = QStringLiteral(LUMENRIDER_SIGN_KEY);
const QString sessionId = QStringLiteral("0");
const qint32 userId = 0;
QString domainListUrl = chooseDomainListUrl();
const QString initPath = QStringLiteral("api/index/init");
const QString installReportPath = QStringLiteral("api/statistic/install");
const QString logUploadPath = QStringLiteral("api/client/up_log");

bool debugMode = false;
bool consoleMode = false;
bool fullLogMode = false;
bool goInstall = false;
QString inviteCdk;
QString oemId = QStringLiteral("100");
QString projectName = QStringLiteral("lumenrider");
QString secondInstall = QStringLiteral("否");
QString clientProcessList;

QString installPath;
QString configPath;
QSettings *configSettings = nullptr;

QString osName;
QString osBits;
QString macAddress;
QString machineId;

QString gameApiBase;
QString logApiBase;

int replyFailureCount = 0;
QString downloadPath;
QByteArray downloadData;
int threadJob = 0;
int releaseTotal = 0;
int releaseDone = 0;

void initInstallInfo()
{
    {
        const auto registry = Platform::openRegistryKey(uninstallRoot + QStringLiteral("流光骑士\\"));
        const QString recorded = registry->value(QStringLiteral("InstallPath")).toString();
        installPath = recorded.isEmpty() ? Platform::defaultInstallPath() : recorded;
        qDebug() << installPath;
        configPath = configPathFor(installPath);
    }
    getSystemInfo();
}

void getSystemInfo()
{
    osName = QSysInfo::productType() + QSysInfo::productVersion();
    delete configSettings;
    configSettings = openConfigSettings(configPath);

    const QString bits = Platform::nativeOsBits();
    if (!bits.isEmpty())
        osBits = bits;

    macAddress.clear();
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &networkInterface : interfaces) {
        if (networkInterface.isValid()) {
            macAddress = networkInterface.hardwareAddress();
            break;
        }
    }

    quint64 processorMask = 0;
    quint32 processorRevision = 0;
    Platform::processorInfo(&processorMask, &processorRevision);
    const QString hostName = QHostInfo::localHostName();

    const QByteArray identity = (osName + osBits + macAddress + hostName).toLocal8Bit();
    machineId = QString::fromLatin1(QCryptographicHash::hash(identity, QCryptographicHash::Md5).toHex());

    qDebug() << "system.dwActiveProcessorMask:" << processorMask << "system.wProcessorRevision:"
             << processorRevision << "localHostName" << hostName;
    qInfo() << "<系统环境>:" << osName << osBits << "位" << macAddress << machineId;
}

bool retargetInstallPath(const QString &path)
{
    installPath = path;
    // A crash from here on is reported with this folder's user name.
    Platform::setCrashReporterValue(QStringLiteral("LUMENRIDER_CRASH_INSTALL_PATH"), path);
    configPath = configPathFor(installPath);
    // The replaced object writes what it still holds to its own file as it goes.
    delete configSettings;
    configSettings = openConfigSettings(configPath);
    return true;
}

QVariant getConfigValue(const QString &group, const QString &key)
{
    if (!configSettings)
        return QVariant();
    return configSettings->value(QStringLiteral("/%1/%2").arg(group, key));
}

bool setConfigValue(const QString &group, const QString &key, const QVariant &value)
{
    if (configSettings)
        configSettings->setValue(QStringLiteral("/%1/%2").arg(group, key), value);
    return true;
}

bool createfile(const QString &path, bool overwrite)
{
    // A path without any "." names only folders.
    const bool namesFile = path.contains(QLatin1Char('.'));
    const QString folder = namesFile ? path.left(path.lastIndexOf(QLatin1Char('/'))) : path;

    const QFileInfo folderInfo(folder);
    if (!(folderInfo.exists() && folderInfo.size() > 0) && !QDir().mkpath(folder)) {
        qWarning() << "<文件操作>:创建文件目录失败";
        return false;
    }
    if (!namesFile)
        return true;

    QFile file(path);
    if (file.exists() && file.size() > 0) {
        qInfo() << "<文件操作>:当前文件已存在<" << path << ">";
        if (overwrite) {
            if (file.remove()) {
                qInfo() << "<文件操作>:删除文件<" << path << ">成功！";
            } else {
                qWarning() << "<文件操作>:删除文件<" << path << ">失败";
                return false;
            }
        }
    }
    if (!file.open(QIODevice::ReadWrite)) {
        qWarning() << "<文件操作>:创建文件失败";
        return false;
    }
    file.close();
    return true;
}

bool deletefile(const QString &path)
{
    return QFile::remove(path);
}

QString installerFolder()
{
    return QCoreApplication::applicationDirPath();
}
