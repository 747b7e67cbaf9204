// Kept running in the benchmarks' Wine prefix for the whole run, started
// before anything is measured. The first program of a prefix starts Wine's
// services, and the first one with a window the desktop process, which
// ends again soon after the last program using the desktop has gone: this
// one stays on the desktop, so every measured start finds both running and
// none pays for them. Being started by the script, they are no children
// of a benchmark either, which ends all the processes its starts leave.
//
//   bench_desktop READY_FILE   makes READY_FILE once the desktop is up

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR readyFile, int)
{
    if (!::GetDesktopWindow())
        return 1;
    const HANDLE ready = ::CreateFileW(readyFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (ready == INVALID_HANDLE_VALUE)
        return 1;
    ::CloseHandle(ready);
    ::Sleep(INFINITE);
    return 0;
}
