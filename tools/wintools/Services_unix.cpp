// Services kept in the emulated registry, where Windows keeps them: values
// Type, Start, ImagePath, and State (4 running, 1 stopped). A write the
// system refuses is Windows' "access denied", as OpenService reports it.

#include "WinTools.h"

#include "Platform.h"

#include <QSettings>

#include <memory>

namespace {

const int serviceRunning = 4;
const int serviceStopped = 1;
const int startPending = 2;

const ServiceResult notInstalled{1060, "OpenService"};
const ServiceResult accessDenied{5, "OpenService"};

class Service
{
public:
    explicit Service(const QString &name)
        : key(Platform::openRegistryKey(QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\")
                                        + name))
    {
    }
    bool exists() const { return key->contains(QStringLiteral("Type")); }
    int number(const char *name) const { return key->value(QLatin1String(name)).toInt(); }
    QString text(const char *name) const { return key->value(QLatin1String(name)).toString(); }
    void set(const char *name, const QVariant &value) { key->setValue(QLatin1String(name), value); }
    void remove() { key->remove(QString()); }
    bool save()
    {
        key->sync();
        return key->status() == QSettings::NoError;
    }

private:
    std::unique_ptr<QSettings> key;
};

} // namespace

ServiceResult ServiceManager::queryConfig(const QString &name, ServiceConfig *config)
{
    const Service service(name);
    if (!service.exists())
        return notInstalled;
    config->type = service.number("Type");
    config->start = service.number("Start");
    config->binaryPath = service.text("ImagePath");
    return {};
}

ServiceResult ServiceManager::queryStatus(const QString &name, int *state, int *type)
{
    const Service service(name);
    if (!service.exists())
        return notInstalled;
    *state = service.number("State") == serviceRunning ? serviceRunning : serviceStopped;
    *type = service.number("Type");
    return {};
}

ServiceResult ServiceManager::stop(const QString &name)
{
    Service service(name);
    if (!service.exists())
        return notInstalled;
    if (service.number("State") != serviceRunning)
        return {1062, "ControlService"};
    service.set("State", serviceStopped);
    if (!service.save())
        return accessDenied;
    return {};
}

ServiceResult ServiceManager::start(const QString &name, int *state)
{
    Service service(name);
    if (!service.exists())
        return notInstalled;
    if (service.number("State") == serviceRunning)
        return {1056, "StartService"};
    service.set("State", serviceRunning);
    if (!service.save())
        return accessDenied;
    *state = startPending;
    return {};
}

ServiceResult ServiceManager::remove(const QString &name)
{
    Service service(name);
    if (!service.exists())
        return notInstalled;
    service.remove();
    if (!service.save())
        return accessDenied;
    return {};
}

ServiceResult ServiceManager::create(const QString &name, const ServiceConfig &config)
{
    Service service(name);
    if (service.exists())
        return {1073, "CreateService"};
    service.set("Type", config.type);
    service.set("Start", config.start);
    service.set("ImagePath", config.binaryPath);
    service.set("State", serviceStopped);
    if (!service.save())
        return accessDenied;
    return {};
}

QString ServiceManager::errorMessage(int code)
{
    return QStringLiteral("错误 %1。").arg(code);
}
