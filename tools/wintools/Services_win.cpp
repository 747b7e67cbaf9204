// The service control manager of Windows. Each call opens the service with
// only the rights it needs, so a service whose security refuses them is
// refused by OpenService, as sc reports it.

#include "WinTools.h"

#include <windows.h>

#include <vector>

namespace {

class ServiceHandle
{
public:
    explicit ServiceHandle(SC_HANDLE handle = nullptr) : handle(handle) {}
    ~ServiceHandle()
    {
        if (handle)
            ::CloseServiceHandle(handle);
    }
    ServiceHandle(const ServiceHandle &) = delete;
    ServiceHandle &operator=(const ServiceHandle &) = delete;
    void reset(SC_HANDLE other)
    {
        if (handle)
            ::CloseServiceHandle(handle);
        handle = other;
    }
    SC_HANDLE get() const { return handle; }

private:
    SC_HANDLE handle;
};

const wchar_t *wide(const QString &text)
{
    return reinterpret_cast<const wchar_t *>(text.utf16());
}

QString fromWide(const wchar_t *text)
{
    return text ? QString::fromWCharArray(text) : QString();
}

ServiceResult lastError(const char *operation)
{
    return {int(::GetLastError()), operation};
}

// Opens the manager and, in it, the service `name` with `access`.
ServiceResult openService(const QString &name, DWORD access, ServiceHandle &manager, ServiceHandle &service)
{
    manager.reset(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.get())
        return lastError("OpenSCManager");
    service.reset(::OpenServiceW(manager.get(), wide(name), access));
    if (!service.get())
        return lastError("OpenService");
    return {};
}

} // namespace

ServiceResult ServiceManager::queryConfig(const QString &name, ServiceConfig *config)
{
    ServiceHandle manager;
    ServiceHandle service;
    ServiceResult result = openService(name, SERVICE_QUERY_CONFIG, manager, service);
    if (result.code != 0)
        return result;
    DWORD needed = 0;
    if (!::QueryServiceConfigW(service.get(), nullptr, 0, &needed) && ::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return lastError("QueryServiceConfig");
    std::vector<unsigned char> buffer(needed);
    auto *details = reinterpret_cast<QUERY_SERVICE_CONFIGW *>(buffer.data());
    if (!::QueryServiceConfigW(service.get(), details, needed, &needed))
        return lastError("QueryServiceConfig");
    config->type = int(details->dwServiceType);
    config->start = int(details->dwStartType);
    config->binaryPath = fromWide(details->lpBinaryPathName);
    return {};
}

ServiceResult ServiceManager::queryStatus(const QString &name, int *state, int *type)
{
    ServiceHandle manager;
    ServiceHandle service;
    ServiceResult result = openService(name, SERVICE_QUERY_STATUS, manager, service);
    if (result.code != 0)
        return result;
    SERVICE_STATUS status{};
    if (!::QueryServiceStatus(service.get(), &status))
        return lastError("QueryServiceStatus");
    *state = int(status.dwCurrentState);
    *type = int(status.dwServiceType);
    return {};
}

ServiceResult ServiceManager::stop(const QString &name)
{
    ServiceHandle manager;
    ServiceHandle service;
    ServiceResult result = openService(name, SERVICE_STOP, manager, service);
    if (result.code != 0)
        return result;
    SERVICE_STATUS status{};
    if (!::ControlService(service.get(), SERVICE_CONTROL_STOP, &status))
        return lastError("ControlService");
    return {};
}

ServiceResult ServiceManager::start(const QString &name, int *state)
{
    ServiceHandle manager;
    ServiceHandle service;
    ServiceResult result = openService(name, SERVICE_START | SERVICE_QUERY_STATUS, manager, service);
    if (result.code != 0)
        return result;
    if (!::StartServiceW(service.get(), 0, nullptr))
        return lastError("StartService");
    SERVICE_STATUS status{};
    *state = ::QueryServiceStatus(service.get(), &status) ? int(status.dwCurrentState) : SERVICE_START_PENDING;
    return {};
}

ServiceResult ServiceManager::remove(const QString &name)
{
    ServiceHandle manager;
    ServiceHandle service;
    ServiceResult result = openService(name, DELETE, manager, service);
    if (result.code != 0)
        return result;
    if (!::DeleteService(service.get()))
        return lastError("DeleteService");
    return {};
}

ServiceResult ServiceManager::create(const QString &name, const ServiceConfig &config)
{
    ServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!manager.get())
        return lastError("OpenSCManager");
    ServiceHandle service(::CreateServiceW(manager.get(), wide(name), wide(name), SERVICE_QUERY_STATUS,
                                           DWORD(config.type), DWORD(config.start), SERVICE_ERROR_NORMAL,
                                           wide(config.binaryPath), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service.get())
        return lastError("CreateService");
    return {};
}

QString ServiceManager::errorMessage(int code)
{
    wchar_t text[512];
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                          DWORD(code), 0, text, DWORD(sizeof(text) / sizeof(text[0])), nullptr);
    const QString message = QString::fromWCharArray(text, int(length)).trimmed();
    return message.isEmpty() ? QStringLiteral("错误 %1。").arg(code) : message;
}
