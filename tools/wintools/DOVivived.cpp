// The old driver service "DOVivived" as a Windows service of its own process
// for the tests and the demo: it does no work, it only runs until the
// service control manager asks it to stop. No Qt and no C++ runtime DLLs, so
// it runs from any folder the service's binary path names.

#include <windows.h>

namespace {

SERVICE_STATUS_HANDLE statusHandle = nullptr;
HANDLE stopRequested = nullptr;
DWORD checkPoint = 0;

void report(DWORD state, DWORD waitHintMs = 0)
{
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    status.dwWin32ExitCode = NO_ERROR;
    // Pending states count up so the manager sees progress; settled ones reset.
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    status.dwCheckPoint = pending ? ++checkPoint : (checkPoint = 0);
    status.dwWaitHint = waitHintMs;
    ::SetServiceStatus(statusHandle, &status);
}

DWORD WINAPI control(DWORD code, DWORD, void *, void *)
{
    switch (code) {
    case SERVICE_CONTROL_STOP:
        report(SERVICE_STOP_PENDING, 5000);
        ::SetEvent(stopRequested);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI serviceMain(DWORD argc, wchar_t **argv)
{
    // An own-process service answers to whatever name it was installed under.
    statusHandle = ::RegisterServiceCtrlHandlerExW(argc > 0 ? argv[0] : L"DOVivived", control, nullptr);
    if (!statusHandle)
        return;
    report(SERVICE_START_PENDING, 5000);
    stopRequested = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!stopRequested) {
        report(SERVICE_STOPPED);
        return;
    }
    report(SERVICE_RUNNING);
    ::WaitForSingleObject(stopRequested, INFINITE);
    ::CloseHandle(stopRequested);
    report(SERVICE_STOPPED);
}

} // namespace

int main()
{
    wchar_t name[] = L"DOVivived";
    SERVICE_TABLE_ENTRYW services[] = {{name, serviceMain}, {nullptr, nullptr}};
    // Started by hand rather than by the manager there is nothing to serve:
    // the error (1063) says so.
    if (!::StartServiceCtrlDispatcherW(services))
        return int(::GetLastError());
    return 0;
}
