// sc on services kept in the emulated registry, where Windows keeps them:
// values Type, Start, ImagePath, and State (4 running, 1 stopped).

#include "WinTools.h"

#include "Platform.h"

#include <QSettings>

#include <memory>

namespace {

const int serviceRunning = 4;
const int serviceStopped = 1;

class Service
{
public:
    explicit Service(const QString &name)
        : name(name),
          key(Platform::openRegistryKey(QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\")
                                        + name))
    {
    }
    bool exists() const { return key->contains(QStringLiteral("Type")); }
    QVariant value(const char *name) const { return key->value(QLatin1String(name)); }
    void set(const char *name, const QVariant &value) { key->setValue(QLatin1String(name), value); }
    void remove() { key->remove(QString()); }
    // False when the system refused the change: Windows' "access denied".
    bool save()
    {
        key->sync();
        return key->status() == QSettings::NoError;
    }

    const QString name;

private:
    std::unique_ptr<QSettings> key;
};

QString typeText(int type)
{
    switch (type) {
    case 1: return QStringLiteral("1  KERNEL_DRIVER");
    case 2: return QStringLiteral("2  FILE_SYSTEM_DRIVER");
    case 16: return QStringLiteral("10  WIN32_OWN_PROCESS");
    case 32: return QStringLiteral("20  WIN32_SHARE_PROCESS");
    default: return QString::number(type, 16);
    }
}

QString startText(int start)
{
    static const char *const names[] = {"BOOT_START", "SYSTEM_START", "AUTO_START", "DEMAND_START", "DISABLED"};
    return start >= 0 && start <= 4 ? QStringLiteral("%1   %2").arg(start).arg(QLatin1String(names[start]))
                                    : QString::number(start);
}

int fail(const char *operation, int code, const QString &message, bool emptyLine)
{
    QStringList lines{QStringLiteral("[SC] %1 失败 %2:").arg(QLatin1String(operation)).arg(code)};
    if (emptyLine)
        lines << QString();
    printLines(lines << message);
    return code;
}

int notInstalled()
{
    return fail("OpenService", 1060, QStringLiteral("指定的服务未安装。"), true);
}

int accessDenied()
{
    return fail("OpenService", 5, QStringLiteral("拒绝访问。"), false);
}

int query(Service &service)
{
    if (!service.exists())
        return notInstalled();
    printLines({QStringLiteral("[SC] QueryServiceConfig 成功"), QString(),
                QStringLiteral("SERVICE_NAME: ") + service.name,
                QStringLiteral("TYPE : ") + typeText(service.value("Type").toInt()),
                QStringLiteral("START_TYPE : ") + startText(service.value("Start").toInt()),
                QStringLiteral("BINARY_PATH_NAME : ") + service.value("ImagePath").toString()});
    return 0;
}

int stop(Service &service)
{
    if (!service.exists())
        return notInstalled();
    if (service.value("State").toInt() != serviceRunning)
        return fail("ControlService", 1062, QStringLiteral("服务尚未启动。"), false);
    service.set("State", serviceStopped);
    if (!service.save())
        return accessDenied();
    printLines({QStringLiteral("SERVICE_NAME: ") + service.name, QStringLiteral("STATE : 3  STOP_PENDING")});
    return 0;
}

int start(Service &service)
{
    if (!service.exists())
        return notInstalled();
    if (service.value("State").toInt() == serviceRunning)
        return fail("StartService", 1056, QStringLiteral("服务的实例已在运行中。"), true);
    service.set("State", serviceRunning);
    if (!service.save())
        return accessDenied();
    printLines({QStringLiteral("SERVICE_NAME: ") + service.name, QStringLiteral("STATE : 2  START_PENDING")});
    return 0;
}

int remove(Service &service)
{
    if (!service.exists())
        return notInstalled();
    service.remove();
    if (!service.save())
        return accessDenied();
    printLines({QStringLiteral("[SC] DeleteService 成功")});
    return 0;
}

// sc create NAME binPath= X [type= kernel] [start= demand|auto|disabled]
int create(Service &service, const QStringList &options)
{
    const QString image = optionValue(options, "binPath=");
    if (image.isEmpty()) {
        printLines({QStringLiteral("[SC] CreateService 失败 87:"), QString(), QStringLiteral("参数错误。")});
        return 87;
    }
    if (service.exists())
        return fail("CreateService", 1073, QStringLiteral("指定的服务已存在。"), true);
    const QString startOption = optionValue(options, "start=").toLower();
    const int startType = startOption == QLatin1String("auto") ? 2 : startOption == QLatin1String("disabled") ? 4 : 3;
    service.set("Type", isOption(optionValue(options, "type="), "kernel") ? 1 : 16);
    service.set("Start", startType);
    service.set("ImagePath", image);
    service.set("State", serviceStopped);
    if (!service.save())
        return accessDenied();
    printLines({QStringLiteral("[SC] CreateService 成功")});
    return 0;
}

} // namespace

int sc(const QStringList &arguments)
{
    if (arguments.size() < 2) {
        printLines({QStringLiteral("描述:"), QStringLiteral("        SC 是用来与服务控制管理器和服务进行通信的命令行程序。"),
                    QStringLiteral("用法:"), QStringLiteral("        sc <命令> [服务名称] <选项1> <选项2>...")});
        return 1;
    }
    const QString command = arguments.at(0);
    Service service(arguments.at(1));
    if (isOption(command, "qc"))
        return query(service);
    if (isOption(command, "stop"))
        return stop(service);
    if (isOption(command, "start"))
        return start(service);
    if (isOption(command, "delete"))
        return remove(service);
    if (isOption(command, "create"))
        return create(service, arguments.mid(2));
    printLines({QStringLiteral("[SC] 未知命令: ") + command});
    return 1;
}
