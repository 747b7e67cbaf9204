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

#include <cstdio>
#include <string>

namespace Platform {

namespace {

std::wstring wide(const QString &text)
{
    return text.toStdWString();
}

} // namespace

bool claimSingleInstance(const QString &title)
{
    // The first instance keeps its handle open for its whole life.
    HANDLE mutex = ::CreateMutexW(nullptr, TRUE, wide(title).c_str());
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
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

QByteArray installerImageListing(int timeoutMs)
{
    QProcess listing;
    listing.start(QStringLiteral("tasklist.exe"), QStringList());
    if (!listing.waitForFinished(timeoutMs))
        return QByteArray();
    return listing.readAllStandardOutput();
}

QString toolProgram(const QString &tool)
{
    return tool;
}

QProcessEnvironment toolEnvironment()
{
    return QProcessEnvironment::systemEnvironment();
}

Command batchCommand(const QString &batchPath)
{
    return {QStringLiteral("cmd.exe"), {QStringLiteral("/c"), QDir::toNativeSeparators(batchPath)}};
}

bool createShortcut(const QString &linkPath, const QString &target)
{
    return QFile::link(target, linkPath);
}

QString launcherCommand(const QString &program)
{
    return QLatin1Char('"') + QDir::toNativeSeparators(program) + QLatin1Char('"');
}

QString batchTaskTarget(const QString &program)
{
    // cmd.exe expands %NAME% in a batch file even inside quotes; %% keeps one.
    QString path = QDir::toNativeSeparators(program);
    path.replace(QLatin1Char('%'), QLatin1String("%%"));
    return QStringLiteral("\"\\\"") + path + QStringLiteral("\\\"\"");
}

QVector<FolderEntry> listFolder(const QString &path)
{
    QVector<FolderEntry> entries;
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

struct FolderCopy::Folders
{
    QString source;
    QString target;
};

FolderCopy::FolderCopy(const QString &sourceFolder, const QString &targetFolder)
    : folders(new Folders{sourceFolder, targetFolder})
{
}

FolderCopy::~FolderCopy() = default;

bool FolderCopy::copy(const QString &name, bool replaceExisting)
{
    const QString source = folders->source + QLatin1Char('/') + name;
    const std::wstring to = wide(QDir::toNativeSeparators(folders->target + QLatin1Char('/') + name));
    if (!replaceExisting && ::GetFileAttributesW(to.c_str()) != INVALID_FILE_ATTRIBUTES)
        return false;
    const std::wstring temporary = to + L".lrtmp-" + std::to_wstring(::GetCurrentProcessId()) + L"-"
                                   + std::to_wstring(::GetCurrentThreadId());
    // Moving over a read-only target is refused, so such a file stays.
    if (::CopyFileW(wide(QDir::toNativeSeparators(source)).c_str(), temporary.c_str(), FALSE)
        && ::MoveFileExW(temporary.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING))
        return true;
    ::DeleteFileW(temporary.c_str());
    return false;
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

void installCrashHandler(const QStringList &)
{
}

CrashReport pendingCrashReport()
{
    return CrashReport();
}

} // namespace Platform
