// The baseline of the Windows release benchmark: the system's own
// whole-file copy, CopyFileW, called for each file of a tree, and nothing
// else. Folders are walked with FindFirstFileW and made with
// CreateDirectoryW; a failure ends the copy (exit 1).
//
//   copyloop SOURCE TARGET   prints the seconds the copy took
//
// It times itself, from the first listing to the last copy: the start of
// the process under Wine is no part of the copy.

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

bool copyTree(const std::wstring &source, const std::wstring &target)
{
    if (!::CreateDirectoryW(target.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW((source + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    bool ok = true;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const std::wstring from = source + L'\\' + name;
        const std::wstring to = target + L'\\' + name;
        ok = found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? copyTree(from, to)
                                                               : ::CopyFileW(from.c_str(), to.c_str(), FALSE) != 0;
    } while (ok && ::FindNextFileW(search, &found));
    ::FindClose(search);
    return ok;
}

} // namespace

int wmain(int argc, wchar_t *argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: copyloop SOURCE TARGET\n");
        return 2;
    }
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    const bool ok = copyTree(argv[1], argv[2]);
    ::QueryPerformanceCounter(&end);
    std::printf("%.6f\n", double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart));
    std::fflush(stdout);
    return ok ? 0 : 1;
}
