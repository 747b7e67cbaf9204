// A small Windows program the Windows tests start:
//   test_helper --record FILE ARGS...   writes ARGS to FILE, one a line (UTF-8)
//   test_helper ...anything else        a program planted under a system
//                                       tool's name: it leaves "planted-ran.txt"
//                                       in its own folder and the current one

#include <windows.h>
#include <shellapi.h>

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
    writeUtf8(ownFolder() + L"\\planted-ran.txt", L"ran\n");
    writeUtf8(L"planted-ran.txt", L"ran\n");
    return 0;
}
