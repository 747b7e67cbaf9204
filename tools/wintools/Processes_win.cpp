// The process table of Windows: a Toolhelp snapshot, and TerminateProcess
// to end a process, with the rights the process's own security grants us.

#include "WinTools.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

namespace {

// The working set, as Task Manager and tasklist show it; 0 for a process
// we may not look into.
qint64 workingSetK(DWORD pid)
{
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!process)
        process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return 0;
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    const bool known = ::GetProcessMemoryInfo(process, &counters, sizeof(counters));
    ::CloseHandle(process);
    return known ? qint64(counters.WorkingSetSize / 1024) : 0;
}

} // namespace

QList<Process> ProcessTable::running()
{
    QList<Process> processes;
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return processes;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (bool more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
        const QString image = QString::fromWCharArray(entry.szExeFile);
        if (!image.isEmpty())
            processes.append({qint64(entry.th32ProcessID), image, workingSetK(entry.th32ProcessID)});
    }
    ::CloseHandle(snapshot);
    return processes;
}

bool ProcessTable::end(const Process &process)
{
    const DWORD pid = DWORD(process.pid);
    // Waiting needs SYNCHRONIZE, which a process may grant apart from
    // PROCESS_TERMINATE; without it we end it all the same.
    bool canWait = true;
    HANDLE handle = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (!handle && ::GetLastError() == ERROR_ACCESS_DENIED) {
        canWait = false;
        handle = ::OpenProcess(PROCESS_TERMINATE, FALSE, pid);
    }
    if (!handle)
        return ::GetLastError() == ERROR_INVALID_PARAMETER; // no such process any more
    bool ended = ::TerminateProcess(handle, 1);
    // One that was already on its way out can't be terminated again.
    if (!ended && canWait && ::WaitForSingleObject(handle, 0) == WAIT_OBJECT_0)
        ended = true;
    // Whoever acts on "ended" next (replacing the program's files, looking
    // for it again) must not meet it still going away.
    if (ended && canWait)
        ::WaitForSingleObject(handle, 10000);
    ::CloseHandle(handle);
    return ended;
}
