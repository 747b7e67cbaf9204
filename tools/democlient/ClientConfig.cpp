#include "ClientConfig.h"

#include <QSettings>

ClientConfig ClientConfig::read(const QString &iniPath)
{
    QSettings ini(iniPath, QSettings::IniFormat);
    ini.setIniCodec("utf-8");
    auto text = [&](const char *key) { return ini.value(QLatin1String(key)).toString(); };
    ClientConfig config;
    config.show = text("version/show");
    config.update = text("version/update");
    config.oem = text("version/oem");
    config.cdk = text("version/cdk");
    config.project = text("version/project");
    config.openstart = text("setting/openstart");
    return config;
}
