// The Windows side of the platform unit and the Windows-only start-up code,
// run as a Windows program under Wine: the named mutex and the window a
// second start brings forward, the console, the 64-bit test, the registry
// through the 32-bit view, the default folder, the log sink's code page,
// whole-file copies, shortcuts, ShellExecute, the system tools by full path,
// and the logon-task batch file under cmd.exe.

#include "Info.h"
#include "Operation.h"
#include "Platform.h"
#include "WindowsTestSupport.h"
#include "main.h"

#include <QApplication>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QWindow>
#include <QtTest>

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>
#include <cstring>
#include <io.h>

namespace {

const QString clientKey = QStringLiteral(
    "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\流光骑士");
const QString markerKey = QStringLiteral(
    "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\LRI");

QString helperProgram()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/test_helper.exe");
}

const wchar_t *w(const QString &text)
{
    return reinterpret_cast<const wchar_t *>(text.utf16());
}

// A value of the real registry, read past Qt in the 64-bit view, where
// a 32-bit program's HKLM\Software is WOW6432Node.
struct RegistryValue
{
    bool found = false;
    DWORD type = REG_NONE;
    QString text;
    DWORD number = 0;
};

RegistryValue readMachineValue(const QString &key, const QString &name)
{
    RegistryValue value;
    HKEY handle = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, w(key), 0, KEY_READ | KEY_WOW64_64KEY, &handle) != ERROR_SUCCESS)
        return value;
    BYTE data[4096];
    DWORD size = sizeof(data);
    if (::RegQueryValueExW(handle, w(name), nullptr, &value.type, data, &size) == ERROR_SUCCESS) {
        value.found = true;
        if (value.type == REG_SZ)
            value.text = QString::fromWCharArray(reinterpret_cast<const wchar_t *>(data),
                                                 int(size / sizeof(wchar_t))).section(QChar(0), 0, 0);
        else if (value.type == REG_DWORD)
            std::memcpy(&value.number, data, sizeof(DWORD));
    }
    ::RegCloseKey(handle);
    return value;
}

void deleteMachineKey(const QString &key)
{
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, w(key), KEY_WOW64_64KEY, 0);
}

// What a shell link points at, as the shell reads it.
QString shellLinkTarget(const QString &linkPath)
{
    QString target;
    IShellLinkW *link = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void **>(&link))))
        return target;
    IPersistFile *file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file)))) {
        if (SUCCEEDED(file->Load(w(QDir::toNativeSeparators(linkPath)), STGM_READ))) {
            wchar_t path[MAX_PATH] = {};
            if (SUCCEEDED(link->GetPath(path, MAX_PATH, nullptr, 0)))
                target = QString::fromWCharArray(path);
        }
        file->Release();
    }
    link->Release();
    return target;
}

QStringList recordedArguments(const QString &file)
{
    QStringList lines = QString::fromUtf8(readWholeFile(file)).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// Runs `program` and waits for its end while this thread's messages go on
// (a window of ours may be what it talks to).
int runAndWait(QProcess &process, const QString &program, const QStringList &arguments, int timeoutMs = 120000)
{
    process.start(program, arguments);
    if (!process.waitForStarted(30000))
        return -1;
    QDeadlineTimer deadline(timeoutMs);
    while (process.state() != QProcess::NotRunning && !deadline.hasExpired())
        QTest::qWait(50);
    return process.state() == QProcess::NotRunning ? process.exitCode() : -2;
}

} // namespace

class TestPlatformWin : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();

    void secondStartShowsTheFirstWindow();
    void mutexOfAnotherRightsCountsAsRunning();
    void consoleForTheConsoleFlags();
    void nativeBitsAndProcessor();
    void defaultInstallFolderWithNothingRecorded();
    void uninstallEntryInThe32BitView();
    void logFilesInTheLocalCodePage();
    void wholeFileCopies_data();
    void wholeFileCopies();
    void copyWhoseTemporaryNameWouldPassMaxPath();
    void folderLinkInThePayload();
    void releaseFromTheRootOfADrive();
    void shortcutsAreShellLinks();
    void clientStartedByShellExecute();
    void systemToolsByTheirFullPath();
    void batchFileKeepsShellCharactersLiteral_data();
    void batchFileKeepsShellCharactersLiteral();
};

void TestPlatformWin::initTestCase()
{
    QCOMPARE(::GetACP(), UINT(936));
    QVERIFY2(QFileInfo::exists(helperProgram()), qPrintable(helperProgram()));
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
}

