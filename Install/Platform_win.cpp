// Windows side of the platform unit.

#include "Platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QUrl>

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace Platform {

namespace {

std::wstring wide(const QString &text)
{
    return text.toStdWString();
}

// The system folder ("C:\Windows\system32"; a 32-bit program on a 64-bit
// Windows is shown its 32-bit twin there). The system's tools are started
// from it by full path: by bare name, CreateProcess would look in the
// installer's own folder and the current folder first, and a program
// planted there would run with the installer's administrator rights.
QString systemFolder()
{
    wchar_t buffer[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? QString::fromWCharArray(buffer, int(length))
                                           : QStringLiteral("C:\\Windows\\system32");
}

QString systemProgram(const QString &name)
{
    return systemFolder() + QLatin1Char('\\') + name + QStringLiteral(".exe");
}

} // namespace

bool claimSingleInstance(const QString &title)
{
    // The first instance keeps its handle open for its whole life. A mutex
    // this process may not open belongs to an installer started with other
    // rights: that one runs already, too.
    HANDLE mutex = ::CreateMutexW(nullptr, TRUE, wide(title).c_str());
    const DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS || (!mutex && error == ERROR_ACCESS_DENIED)) {
        if (HWND window = ::FindWindowW(nullptr, wide(title).c_str()))
            ::ShowWindow(window, SW_SHOWNORMAL);
        if (mutex)
            ::CloseHandle(mutex);
        return false;
    }
    return true;
}

void serveSecondInstances(const QString &)
{
    // A second instance finds our window by its title itself.
}

void openConsole()
{
    if (::AllocConsole())
        (void)std::freopen("CONOUT$", "w+t", stdout);
}

QString nativeOsBits()
{
    using NativeSystemInfo = void(WINAPI *)(LPSYSTEM_INFO);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    auto getNativeSystemInfo =
        kernel ? reinterpret_cast<NativeSystemInfo>(::GetProcAddress(kernel, "GetNativeSystemInfo")) : nullptr;
    if (!getNativeSystemInfo)
        return QString();
    SYSTEM_INFO info{};
    getNativeSystemInfo(&info);
    const WORD arch = info.wProcessorArchitecture;
    return arch == PROCESSOR_ARCHITECTURE_AMD64 || arch == PROCESSOR_ARCHITECTURE_IA64 ? QStringLiteral("64")
                                                                                      : QStringLiteral("32");
}

void processorInfo(quint64 *activeMask, quint32 *revision)
{
    SYSTEM_INFO info{};
    ::GetSystemInfo(&info);
    *activeMask = quint64(info.dwActiveProcessorMask);
    *revision = info.wProcessorRevision;
}

std::unique_ptr<QSettings> openRegistryKey(const QString &keyPath)
{
    return std::make_unique<QSettings>(keyPath, QSettings::Registry32Format);
}

QString registryFilePath()
{
    return QString();
}

QString defaultInstallPath()
{
    return QStringLiteral("C:/Program Files (x86)/lumenrider");
}

// Starting a program takes Wine a good while of the thread that starts it,
// so tasklist is started, and waited for, on a thread of its own.
struct ImageListing::Run
{
    std::thread thread;
    QByteArray listing;
};

ImageListing::ImageListing(int timeoutMs) : run(std::make_unique<Run>())
{
    run->thread = std::thread([run = run.get(), timeoutMs] {
        const ThreadCrashStack crashStack;
        QProcess tasklist;
        tasklist.start(systemProgram(QStringLiteral("tasklist")), QStringList());
        if (!tasklist.waitForFinished(timeoutMs)) {
            tasklist.kill();
            tasklist.waitForFinished(1000);
            return;
        }
        run->listing = tasklist.readAllStandardOutput();
    });
}

ImageListing::~ImageListing()
{
    read();
}

QByteArray ImageListing::read()
{
    if (run->thread.joinable())
        run->thread.join();
    return run->listing;
}

QString toolProgram(const QString &tool)
{
    return systemProgram(tool);
}

QProcessEnvironment toolEnvironment()
{
    return QProcessEnvironment::systemEnvironment();
}

Command batchCommand(const QString &batchPath)
{
    // cmd.exe reads its own command line: quotes QProcess adds are stripped
    // when the text also holds ( ) & ^ @, and "%NAME%" is expanded even in
    // quotes. So the batch file is named relative to the folder it lies in,
    // which cmd runs in, and "/s" with a pair of outer quotes keeps the rest
    // as it stands; "/d" leaves out AutoRun commands of the registry.
    const QFileInfo batch(batchPath);
    Command command;
    command.program = systemProgram(QStringLiteral("cmd"));
    command.nativeArguments = QStringLiteral("/d /s /c \"\".\\") + batch.fileName() + QStringLiteral("\"\"");
    command.workingDirectory = QDir::toNativeSeparators(batch.absolutePath());
    return command;
}

void startCommand(QProcess &process, const Command &command)
{
    if (!command.workingDirectory.isEmpty())
        process.setWorkingDirectory(command.workingDirectory);
    if (!command.nativeArguments.isEmpty())
        process.setNativeArguments(command.nativeArguments);
    process.start(command.program, command.arguments);
}

bool createShortcut(const QString &linkPath, const QString &target)
{
    return QFile::link(target, linkPath);
}

QString launcherCommand(const QString &program)
{
    return QLatin1Char('"') + QDir::toNativeSeparators(program) + QLatin1Char('"');
}

namespace {

// cmd.exe expands %NAME% in a batch file even inside quotes; %% keeps one.
QString batchPercentsKept(const QString &text)
{
    QString kept = text;
    kept.replace(QLatin1Char('%'), QLatin1String("%%"));
    return kept;
}

} // namespace

QString batchTaskTarget(const QString &program)
{
    // The tool reads \" as a quote of the path; cmd.exe sees the path itself
    // outside quotes, where & | < > ^ ( ) are its own unless a caret keeps
    // them literal (it takes the carets away before the tool sees the line).
    QString path;
    for (const QChar c : batchPercentsKept(QDir::toNativeSeparators(program))) {
        if (QStringLiteral("&|<>^()").contains(c))
            path += QLatin1Char('^');
        path += c;
    }
    return QStringLiteral("\"\\\"") + path + QStringLiteral("\\\"\"");
}

QString batchProgram(const QString &program)
{
    return QLatin1Char('"') + batchPercentsKept(QDir::toNativeSeparators(program)) + QLatin1Char('"');
}

QVector<FolderEntry> listFolder(const QString &path, bool *readable)
{
    QVector<FolderEntry> entries;
    if (readable) {
        const QFileInfo folder(path);
        *readable = folder.isDir() && folder.isReadable();
    }
    const QFileInfoList listed =
        QDir(path).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    entries.reserve(listed.size());
    for (const QFileInfo &entry : listed)
        entries.append({entry.fileName(), entry.isDir() && !entry.isSymLink()});
    return entries;
}

FolderCount countFolder(const QString &path)
{
    FolderCount count;
    for (const FolderEntry &entry : listFolder(path)) {
        if (entry.folder)
            count.folders.append(entry.name);
        else
            ++count.files;
    }
    return count;
}

namespace {

// The "\\?\" form of a path: the system takes it as it stands, also past
// MAX_PATH, which a copy's temporary name can push a target over.
std::wstring longPath(const QString &path)
{
    const QString native = QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    if (native.startsWith(QLatin1String("\\\\?\\")))
        return wide(native);
    if (native.startsWith(QLatin1String("\\\\")))
        return L"\\\\?\\UNC\\" + wide(native.mid(2));
    return L"\\\\?\\" + wide(native);
}

bool isFolderLink(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
           && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A link to a folder is copied as a link to the same folder, never
// followed; an existing link in its place is replaced, a real folder kept.
bool copyFolderLink(const QString &source, const std::wstring &to, bool replaceExisting)
{
    const QString destination = QFileInfo(source).symLinkTarget();
    if (destination.isEmpty())
        return false;
    const DWORD existing = ::GetFileAttributesW(to.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES) {
        if (!replaceExisting || !isFolderLink(existing) || !::RemoveDirectoryW(to.c_str()))
            return false;
    }
    return ::CreateSymbolicLinkW(to.c_str(), wide(QDir::toNativeSeparators(destination)).c_str(),
                                 SYMBOLIC_LINK_FLAG_DIRECTORY);
}

} // namespace

// Both folders in the long form once; each file is reached by its name in them.
struct FolderCopy::Folders
{
    QString source;
    std::wstring longSource;
    std::wstring longTarget;
};

namespace {

// A folder's long form ready for a name to be put after it; a drive's root
// ends in its separator already, and the long form takes no doubled one.
std::wstring longFolder(const QString &folder)
{
    std::wstring path = longPath(folder);
    if (path.empty() || path.back() != L'\\')
        path += L'\\';
    return path;
}

} // namespace

FolderCopy::FolderCopy(const QString &sourceFolder, const QString &targetFolder)
    : folders(new Folders{sourceFolder, longFolder(sourceFolder), longFolder(targetFolder)})
{
}

FolderCopy::~FolderCopy() = default;

namespace {

// The temporary names of copies in progress, as on every system: a dot,
// the target's name, this marker and six random letters or digits.
const wchar_t temporaryMarker[] = L".lrtmp-";
const size_t temporaryMarkerLength = sizeof(temporaryMarker) / sizeof(*temporaryMarker) - 1;
const size_t temporarySuffixLength = 6;

std::wstring temporaryName(const std::wstring &name)
{
    // The process and thread go into the seed: a runtime whose random
    // device is weak still gives two installers different names.
    static thread_local std::mt19937 generator = [] {
        LARGE_INTEGER counter{};
        ::QueryPerformanceCounter(&counter);
        std::random_device device;
        std::seed_seq seed{device(), unsigned(::GetCurrentProcessId()), unsigned(::GetCurrentThreadId()),
                           unsigned(counter.LowPart), unsigned(counter.HighPart)};
        return std::mt19937(seed);
    }();
    static const wchar_t letters[] = L"abcdefghijklmnopqrstuvwxyz0123456789";
    std::wstring temporary = L"." + name + temporaryMarker;
    // 36 to the 6th is less than 2 to the 32nd: one draw gives all six.
    for (quint32 draw = generator(), i = 0; i < temporarySuffixLength; ++i, draw /= 36)
        temporary += letters[draw % 36];
    return temporary;
}

// True for a name that temporaryName makes, and for no other: a folder may
// hold files of the user's with names that merely look alike.
bool isTemporaryName(const std::wstring &name)
{
    const size_t length = name.size();
    if (length < 2 + temporaryMarkerLength + temporarySuffixLength || name[0] != L'.')
        return false;
    const size_t suffix = length - temporarySuffixLength;
    if (name.compare(suffix - temporaryMarkerLength, temporaryMarkerLength, temporaryMarker) != 0)
        return false;
    for (size_t i = suffix; i < length; ++i) {
        const wchar_t c = name[i];
        if (!((c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9')))
            return false;
    }
    return true;
}

// The attributes a copy takes over from its source, as CopyFileW gives
// them; the rest (compressed, encrypted, sparse, ...) are not set this way.
const DWORD copiedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM
                               | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// The copy under its temporary name: created hidden and open for its
// content, its time and its rename, so that after the content nothing
// reaches it by path again.
struct HiddenCopy
{
    enum Result { Made, NameTaken, Failed } result = Failed;
    HANDLE file = INVALID_HANDLE_VALUE;
};

// The content of `from` into the new file `temporary`, which is hidden
// from the moment it exists: Explorer and the listing of a later release
// never show it, also when a kill leaves it behind. CopyFileW can't make
// its target hidden before it has written it, so the copy is made here,
// keeping the time of the last change as CopyFileW does. The source may be
// written meanwhile (the log beside the installer): the copy then has what
// was there when it read. A failed copy removes what it wrote; a made one
// is left open for its caller.
HiddenCopy copyIntoHiddenFile(const std::wstring &from, const std::wstring &temporary)
{
    HiddenCopy copy;
    const HANDLE in = ::CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (in == INVALID_HANDLE_VALUE)
        return copy;
    const HANDLE out = ::CreateFileW(temporary.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(in);
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
            copy.result = HiddenCopy::NameTaken;
        return copy;
    }
    // As large as the system's own whole-file copy reads: larger ones only
    // cost memory and cache.
    static thread_local std::vector<char> buffer(64 * 1024);
    bool ok = true;
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(in, buffer.data(), DWORD(buffer.size()), &got, nullptr)) {
            ok = false;
            break;
        }
        if (got == 0)
            break;
        DWORD written = 0;
        if (!::WriteFile(out, buffer.data(), got, &written, nullptr) || written != got) {
            ok = false; // a full disk says so here
            break;
        }
    }
    FILETIME changed{};
    if (ok && ::GetFileTime(in, nullptr, nullptr, &changed))
        ::SetFileTime(out, nullptr, nullptr, &changed);
    ::CloseHandle(in);
    if (!ok) {
        ::CloseHandle(out);
        ::DeleteFileW(temporary.c_str());
        return copy;
    }
    copy.result = HiddenCopy::Made;
    copy.file = out;
    return copy;
}

// The open file put under the name `to`, through its handle; an existing
// file of that name is replaced only if asked. False, with the system's
// error, if it could not be.
bool renameOpenFile(HANDLE file, const std::wstring &to, bool replaceExisting)
{
    const size_t nameBytes = to.size() * sizeof(wchar_t);
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
    auto *rename = reinterpret_cast<FILE_RENAME_INFO *>(buffer.data());
    rename->ReplaceIfExists = replaceExisting ? TRUE : FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = DWORD(nameBytes);
    std::copy(to.begin(), to.end(), rename->FileName);
    return ::SetFileInformationByHandle(file, FileRenameInfo, rename, DWORD(buffer.size()));
}

// The copy under the target's name. A fresh install has no target yet, so
// the plain rename comes first; only when the name is taken is the target
// looked at: a read-only one stays as it is, and so does any existing one
// unless replacing was asked.
bool putInPlace(HANDLE file, const std::wstring &to, bool replaceExisting)
{
    if (renameOpenFile(file, to, false))
        return true;
    const DWORD error = ::GetLastError();
    if ((error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) || !replaceExisting)
        return false;
    const DWORD existing = ::GetFileAttributesW(to.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY))
        return false;
    return renameOpenFile(file, to, true);
}

// The attributes the source gives its copy, set through the copy's handle;
// the time set with its content stays (zero leaves a time as it is).
void setCopiedAttributes(HANDLE file, DWORD sourceAttributes)
{
    FILE_BASIC_INFO basic{};
    const DWORD attributes = sourceAttributes & copiedAttributes;
    basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    ::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof(basic));
}

} // namespace

int FolderCopy::removeLeftovers()
{
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW((folders->longTarget + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int removed = 0;
    do {
        const std::wstring name = found.cFileName;
        // Copies are files; a folder of that name is not ours, nor is a
        // read-only file, which no copy makes.
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0
            && isTemporaryName(name) && ::DeleteFileW((folders->longTarget + name).c_str()))
            ++removed;
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return removed;
}

bool FolderCopy::copy(const QString &name, bool replaceExisting)
{
    const std::wstring from = folders->longSource + wide(name);
    const std::wstring to = folders->longTarget + wide(name);
    const DWORD source = ::GetFileAttributesW(from.c_str());
    if (source == INVALID_FILE_ATTRIBUTES)
        return false;
    if (isFolderLink(source))
        return copyFolderLink(folders->source + QLatin1Char('/') + name, to, replaceExisting);
    // Asked to keep what is there, a copy would be made for nothing.
    if (!replaceExisting && ::GetFileAttributesW(to.c_str()) != INVALID_FILE_ATTRIBUTES)
        return false;
    // Written beside the target and put in its place once whole, also where
    // no file is there yet: a copy cut off never leaves part of a file
    // under the target's name. A name that is taken already is a stale
    // copy's: another one is drawn.
    std::wstring temporary;
    HiddenCopy made;
    made.result = HiddenCopy::NameTaken;
    for (int attempt = 0; attempt < 100 && made.result == HiddenCopy::NameTaken; ++attempt) {
        temporary = folders->longTarget + temporaryName(wide(name));
        made = copyIntoHiddenFile(from, temporary);
    }
    if (made.result != HiddenCopy::Made)
        return false;
    if (!putInPlace(made.file, to, replaceExisting)) {
        ::CloseHandle(made.file);
        ::DeleteFileW(temporary.c_str());
        return false;
    }
    // Its own attributes at last, as CopyFileW would have given them; a
    // kill just before leaves the whole file, hidden, for the next
    // release to replace. The file is the target's now: whatever its
    // close says, it is never removed.
    setCopiedAttributes(made.file, source);
    return ::CloseHandle(made.file);
}

bool appendToFile(const QString &path, const QByteArray &bytes)
{
    const HANDLE file = ::CreateFileW(wide(QDir::toNativeSeparators(path)).c_str(), FILE_APPEND_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok = ::WriteFile(file, bytes.constData(), DWORD(bytes.size()), &written, nullptr)
                    && written == DWORD(bytes.size());
    return ::CloseHandle(file) && ok;
}

bool launchClient(const QString &program, const QStringList &parameters, int *errorCode)
{
    const QString file = QLatin1Char('"') + program + QLatin1Char('"');
    const QString arguments = parameters.join(QLatin1Char(' '));
    const auto result = reinterpret_cast<INT_PTR>(::ShellExecuteW(
        nullptr, L"open", wide(file).c_str(), arguments.isEmpty() ? nullptr : wide(arguments).c_str(), nullptr,
        SW_SHOW));
    *errorCode = int(result);
    return result > 32;
}

void openWebAddress(const QUrl &url)
{
    // Fully encoded, the address holds no quote or blank that could end the
    // parameter early.
    const QString parameter = QLatin1Char('"') + QString::fromLatin1(url.toEncoded()) + QLatin1Char('"');
    ::ShellExecuteW(nullptr, L"open", L"explorer.exe", wide(parameter).c_str(), nullptr, SW_HIDE);
}

void installCrashHandler()
{
}

void setCrashReporterValue(const QString &, const QString &)
{
}

// The crash filter runs on a helper thread of its own.
ThreadCrashStack::ThreadCrashStack() = default;
ThreadCrashStack::~ThreadCrashStack() = default;

CrashReport pendingCrashReport()
{
    return CrashReport();
}

} // namespace Platform
