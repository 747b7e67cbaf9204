// sc on the service control manager (ServiceManager: the real one on
// Windows, services kept in the emulated registry on Linux).

#include "WinTools.h"

namespace {

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

QString stateText(int state)
{
    static const char *const names[] = {"STOPPED",          "START_PENDING", "STOP_PENDING", "RUNNING",
                                        "CONTINUE_PENDING", "PAUSE_PENDING", "PAUSED"};
    return state >= 1 && state <= 7 ? QStringLiteral("%1  %2").arg(state).arg(QLatin1String(names[state - 1]))
                                    : QString::number(state);
}

// sc's message for an error code, and whether an empty line comes before it.
QStringList failureText(int code)
{
    switch (code) {
    case 5: return {QStringLiteral("拒绝访问。")};
    case 87: return {QString(), QStringLiteral("参数错误。")};
    case 1056: return {QString(), QStringLiteral("服务的实例已在运行中。")};
    case 1060: return {QString(), QStringLiteral("指定的服务未安装。")};
    case 1062: return {QStringLiteral("服务尚未启动。")};
    case 1073: return {QString(), QStringLiteral("指定的服务已存在。")};
    default: return {QString(), ServiceManager::errorMessage(code)};
    }
}

int fail(const ServiceResult &result)
{
    printLines(QStringList{QStringLiteral("[SC] %1 失败 %2:").arg(QLatin1String(result.operation)).arg(result.code)}
               + failureText(result.code));
    return result.code;
}

int query(const QString &name)
{
    ServiceConfig config;
    const ServiceResult result = ServiceManager::queryConfig(name, &config);
    if (result.code != 0)
        return fail(result);
    printLines({QStringLiteral("[SC] QueryServiceConfig 成功"), QString(), QStringLiteral("SERVICE_NAME: ") + name,
                QStringLiteral("TYPE : ") + typeText(config.type),
                QStringLiteral("START_TYPE : ") + startText(config.start),
                QStringLiteral("BINARY_PATH_NAME : ") + config.binaryPath});
    return 0;
}

int queryState(const QString &name)
{
    int state = 0;
    int type = 0;
    const ServiceResult result = ServiceManager::queryStatus(name, &state, &type);
    if (result.code != 0)
        return fail(result);
    printLines({QStringLiteral("SERVICE_NAME: ") + name, QStringLiteral("TYPE : ") + typeText(type),
                QStringLiteral("STATE : ") + stateText(state)});
    return 0;
}

// A stop the manager accepted is under way: as Windows' sc shows it for a
// service that takes a moment, whether or not this one got there already
// (sc query tells how far it has got).
int stop(const QString &name)
{
    const ServiceResult result = ServiceManager::stop(name);
    if (result.code != 0)
        return fail(result);
    printLines({QStringLiteral("SERVICE_NAME: ") + name, QStringLiteral("STATE : ") + stateText(3)});
    return 0;
}

// After a start, what the manager said the service is doing.
int start(const QString &name)
{
    int state = 0;
    const ServiceResult result = ServiceManager::start(name, &state);
    if (result.code != 0)
        return fail(result);
    printLines({QStringLiteral("SERVICE_NAME: ") + name, QStringLiteral("STATE : ") + stateText(state)});
    return 0;
}

int remove(const QString &name)
{
    const ServiceResult result = ServiceManager::remove(name);
    if (result.code != 0)
        return fail(result);
    printLines({QStringLiteral("[SC] DeleteService 成功")});
    return 0;
}

// sc create NAME binPath= X [type= own|kernel] [start= demand|auto|disabled]
int create(const QString &name, const QStringList &options)
{
    ServiceConfig config;
    config.binaryPath = optionValue(options, "binPath=");
    if (config.binaryPath.isEmpty())
        return fail({87, "CreateService"});
    const QString startOption = optionValue(options, "start=").toLower();
    config.start = startOption == QLatin1String("auto") ? 2 : startOption == QLatin1String("disabled") ? 4 : 3;
    config.type = isOption(optionValue(options, "type="), "kernel") ? 1 : 16;
    const ServiceResult result = ServiceManager::create(name, config);
    if (result.code != 0)
        return fail(result);
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
    const QString name = arguments.at(1);
    if (isOption(command, "qc"))
        return query(name);
    if (isOption(command, "query"))
        return queryState(name);
    if (isOption(command, "stop"))
        return stop(name);
    if (isOption(command, "start"))
        return start(name);
    if (isOption(command, "delete"))
        return remove(name);
    if (isOption(command, "create"))
        return create(name, arguments.mid(2));
    printLines({QStringLiteral("[SC] 未知命令: ") + command});
    return 1;
}