void TestPlatformWin::secondStartShowsTheFirstWindow()
{
    QVERIFY(Platform::claimSingleInstance(installerTitle));
    QWindow window;
    window.setTitle(installerTitle);
    const HWND handle = reinterpret_cast<HWND>(window.winId());
    QVERIFY(!::IsWindowVisible(handle));

    QProcess second;
    QCOMPARE(runAndWait(second, QCoreApplication::applicationFilePath(), {QStringLiteral("--second-start")}), 0);
    QCOMPARE(second.readAllStandardOutput().trimmed(), QByteArray("already running"));
    QTRY_VERIFY(::IsWindowVisible(handle));
}

void TestPlatformWin::mutexOfAnotherRightsCountsAsRunning()
{
    // A mutex nobody may open, as one made by an installer with other rights.
    const QString name = QStringLiteral("流光测试-%1").arg(QCoreApplication::applicationPid());
    SECURITY_DESCRIPTOR descriptor;
    ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    ACL emptyAcl;
    ::InitializeAcl(&emptyAcl, sizeof(emptyAcl), ACL_REVISION);
    ::SetSecurityDescriptorDacl(&descriptor, TRUE, &emptyAcl, FALSE);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), &descriptor, FALSE};
    HANDLE held = ::CreateMutexW(&attributes, TRUE, w(name));
    QVERIFY(held);
    HANDLE again = ::CreateMutexW(nullptr, TRUE, w(name));
    const DWORD error = ::GetLastError();
    if (again)
        ::CloseHandle(again);
    if (again || error != ERROR_ACCESS_DENIED) {
        ::CloseHandle(held);
        QSKIP("this Windows lets the mutex be opened; nothing to refuse");
    }
    QVERIFY(!Platform::claimSingleInstance(name));
    ::CloseHandle(held);
}

void TestPlatformWin::consoleForTheConsoleFlags()
{
    QTemporaryDir dir;
    const QString report = dir.filePath(QStringLiteral("console.txt"));
    QProcess child;
    QCOMPARE(runAndWait(child, QCoreApplication::applicationFilePath(), {QStringLiteral("--open-console"), report}),
             0);
    QCOMPARE(readWholeFile(report), QByteArray("console window, standard output on it"));
}

void TestPlatformWin::nativeBitsAndProcessor()
{
    BOOL wow64 = FALSE;
    QVERIFY(::IsWow64Process(::GetCurrentProcess(), &wow64));
    // This 32-bit program runs on a 64-bit Windows exactly when it runs under WOW64.
    QCOMPARE(Platform::nativeOsBits(), wow64 ? QStringLiteral("64") : QStringLiteral("32"));
    SYSTEM_INFO info{};
    ::GetSystemInfo(&info);
    quint64 mask = 0;
    quint32 revision = 0;
    Platform::processorInfo(&mask, &revision);
    QVERIFY(mask != 0);
    QCOMPARE(mask, quint64(info.dwActiveProcessorMask));
    QCOMPARE(revision, quint32(info.wProcessorRevision));
}

