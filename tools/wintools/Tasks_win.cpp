// Logon tasks in a store of the stand-in's own in the registry, one key per
// task under HKEY_LOCAL_MACHINE\Software\LumenRiderTestTools\Tasks (the
// 32-bit view, where the tests and `wine reg`, 32-bit programs too, look;
// Software\WOW6432Node in the 64-bit one): Trigger, Interactive, RunLevel
// and, written last, Target (the program). Only a key with a target is a
// task. Wine's Task Scheduler has no logon to run tasks at, and a store
// that tests read back plainly serves them better.

#include "WinTools.h"

#include <windows.h>

namespace {

const wchar_t storeKey[] = L"Software\\LumenRiderTestTools\\Tasks";

const wchar_t *wide(const QString &text)
{
    return reinterpret_cast<const wchar_t *>(text.utf16());
}

bool setText(HKEY key, const wchar_t *name, const QString &value)
{
    return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.utf16()),
                            DWORD((value.size() + 1) * sizeof(wchar_t)))
           == ERROR_SUCCESS;
}

bool setNumber(HKEY key, const wchar_t *name, DWORD value)
{
    return ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof(value))
           == ERROR_SUCCESS;
}

} // namespace

QStringList TaskStore::names()
{
    QStringList names;
    HKEY store = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, storeKey, 0, KEY_ENUMERATE_SUB_KEYS, &store) != ERROR_SUCCESS)
        return names;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = DWORD(sizeof(name) / sizeof(name[0]));
        if (::RegEnumKeyExW(store, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        if (::RegGetValueW(store, name, L"Target", RRF_RT_REG_SZ, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
            names << QString::fromWCharArray(name, int(length));
    }
    ::RegCloseKey(store);
    names.sort(Qt::CaseInsensitive);
    return names;
}

bool TaskStore::write(const LogonTask &task)
{
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, wide(QString::fromWCharArray(storeKey) + QLatin1Char('\\') + task.name),
                          0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr)
        != ERROR_SUCCESS)
        return false;
    const bool written = setText(key, L"Trigger", QStringLiteral("ONLOGON"))
                         && setNumber(key, L"Interactive", task.interactive ? 1 : 0)
                         && setText(key, L"RunLevel", task.runLevel) && setText(key, L"Target", task.program);
    ::RegCloseKey(key);
    return written;
}
