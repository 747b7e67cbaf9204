// A small Windows program the Windows tests start:
//   test_helper --record FILE ARGS...   writes ARGS to FILE, one a line (UTF-8)
//   test_helper --probe FILE WHAT ARG   writes what Windows itself holds to
//                                       FILE (UTF-8), read past the program
//                                       under test and past the tool stand-ins:
//       registry KEY   each value of HKLM\KEY (64-bit view) as NAME<tab>TYPE<tab>DATA
//       link FILE      the target of the shortcut FILE
//       service NAME   "absent", or "state N" (the service's current state)
//       processes -    the image name of every process, one a line
//       clipboard -    the text on the clipboard, as Windows programs see it
//       window TITLE   the top-level window titled TITLE: "shown",
//                      "minimized", "hidden" or "absent"
//       minimize TITLE minimizes that window, as a user does from the
//                      taskbar, and tells its state as above
//   test_helper ...anything else        a program planted under a system
//                                       tool's name: it leaves "planted-ran.txt"
//                                       in its own folder and the current one

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <string>

namespace {

bool writeUtf8(const std::wstring &path, const std::wstring &text)
{
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(size_t(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), &bytes[0], size, nullptr, nullptr);
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok = ::WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
    return ok && written == bytes.size();
}

std::wstring ownFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\'));
}

std::wstring registryText(const std::wstring &key)
{
    HKEY handle = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &handle) != ERROR_SUCCESS)
        return L"absent\n";
    std::wstring text;
    for (DWORD index = 0;; ++index) {
        wchar_t name[16384];
        DWORD nameLength = 16384;
        BYTE data[65536];
        DWORD size = sizeof(data) - sizeof(wchar_t);
        DWORD type = 0;
        if (::RegEnumValueW(handle, index, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS)
            break;
        text += std::wstring(name, nameLength) + L"\t";
        if (type == REG_SZ) {
            data[size] = 0;
            data[size + 1] = 0;
            text += L"REG_SZ\t" + std::wstring(reinterpret_cast<const wchar_t *>(data));
        } else if (type == REG_DWORD && size == 4) {
            text += L"REG_DWORD\t" + std::to_wstring(*reinterpret_cast<const DWORD *>(data));
        } else {
            text += L"type " + std::to_wstring(type) + L"\t";
        }
        text += L"\n";
    }
    ::RegCloseKey(handle);
    return text;
}

std::wstring linkTarget(const std::wstring &file)
{
    std::wstring target;
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IShellLinkW *link = nullptr;
    if (SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                     reinterpret_cast<void **>(&link)))) {
        IPersistFile *persist = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&persist)))) {
            wchar_t path[MAX_PATH * 4] = L"";
            if (SUCCEEDED(persist->Load(file.c_str(), STGM_READ))
                && SUCCEEDED(link->GetPath(path, MAX_PATH * 4, nullptr, 0)))
                target = path;
            persist->Release();
        }
        link->Release();
    }
    ::CoUninitialize();
    return target + L"\n";
}

std::wstring serviceText(const std::wstring &name)
{
    const SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    const SC_HANDLE service = manager ? ::OpenServiceW(manager, name.c_str(), SERVICE_QUERY_STATUS) : nullptr;
    std::wstring text = L"absent\n";
    SERVICE_STATUS status;
    if (service && ::QueryServiceStatus(service, &status))
        text = L"state " + std::to_wstring(status.dwCurrentState) + L"\n";
    if (service)
        ::CloseServiceHandle(service);
    if (manager)
        ::CloseServiceHandle(manager);
    return text;
}

std::wstring processNames()
{
    std::wstring text;
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry))
        text += std::wstring(entry.szExeFile) + L"\n";
    ::CloseHandle(snapshot);
    return text;
}

std::wstring clipboardText()
{
    std::wstring text;
    if (!::OpenClipboard(nullptr))
        return text;
    if (const HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
        if (const auto *chars = static_cast<const wchar_t *>(::GlobalLock(data))) {
            text = chars;
            ::GlobalUnlock(data);
        }
    }
    ::CloseClipboard();
    return text;
}

std::wstring windowState(const std::wstring &title, bool minimize)
{
    const HWND window = ::FindWindowW(nullptr, title.c_str());
    if (!window)
        return L"absent\n";
    if (minimize)
        ::ShowWindow(window, SW_MINIMIZE);
    if (::IsIconic(window))
        return L"minimized\n";
    return ::IsWindowVisible(window) ? L"shown\n" : L"hidden\n";
}

std::wstring probe(const std::wstring &what, const std::wstring &argument)
{
    if (what == L"registry")
        return registryText(argument);
    if (what == L"link")
        return linkTarget(argument);
    if (what == L"service")
        return serviceText(argument);
    if (what == L"processes")
        return processNames();
    if (what == L"clipboard")
        return clipboardText();
    if (what == L"window" || what == L"minimize")
        return windowState(argument, what == L"minimize");
    return std::wstring();
}

} // namespace

int main()
{
    int argc = 0;
    wchar_t **argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (argc >= 3 && std::wstring(argv[1]) == L"--record") {
        std::wstring text;
        for (int i = 3; i < argc; ++i)
            text += std::wstring(argv[i]) + L"\n";
        return writeUtf8(argv[2], text) ? 0 : 1;
    }
    if (argc == 5 && std::wstring(argv[1]) == L"--probe")
        return writeUtf8(argv[2], probe(argv[3], argv[4])) ? 0 : 1;
    writeUtf8(ownFolder() + L"\\planted-ran.txt", L"ran\n");
    writeUtf8(L"planted-ran.txt", L"ran\n");
    return 0;
}