void TestPlatformWin::defaultInstallFolderWithNothingRecorded()
{
    deleteMachineKey(clientKey);
    initInstallInfo();
    QCOMPARE(installPath, QStringLiteral("C:/Program Files (x86)/lumenrider"));
    QCOMPARE(configPath, QStringLiteral("C:/Program Files (x86)/lumenrider/temp/config/config.ini"));

    // A recorded folder is taken as it is stored, back-slashes and all.
    HKEY key = nullptr;
    QCOMPARE(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, w(clientKey), 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY,
                               nullptr, &key, nullptr),
             LONG(ERROR_SUCCESS));
    const QString recorded = QStringLiteral("D:\\游戏\\流光 (1)");
    ::RegSetValueExW(key, L"InstallPath", 0, REG_SZ, reinterpret_cast<const BYTE *>(recorded.utf16()),
                     DWORD((recorded.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
    initInstallInfo();
    QCOMPARE(installPath, recorded);
    deleteMachineKey(clientKey);
}

void TestPlatformWin::uninstallEntryInThe32BitView()
{
    deleteMachineKey(clientKey);
    deleteMachineKey(markerKey);
    installPath = QStringLiteral("C:/Program Files (x86)/流光 (1)");
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    Operation operation;
    QVERIFY(operation.writeregedit());

    struct Expected
    {
        const char *name;
        DWORD type;
        QString text;
    };
    const Expected expected[] = {
        {"DisplayName", REG_SZ, QStringLiteral("流光骑士")},
        {"DisplayVersion", REG_SZ, QStringLiteral("1.6.9")},
        {"Publisher", REG_SZ, QStringLiteral("远帆信息科技有限公司")},
        {"InstallPath", REG_SZ, installPath},
        {"UninstallString", REG_SZ, QStringLiteral("C:\\Program Files (x86)\\流光 (1)\\unInstall.exe")},
        {"DisplayIcon", REG_SZ, QStringLiteral("C:\\Program Files (x86)\\流光 (1)\\lumenrider.exe")},
    };
    for (const Expected &value : expected) {
        const RegistryValue read = readMachineValue(clientKey, QLatin1String(value.name));
        QVERIFY2(read.found, value.name);
        QCOMPARE(read.type, value.type);
        QCOMPARE(read.text, value.text);
    }
    const RegistryValue time = readMachineValue(clientKey, QStringLiteral("InstallTime"));
    QVERIFY(time.found);
    QCOMPARE(time.type, DWORD(REG_DWORD));
    QVERIFY(qint64(time.number) >= before && qint64(time.number) <= before + 60);
    const RegistryValue marker = readMachineValue(markerKey, QStringLiteral("xinstall"));
    QCOMPARE(marker.type, DWORD(REG_SZ));
    QCOMPARE(marker.text, QStringLiteral("1"));

    // What start-up reads back of it.
    checkSecondInstall();
    QCOMPARE(secondInstall, QStringLiteral("是"));
    deleteMachineKey(clientKey);
    deleteMachineKey(markerKey);
}

void TestPlatformWin::logFilesInTheLocalCodePage()
{
    const QString errorLog = installerFolder() + QStringLiteral("/Errorlog.txt");
    QFile::remove(errorLog);
    fullLogMode = false;
    const QString text = QStringLiteral("<释放文件>:中文路径 C:/流光 100%");
    QMessageLogContext context("tst_platform_win.cpp", 7, "void test()", "default");
    logMessageHandler(QtWarningMsg, context, text);
    const QByteArray written = readWholeFile(errorLog);
    QTextCodec *gbk = QTextCodec::codecForName("GBK");
    QVERIFY(gbk);
    QVERIFY2(written.contains(gbk->fromUnicode(text)), written.constData());
    QVERIFY(!written.contains(text.toUtf8()));
    QCOMPARE(QString::fromLocal8Bit(written).contains(text), true);
    QVERIFY(written.startsWith(gbk->fromUnicode(QStringLiteral("【Error】["))));
    QFile::remove(errorLog);
}

void TestPlatformWin::wholeFileCopies_data()
{
    QTest::addColumn<QByteArray>("existing");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<bool>("replace");
    QTest::addColumn<bool>("copied");

    QTest::newRow("new file") << QByteArray() << false << true << true;
    QTest::newRow("existing file replaced") << QByteArray("old content") << false << true << true;
    QTest::newRow("existing file kept when not to be replaced") << QByteArray("old content") << false << false
                                                                << false;
    QTest::newRow("read-only file kept") << QByteArray("old content") << true << true << false;
}

void TestPlatformWin::wholeFileCopies()
{
    QFETCH(QByteArray, existing);
    QFETCH(bool, readOnly);
    QFETCH(bool, replace);
    QFETCH(bool, copied);

    QTemporaryDir source;
    QTemporaryDir target;
    const QByteArray content(300000, 'n');
    QVERIFY(writeWholeFile(source.filePath(QStringLiteral("数据 (1).bin")), content));
    const QString to = target.filePath(QStringLiteral("数据 (1).bin"));
    if (!existing.isEmpty())
        QVERIFY(writeWholeFile(to, existing));
    if (readOnly)
        ::SetFileAttributesW(w(QDir::toNativeSeparators(to)), FILE_ATTRIBUTE_READONLY);

    Platform::FolderCopy copy(source.path(), target.path());
    QCOMPARE(copy.copy(QStringLiteral("数据 (1).bin"), replace), copied);
    QCOMPARE(readWholeFile(to), copied ? content : existing);
    // Nothing but the file itself is left in the folder.
    QCOMPARE(QDir(target.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
             QStringList{QStringLiteral("数据 (1).bin")});
    ::SetFileAttributesW(w(QDir::toNativeSeparators(to)), FILE_ATTRIBUTE_NORMAL);
}

void TestPlatformWin::copyWhoseTemporaryNameWouldPassMaxPath()
{
    QTemporaryDir source;
    QTemporaryDir target;
    // The target's path fits in MAX_PATH (259 characters and the end);
    // its name with a temporary suffix would not.
    const int room = 250 - QDir::toNativeSeparators(target.path()).size() - 1;
    QVERIFY(room > 20);
    const QString name = QString(room - 4, QLatin1Char('n')) + QStringLiteral(".bin");
    QVERIFY(writeWholeFile(source.filePath(name), "new"));
    QVERIFY(writeWholeFile(target.filePath(name), "old"));
    QVERIFY(QDir::toNativeSeparators(target.filePath(name)).size() < MAX_PATH);

    Platform::FolderCopy copy(source.path(), target.path());
    QVERIFY(copy.copy(name, true));
    QCOMPARE(readWholeFile(target.filePath(name)), QByteArray("new"));
    QCOMPARE(QDir(target.path()).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{name});
}

void TestPlatformWin::folderLinkInThePayload()
{
    QTemporaryDir source;
    QTemporaryDir target;
    QTemporaryDir elsewhere;
    QVERIFY(writeWholeFile(elsewhere.filePath(QStringLiteral("inside.txt")), "inside"));
    const QString link = QDir::toNativeSeparators(source.filePath(QStringLiteral("shared")));
    if (!::CreateSymbolicLinkW(w(link), w(QDir::toNativeSeparators(elsewhere.path())),
                               SYMBOLIC_LINK_FLAG_DIRECTORY))
        QSKIP("this Windows makes no folder links here");
    if (!QFileInfo(link).isSymLink())
        QSKIP("this Windows shows folder links as plain folders");

    // The listing shows the link as an entry of its own, not a folder to
    // descend into, and the copy makes the same link.
    const QVector<Platform::FolderEntry> entries = Platform::listFolder(source.path());
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries.first().name, QStringLiteral("shared"));
    QVERIFY(!entries.first().folder);
    Platform::FolderCopy copy(source.path(), target.path());
    QVERIFY(copy.copy(QStringLiteral("shared"), true));
    const QFileInfo copied(target.filePath(QStringLiteral("shared")));
    QVERIFY(copied.isSymLink());
    QCOMPARE(QFileInfo(copied.symLinkTarget()), QFileInfo(elsewhere.path()));
    QCOMPARE(readWholeFile(target.filePath(QStringLiteral("shared/inside.txt"))), QByteArray("inside"));
}

// An installer on a USB stick at E:\ installing to E:\lumenrider: the
// listing of E:\ holds the new folder, which must not be copied into itself.
void TestPlatformWin::releaseFromTheRootOfADrive()
{
    QVERIFY(QFileInfo(QStringLiteral("E:/")).isDir());
    QVERIFY(writeWholeFile(QStringLiteral("E:/lumenrider.exe"), "MZ"));
    QVERIFY(writeWholeFile(QStringLiteral("E:/data/流光.dat"), "data"));
    installPath = QStringLiteral("E:/lumenrider");
    Operation operation;
    int count = 0;
    operation.releasefilecount(QStringLiteral("E:/"), count);
    QCOMPARE(count, 2);
    releaseTotal = count;
    releaseDone = 0;
    QVERIFY(operation.copyfile(QStringLiteral("E:/"), installPath, true));
    QCOMPARE(readWholeFile(QStringLiteral("E:/lumenrider/lumenrider.exe")), QByteArray("MZ"));
    QCOMPARE(readWholeFile(QStringLiteral("E:/lumenrider/data/流光.dat")), QByteArray("data"));
    QVERIFY(!QFileInfo::exists(QStringLiteral("E:/lumenrider/lumenrider")));
}

void TestPlatformWin::shortcutsAreShellLinks()
{
    QTemporaryDir dir;
    const QString client = dir.filePath(QStringLiteral("流光 (1)/lumenrider.exe"));
    QVERIFY(writeWholeFile(client, "MZ"));
    const QString link = dir.filePath(QStringLiteral("流光骑士.lnk"));
    QVERIFY(Platform::createShortcut(link, client));
    // A shell link's header: its size, 0x4c, then the link class id.
    QVERIFY(readWholeFile(link).startsWith(QByteArray::fromHex("4c0000000114020000000000c000000000000046")));
    QCOMPARE(QFileInfo(shellLinkTarget(link)), QFileInfo(client));
}

void TestPlatformWin::clientStartedByShellExecute()
{
    QTemporaryDir dir;
    const QString record = dir.filePath(QStringLiteral("参数.txt"));
    int error = -1;
    QVERIFY(Platform::launchClient(helperProgram(),
                                   {QStringLiteral("--record"), QDir::toNativeSeparators(record),
                                    QStringLiteral("--t"), QStringLiteral("--d")},
                                   &error));
    QVERIFY(error > 32);
    QTRY_COMPARE_WITH_TIMEOUT(recordedArguments(record), (QStringList{"--t", "--d"}), 60000);

    QVERIFY(!Platform::launchClient(dir.filePath(QStringLiteral("不在.exe")), {}, &error));
    QVERIFY(error <= 32);
}

void TestPlatformWin::systemToolsByTheirFullPath()
{
    wchar_t system[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
    const QString folder = QString::fromWCharArray(system, int(length));
    for (const char *name : {"tasklist", "taskkill", "sc", "schtasks"})
        QCOMPARE(Platform::toolProgram(QLatin1String(name)), folder + QLatin1Char('\\') + QLatin1String(name) + ".exe");

    // A tasklist.exe beside the installer and in the current folder is not
    // what the channel scan runs.
    QTemporaryDir current;
    const QString besideUs = QCoreApplication::applicationDirPath() + QStringLiteral("/tasklist.exe");
    QVERIFY(QFile::copy(helperProgram(), besideUs));
    QVERIFY(QFile::copy(helperProgram(), current.filePath(QStringLiteral("tasklist.exe"))));
    QFile::setPermissions(current.filePath(QStringLiteral("tasklist.exe")), QFile::ReadOwner | QFile::WriteOwner);
    const QString before = QDir::currentPath();
    QDir::setCurrent(current.path());
    Platform::ImageListing(30000).read();
    Platform::Command batch = Platform::batchCommand(current.filePath(QStringLiteral("autostart.bat")));
    QDir::setCurrent(before);
    QFile::remove(besideUs);
    QVERIFY(!QFileInfo::exists(current.filePath(QStringLiteral("planted-ran.txt"))));
    QVERIFY(!QFileInfo::exists(QCoreApplication::applicationDirPath() + QStringLiteral("/planted-ran.txt")));
    QCOMPARE(batch.program, folder + QStringLiteral("\\cmd.exe"));
}

void TestPlatformWin::batchFileKeepsShellCharactersLiteral_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("spaces and parentheses") << QStringLiteral("Program Files (x86)/流光 (1)");
    QTest::newRow("ampersand") << QStringLiteral("Games & Apps");
    QTest::newRow("caret and percent") << QStringLiteral("a^b 100% %PATH%");
    QTest::newRow("command after ampersand") << QStringLiteral("x&echo 流光&(y)");
}

void TestPlatformWin::batchFileKeepsShellCharactersLiteral()
{
    QFETCH(QString, folder);
    QTemporaryDir dir;
    // The batch file lies in the awkward folder too, as it does beside an
    // installer downloaded into one.
    const QString where = dir.filePath(folder);
    QVERIFY(QDir().mkpath(where));
    const QString client = where + QStringLiteral("/lumenrider.exe");
    const QString record = dir.filePath(QStringLiteral("record.txt"));
    const QString line = Platform::batchProgram(helperProgram()) + QStringLiteral(" --record ")
                         + Platform::batchProgram(record) + QStringLiteral(" /tr ")
                         + Platform::batchTaskTarget(client);
    const QString batchPath = where + QStringLiteral("/autostart.bat");
    QVERIFY(writeWholeFile(batchPath, line.toLocal8Bit()));

    QProcess process;
    Platform::startCommand(process, Platform::batchCommand(batchPath));
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(recordedArguments(record),
             (QStringList{"/tr", QLatin1Char('"') + QDir::toNativeSeparators(client) + QLatin1Char('"')}));
    QVERIFY(!QFileInfo::exists(where + QStringLiteral("/planted-ran.txt")));
}

namespace {

// A second start of the installer: claims the instance, says whether it
// was the first, and ends with 0 as the installer does.
int secondStart()
{
    const bool first = Platform::claimSingleInstance(installerTitle);
    std::fputs(first ? "first" : "already running", stdout);
    std::fflush(stdout);
    return 0;
}

// What "--t" does, and where standard output then goes.
int openConsoleAndReport(const char *reportPath)
{
    ::FreeConsole();
    Platform::openConsole();
    const HANDLE out = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout)));
    const bool onConsole = ::GetConsoleWindow() != nullptr && ::GetFileType(out) == FILE_TYPE_CHAR;
    std::fputs("on the console\n", stdout);
    std::fflush(stdout);
    FILE *report = std::fopen(reportPath, "wb");
    if (!report)
        return 1;
    std::fputs(onConsole ? "console window, standard output on it" : "no console", report);
    std::fclose(report);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc >= 2 && std::strcmp(argv[1], "--second-start") == 0)
        return secondStart();
    if (argc >= 3 && std::strcmp(argv[1], "--open-console") == 0)
        return openConsoleAndReport(argv[2]);
    QApplication app(argc, argv);
    TestPlatformWin test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_platform_win.moc"
