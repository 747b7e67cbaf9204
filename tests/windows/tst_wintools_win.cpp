// The Windows builds of the tool stand-ins, run as the installer runs them:
// by their full path in the system folder of a Chinese Windows (Wine, with
// wine-run --wintools putting them in place of Wine's own tools), judged by
// the bytes they print and their exit codes, and acting on Windows' real
// state: the process list, the service control manager with a real service
// program (DOVivived.exe), and their logon-task store in the registry.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace {

const QString taskStoreKey = QStringLiteral("Software\\LumenRiderTestTools\\Tasks");

const wchar_t *w(const QString &text)
{
    return reinterpret_cast<const wchar_t *>(text.utf16());
}

QString systemFolder()
{
    wchar_t folder[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    return QString::fromWCharArray(folder, int(length));
}

// Where the installer starts a tool: the system folder, which Windows
// leads a 32-bit program to its own (syswow64).
QString toolPath(const QString &name)
{
    return systemFolder() + QLatin1Char('\\') + name + QStringLiteral(".exe");
}

// `bytes` read in code page `codePage`; false when they are not valid there.
bool decode(UINT codePage, const QByteArray &bytes, QString *text)
{
    text->clear();
    if (bytes.isEmpty())
        return true;
    const int size = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.constData(), bytes.size(), nullptr, 0);
    if (size <= 0)
        return false;
    std::wstring wide(size_t(size), L'\0');
    ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.constData(), bytes.size(), &wide[0], size);
    *text = QString::fromStdWString(wide);
    return true;
}

struct ToolRun
{
    bool finished = false;
    int exitCode = -1;
    QByteArray bytes;
    QString text;          // the bytes read in code page 936
    QString encodingFault; // empty when the bytes are what a Chinese Windows prints
};

ToolRun runTool(const QString &tool, const QStringList &arguments)
{
    ToolRun run;
    QProcess process;
    process.start(toolPath(tool), arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.finished = true;
    run.exitCode = process.exitCode();
    run.bytes = process.readAllStandardOutput();
    if (!decode(936, run.bytes, &run.text))
        run.encodingFault = QStringLiteral("not valid in code page 936");
    for (int i = run.bytes.indexOf('\n'); i >= 0; i = run.bytes.indexOf('\n', i + 1)) {
        if (i == 0 || run.bytes.at(i - 1) != '\r')
            run.encodingFault = QStringLiteral("a line ends without \\r\\n at byte %1").arg(i);
    }
    if (run.bytes.contains("\r\r"))
        run.encodingFault = QStringLiteral("a doubled \\r");
    // Chinese in UTF-8 always reads as UTF-8; in GBK it does not, but for a
    // few short words that none of these texts is.
    QString asUtf8;
    const bool asciiOnly = std::all_of(run.bytes.cbegin(), run.bytes.cend(), [](char c) { return uchar(c) < 0x80; });
    if (!asciiOnly && decode(CP_UTF8, run.bytes, &asUtf8))
        run.encodingFault = QStringLiteral("valid UTF-8, not code page 936");
    return run;
}

QString described(const ToolRun &run)
{
    return QStringLiteral("exit %1, %2: %3")
        .arg(run.exitCode)
        .arg(run.encodingFault.isEmpty() ? QStringLiteral("code page 936") : run.encodingFault)
        .arg(run.text);
}

#define VERIFY_TOOL_RUN(run)                                                                                           \
    do {                                                                                                               \
        QVERIFY2((run).finished, "the tool did not run to its end");                                                   \
        QVERIFY2((run).encodingFault.isEmpty(), qPrintable(described(run)));                                           \
    } while (false)

// The row of `image` in a tasklist table, split at its blanks.
QStringList tableRow(const QString &table, const QString &image)
{
    for (const QString &line : table.split(QStringLiteral("\r\n"))) {
        if (line.startsWith(image + QLatin1Char(' ')))
            return line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    }
    return {};
}

bool listed(const QString &image)
{
    return !tableRow(runTool(QStringLiteral("tasklist"), {}).text, image).isEmpty();
}

// A long-running program of the test's own under a name of its own: a copy
// of this test program beside it (where Qt is), idling until it is ended.
class ChildProgram
{
public:
    explicit ChildProgram(const QString &baseName) :
            image(baseName + QString::number(QCoreApplication::applicationPid()) + QStringLiteral(".exe")),
            path(QCoreApplication::applicationDirPath() + QLatin1Char('/') + image)
    {
    }
    ~ChildProgram()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(30000);
        }
        QFile::remove(path);
    }
    bool start()
    {
        QFile::remove(path);
        if (!QFile::copy(QCoreApplication::applicationFilePath(), path))
            return false;
        process.start(path, {QStringLiteral("--idle")});
        return process.waitForStarted(60000);
    }
    qint64 pid() const { return process.processId(); }
    bool running() const { return process.state() == QProcess::Running; }

    const QString image;
    const QString path;
    QProcess process;
};

// A security descriptor whose DACL has the given entries for Everyone: a
// denial of `denied` (when not 0) before a grant of `allowed`.
class EveryoneAcl
{
public:
    EveryoneAcl(DWORD denied, DWORD allowed)
    {
        DWORD sidSize = sizeof(sid);
        ::CreateWellKnownSid(WinWorldSid, nullptr, sid, &sidSize);
        ::InitializeAcl(reinterpret_cast<ACL *>(aclBuffer), sizeof(aclBuffer), ACL_REVISION);
        if (denied)
            ::AddAccessDeniedAce(reinterpret_cast<ACL *>(aclBuffer), ACL_REVISION, denied, sid);
        ::AddAccessAllowedAce(reinterpret_cast<ACL *>(aclBuffer), ACL_REVISION, allowed, sid);
        ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
        ::SetSecurityDescriptorDacl(&descriptor, TRUE, reinterpret_cast<ACL *>(aclBuffer), FALSE);
    }
    SECURITY_DESCRIPTOR *get() { return &descriptor; }

private:
    BYTE sid[SECURITY_MAX_SID_SIZE];
    BYTE aclBuffer[512];
    SECURITY_DESCRIPTOR descriptor;
};

struct RegistryText
{
    bool found = false;
    QString text;
    DWORD number = 0;
};

RegistryText taskValue(const QString &task, const QString &name)
{
    RegistryText value;
    wchar_t data[2048];
    DWORD size = sizeof(data);
    DWORD type = 0;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, w(taskStoreKey + QLatin1Char('\\') + task), w(name),
                       RRF_RT_REG_SZ | RRF_RT_REG_DWORD, &type, data, &size)
        != ERROR_SUCCESS)
        return value;
    value.found = true;
    if (type == REG_DWORD)
        std::memcpy(&value.number, data, sizeof(DWORD));
    else
        value.text = QString::fromWCharArray(data);
    return value;
}

QString serviceState(const QString &name)
{
    for (const QString &line :
         runTool(QStringLiteral("sc"), {QStringLiteral("query"), name}).text.split(QStringLiteral("\r\n"))) {
        if (line.startsWith(QStringLiteral("STATE : ")))
            return line.mid(8);
    }
    return QString();
}

const QString notInstalled = QStringLiteral("[SC] OpenService 失败 1060:\r\n\r\n指定的服务未安装。\r\n");

} // namespace

class TestWinToolsWin : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();

    void tasklistWithoutMatchSaysSo();
    void tasklistShowsMatchInAnyCaseUnderItsOwnName_data();
    void tasklistShowsMatchInAnyCaseUnderItsOwnName();
    void tasklistWithoutArgumentsListsEveryProcess();
    void taskkillEndsTheProcessThenFindsNone();
    void taskkillRefusedForProcessThatDeniesTermination();

    void scOnMissingServiceExits1060_data();
    void scOnMissingServiceExits1060();
    void scCreateShowsConfiguration_data();
    void scCreateShowsConfiguration();
    void scRunsAndStopsTheRealService();
    void scRefusedByServiceSecurity_data();
    void scRefusedByServiceSecurity();

    void schtasksListsNothingOfOursAtFirst();
    void schtasksCreatesLogonTask_data();
    void schtasksCreatesLogonTask();
    void schtasksRefusedWhenTheStoreIsLocked();
    void schtasksRefusesNamesOfFolders_data();
    void schtasksRefusesNamesOfFolders();

private:
    QTemporaryDir work;
};

void TestWinToolsWin::initTestCase()
{
    QCOMPARE(::GetACP(), UINT(936));
    QVERIFY(work.isValid());
    for (const char *tool : {"tasklist", "taskkill", "sc", "schtasks", "DOVivived"})
        QVERIFY2(QFileInfo::exists(toolPath(QLatin1String(tool))), qPrintable(toolPath(QLatin1String(tool))));
}

void TestWinToolsWin::tasklistWithoutMatchSaysSo()
{
    const ToolRun run = runTool(
        QStringLiteral("tasklist"),
        {QStringLiteral("/FI"), QStringLiteral("imagename eq LrNone%1.exe").arg(QCoreApplication::applicationPid())});
    VERIFY_TOOL_RUN(run);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.text, QStringLiteral("信息: 没有运行的任务匹配指定标准。\r\n"));
}

void TestWinToolsWin::tasklistShowsMatchInAnyCaseUnderItsOwnName_data()
{
    QTest::addColumn<QString>("baseName");
    QTest::addColumn<bool>("upperCase");
    QTest::newRow("asked in lower case") << QStringLiteral("LrProbe") << false;
    QTest::newRow("asked in upper case") << QStringLiteral("LrProbe") << true;
    QTest::newRow("Chinese name, .EXE asked") << QStringLiteral("流光探测") << true;
}

void TestWinToolsWin::tasklistShowsMatchInAnyCaseUnderItsOwnName()
{
    QFETCH(QString, baseName);
    QFETCH(bool, upperCase);
    ChildProgram child(baseName);
    QVERIFY(child.start());

    const QString asked = upperCase ? child.image.toUpper() : child.image.toLower();
    QVERIFY(asked != child.image);
    const ToolRun run =
        runTool(QStringLiteral("tasklist"), {QStringLiteral("/FI"), QStringLiteral("imagename eq ") + asked});
    VERIFY_TOOL_RUN(run);
    QCOMPARE(run.exitCode, 0);
    const QStringList lines = run.text.split(QStringLiteral("\r\n"));
    QCOMPARE(lines.value(0), QString());
    QVERIFY2(lines.value(1).startsWith(QStringLiteral("映像名称")), qPrintable(run.text));
    QVERIFY(lines.value(2).startsWith(QStringLiteral("=====")));
    const QStringList row = lines.value(3).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QCOMPARE(row.value(0), child.image);
    QCOMPARE(row.value(1), QString::number(child.pid()));
    QCOMPARE(row.value(2), QStringLiteral("Console"));
    QCOMPARE(row.value(3), QStringLiteral("1"));
    QCOMPARE(row.value(5), QStringLiteral("K"));
    QVERIFY2(row.value(4).remove(QLatin1Char(',')).toLongLong() > 0, qPrintable(lines.value(3)));
    QCOMPARE(lines.size(), 5); // one row, then the end of the last line
}

void TestWinToolsWin::tasklistWithoutArgumentsListsEveryProcess()
{
    ChildProgram child(QStringLiteral("LrListed"));
    QVERIFY(child.start());
    const ToolRun run = runTool(QStringLiteral("tasklist"), {});
    VERIFY_TOOL_RUN(run);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(tableRow(run.text, child.image).value(1), QString::number(child.pid()));
    // This test program and the tool itself are in the table too.
    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    QCOMPARE(tableRow(run.text, self).value(1), QString::number(QCoreApplication::applicationPid()));
    QVERIFY(!tableRow(run.text, QStringLiteral("tasklist.exe")).isEmpty());
}

void TestWinToolsWin::taskkillEndsTheProcessThenFindsNone()
{
    ChildProgram child(QStringLiteral("LrKilled"));
    QVERIFY(child.start());

    const ToolRun kill =
        runTool(QStringLiteral("taskkill"), {QStringLiteral("/im"), child.image.toLower(), QStringLiteral("/f")});
    VERIFY_TOOL_RUN(kill);
    QCOMPARE(kill.exitCode, 0);
    QCOMPARE(kill.text,
             QStringLiteral("成功: 已终止进程 \"%1\"，其 PID 为 %2。\r\n").arg(child.image).arg(child.pid()));
    QTRY_VERIFY(!child.running());
    // Ended as taskkill /f ends a process on Windows: exit code 1.
    QCOMPARE(child.process.exitCode(), 1);

    const ToolRun again =
        runTool(QStringLiteral("taskkill"), {QStringLiteral("/im"), child.image, QStringLiteral("/f")});
    VERIFY_TOOL_RUN(again);
    QCOMPARE(again.exitCode, 128);
    QCOMPARE(again.text, QStringLiteral("错误: 没有找到进程 \"%1\"。\r\n").arg(child.image));
}

void TestWinToolsWin::taskkillRefusedForProcessThatDeniesTermination()
{
    ChildProgram child(QStringLiteral("LrGuarded"));
    QVERIFY(child.start());
    // Everyone may do all to it but end it. QProcess keeps the handle it got
    // at creation, with every right, to end it afterwards.
    HANDLE handle = ::OpenProcess(WRITE_DAC, FALSE, DWORD(child.pid()));
    QVERIFY(handle);
    EveryoneAcl acl(PROCESS_TERMINATE, PROCESS_ALL_ACCESS);
    const BOOL secured = ::SetKernelObjectSecurity(handle, DACL_SECURITY_INFORMATION, acl.get());
    ::CloseHandle(handle);
    QVERIFY(secured);
    HANDLE probe = ::OpenProcess(PROCESS_TERMINATE, FALSE, DWORD(child.pid()));
    if (probe) {
        ::CloseHandle(probe);
        QSKIP("this Windows (Wine) grants PROCESS_TERMINATE although the process's DACL denies it");
    }
    QCOMPARE(::GetLastError(), DWORD(ERROR_ACCESS_DENIED));

    const ToolRun run = runTool(QStringLiteral("taskkill"), {QStringLiteral("/im"), child.image, QStringLiteral("/f")});
    VERIFY_TOOL_RUN(run);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.text, QStringLiteral("错误: 无法终止 PID 为 %1 的进程 \"%2\"。\r\n原因: 拒绝访问。\r\n")
                           .arg(child.pid())
                           .arg(child.image));
    QVERIFY(child.running());
}

void TestWinToolsWin::scOnMissingServiceExits1060_data()
{
    QTest::addColumn<QString>("command");
    for (const char *command : {"qc", "query", "stop", "start", "delete"})
        QTest::newRow(command) << QString::fromLatin1(command);
}

void TestWinToolsWin::scOnMissingServiceExits1060()
{
    QFETCH(QString, command);
    const ToolRun run = runTool(QStringLiteral("sc"), {command, QStringLiteral("DOVivived")});
    VERIFY_TOOL_RUN(run);
    // Windows' exit codes arrive whole.
    QCOMPARE(run.exitCode, 1060);
    QCOMPARE(run.text, notInstalled);
}

void TestWinToolsWin::scCreateShowsConfiguration_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("binaryPath");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("startType");
    QTest::newRow("own process, on demand")
        << QStringLiteral("LrOwnDemand")
        << QStringList{QStringLiteral("type="), QStringLiteral("own"), QStringLiteral("start="),
                       QStringLiteral("demand")}
        << QStringLiteral("C:\\Program Files (x86)\\流光\\服务.exe") << QStringLiteral("10  WIN32_OWN_PROCESS")
        << QStringLiteral("3   DEMAND_START");
    QTest::newRow("kernel driver, started with the system")
        << QStringLiteral("LrKernelAuto")
        << QStringList{QStringLiteral("type="), QStringLiteral("kernel"), QStringLiteral("start="),
                       QStringLiteral("auto")}
        << QStringLiteral("C:\\windows\\system32\\drivers\\DOVivived.sys") << QStringLiteral("1  KERNEL_DRIVER")
        << QStringLiteral("2   AUTO_START");
    QTest::newRow("no type given, disabled")
        << QStringLiteral("LrDisabled") << QStringList{QStringLiteral("start="), QStringLiteral("disabled")}
        << QStringLiteral("C:\\lr\\x.exe") << QStringLiteral("10  WIN32_OWN_PROCESS") << QStringLiteral("4   DISABLED");
}

void TestWinToolsWin::scCreateShowsConfiguration()
{
    QFETCH(QString, name);
    QFETCH(QStringList, options);
    QFETCH(QString, binaryPath);
    QFETCH(QString, type);
    QFETCH(QString, startType);

    const ToolRun created =
        runTool(QStringLiteral("sc"),
                QStringList{QStringLiteral("create"), name, QStringLiteral("binPath="), binaryPath} + options);
    VERIFY_TOOL_RUN(created);
    QCOMPARE(created.exitCode, 0);
    QCOMPARE(created.text, QStringLiteral("[SC] CreateService 成功\r\n"));

    const ToolRun query = runTool(QStringLiteral("sc"), {QStringLiteral("qc"), name});
    VERIFY_TOOL_RUN(query);
    QCOMPARE(query.exitCode, 0);
    QCOMPARE(query.text, QStringLiteral("[SC] QueryServiceConfig 成功\r\n\r\nSERVICE_NAME: %1\r\nTYPE : %2\r\n"
                                        "START_TYPE : %3\r\nBINARY_PATH_NAME : %4\r\n")
                             .arg(name, type, startType, binaryPath));

    const ToolRun twice = runTool(QStringLiteral("sc"),
                                  QStringList{QStringLiteral("create"), name, QStringLiteral("binPath="), binaryPath});
    VERIFY_TOOL_RUN(twice);
    QCOMPARE(twice.exitCode, 1073);
    QCOMPARE(twice.text, QStringLiteral("[SC] CreateService 失败 1073:\r\n\r\n指定的服务已存在。\r\n"));

    QCOMPARE(runTool(QStringLiteral("sc"), {QStringLiteral("delete"), name}).exitCode, 0);
    QCOMPARE(runTool(QStringLiteral("sc"), {QStringLiteral("qc"), name}).exitCode, 1060);
}

void TestWinToolsWin::scRunsAndStopsTheRealService()
{
    // The service program where an install would put it: a folder with a
    // blank and Chinese in its name, so the binary path is quoted.
    const QString folder = work.filePath(QStringLiteral("流光 服务"));
    QVERIFY(QDir().mkpath(folder));
    const QString program = QDir::toNativeSeparators(folder + QStringLiteral("/DOVivived.exe"));
    QVERIFY(QFile::copy(toolPath(QStringLiteral("DOVivived")), program));
    const QString binaryPath = QLatin1Char('"') + program + QLatin1Char('"');
    const QString service = QStringLiteral("DOVivived");

    const ToolRun created =
        runTool(QStringLiteral("sc"), {QStringLiteral("create"), service, QStringLiteral("binPath="), binaryPath,
                                       QStringLiteral("start="), QStringLiteral("demand")});
    VERIFY_TOOL_RUN(created);
    QCOMPARE(created.exitCode, 0);
    const ToolRun query = runTool(QStringLiteral("sc"), {QStringLiteral("qc"), service});
    VERIFY_TOOL_RUN(query);
    QCOMPARE(query.exitCode, 0);
    QCOMPARE(query.text, QStringLiteral("[SC] QueryServiceConfig 成功\r\n\r\nSERVICE_NAME: DOVivived\r\n"
                                        "TYPE : 10  WIN32_OWN_PROCESS\r\nSTART_TYPE : 3   DEMAND_START\r\n"
                                        "BINARY_PATH_NAME : %1\r\n")
                             .arg(binaryPath));
    QCOMPARE(serviceState(service), QStringLiteral("1  STOPPED"));

    const ToolRun started = runTool(QStringLiteral("sc"), {QStringLiteral("start"), service});
    VERIFY_TOOL_RUN(started);
    QCOMPARE(started.exitCode, 0);
    QVERIFY2(started.text.startsWith(QStringLiteral("SERVICE_NAME: DOVivived\r\nSTATE : ")), qPrintable(started.text));
    QTRY_COMPARE_WITH_TIMEOUT(serviceState(service), QStringLiteral("4  RUNNING"), 60000);
    QVERIFY(listed(QStringLiteral("DOVivived.exe")));
    const ToolRun startedAgain = runTool(QStringLiteral("sc"), {QStringLiteral("start"), service});
    VERIFY_TOOL_RUN(startedAgain);
    QCOMPARE(startedAgain.exitCode, 1056);

    const ToolRun stopped = runTool(QStringLiteral("sc"), {QStringLiteral("stop"), service});
    VERIFY_TOOL_RUN(stopped);
    QCOMPARE(stopped.exitCode, 0);
    QCOMPARE(stopped.text, QStringLiteral("SERVICE_NAME: DOVivived\r\nSTATE : 3  STOP_PENDING\r\n"));
    QTRY_COMPARE_WITH_TIMEOUT(serviceState(service), QStringLiteral("1  STOPPED"), 60000);
    QTRY_VERIFY_WITH_TIMEOUT(!listed(QStringLiteral("DOVivived.exe")), 60000);

    const ToolRun stoppedAgain = runTool(QStringLiteral("sc"), {QStringLiteral("stop"), service});
    VERIFY_TOOL_RUN(stoppedAgain);
    QCOMPARE(stoppedAgain.exitCode, 1062);
    QCOMPARE(stoppedAgain.text, QStringLiteral("[SC] ControlService 失败 1062:\r\n服务尚未启动。\r\n"));

    const ToolRun removed = runTool(QStringLiteral("sc"), {QStringLiteral("delete"), service});
    VERIFY_TOOL_RUN(removed);
    QCOMPARE(removed.exitCode, 0);
    QCOMPARE(removed.text, QStringLiteral("[SC] DeleteService 成功\r\n"));

    const ToolRun gone = runTool(QStringLiteral("sc"), {QStringLiteral("qc"), service});
    VERIFY_TOOL_RUN(gone);
    QCOMPARE(gone.exitCode, 1060);
    QCOMPARE(gone.text, notInstalled);
}

void TestWinToolsWin::scRefusedByServiceSecurity_data()
{
    QTest::addColumn<QString>("command");
    for (const char *command : {"qc", "stop", "start", "delete"})
        QTest::newRow(command) << QString::fromLatin1(command);
}

void TestWinToolsWin::scRefusedByServiceSecurity()
{
    QFETCH(QString, command);
    const QString name = QStringLiteral("LrLocked") + command;
    QCOMPARE(runTool(QStringLiteral("sc"),
                     {QStringLiteral("create"), name, QStringLiteral("binPath="), QStringLiteral("C:\\lr\\locked.exe")})
                 .exitCode,
             0);
    // Everyone may only read its state: as a service another installer
    // locked against changes.
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    QVERIFY(manager);
    SC_HANDLE service = ::OpenServiceW(manager, w(name), WRITE_DAC | READ_CONTROL);
    QVERIFY(service);
    EveryoneAcl acl(0, SERVICE_QUERY_STATUS | READ_CONTROL);
    const BOOL secured = ::SetServiceObjectSecurity(service, DACL_SECURITY_INFORMATION, acl.get());
    ::CloseServiceHandle(service);
    SC_HANDLE probe = ::OpenServiceW(manager, w(name), SERVICE_QUERY_CONFIG);
    const DWORD probeError = ::GetLastError();
    if (probe)
        ::CloseServiceHandle(probe);
    ::CloseServiceHandle(manager);
    QVERIFY(secured);
    if (probe)
        QSKIP("this Windows (Wine 8) takes a service's security descriptor but does not check opening it against it");
    QCOMPARE(probeError, DWORD(ERROR_ACCESS_DENIED));

    const ToolRun run = runTool(QStringLiteral("sc"), {command, name});
    VERIFY_TOOL_RUN(run);
    QCOMPARE(run.exitCode, 5);
    QCOMPARE(run.text, QStringLiteral("[SC] OpenService 失败 5:\r\n拒绝访问。\r\n"));
}

void TestWinToolsWin::schtasksListsNothingOfOursAtFirst()
{
    const ToolRun run = runTool(QStringLiteral("schtasks"), {});
    VERIFY_TOOL_RUN(run);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.text,
             QStringLiteral("\r\n文件夹: \\\r\n"
                            "任务名                                   下次运行时间           模式\r\n"
                            "======================================== ====================== ===============\r\n"));
}

void TestWinToolsWin::schtasksCreatesLogonTask_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("program");
    QTest::newRow("path with a blank") << QStringLiteral("LrTaskPlain") << QStringLiteral("C:\\a b\\c.exe")
                                       << QStringLiteral("C:\\a b\\c.exe");
    // As the installer's batch file hands it over through cmd.exe.
    QTest::newRow("quoted path") << QStringLiteral("LrTaskQuoted")
                                 << QStringLiteral("\"C:\\Program Files (x86)\\lumenrider\\lumenrider.exe\"")
                                 << QStringLiteral("C:\\Program Files (x86)\\lumenrider\\lumenrider.exe");
    QTest::newRow("Chinese name and path")
        << QStringLiteral("流光骑士加速") << QStringLiteral("D:\\游戏 工具\\流光.exe")
        << QStringLiteral("D:\\游戏 工具\\流光.exe");
}

void TestWinToolsWin::schtasksCreatesLogonTask()
{
    QFETCH(QString, name);
    QFETCH(QString, target);
    QFETCH(QString, program);
    const ToolRun created = runTool(QStringLiteral("schtasks"),
                                    {QStringLiteral("/create"), QStringLiteral("/tn"), name, QStringLiteral("/tr"),
                                     target, QStringLiteral("/sc"), QStringLiteral("onlogon"), QStringLiteral("/IT"),
                                     QStringLiteral("/RL"), QStringLiteral("HIGHEST")});
    VERIFY_TOOL_RUN(created);
    QCOMPARE(created.exitCode, 0);
    QCOMPARE(created.text, QStringLiteral("成功: 成功创建计划任务 \"%1\"。\r\n").arg(name));

    const ToolRun listing = runTool(QStringLiteral("schtasks"), {});
    VERIFY_TOOL_RUN(listing);
    QCOMPARE(listing.exitCode, 0);
    const QStringList row = tableRow(listing.text, name);
    QCOMPARE(row, (QStringList{name, QStringLiteral("N/A"), QStringLiteral("就绪")}));

    QCOMPARE(taskValue(name, QStringLiteral("Target")).text, program);
    QCOMPARE(taskValue(name, QStringLiteral("Trigger")).text, QStringLiteral("ONLOGON"));
    QCOMPARE(taskValue(name, QStringLiteral("RunLevel")).text, QStringLiteral("HIGHEST"));
    QCOMPARE(taskValue(name, QStringLiteral("Interactive")).number, DWORD(1));
}

void TestWinToolsWin::schtasksRefusedWhenTheStoreIsLocked()
{
    // The task's key is there already, and Everyone may only read it.
    const QString name = QStringLiteral("LrTaskLocked");
    HKEY key = nullptr;
    QCOMPARE(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, w(taskStoreKey + QLatin1Char('\\') + name), 0, nullptr, 0,
                               KEY_ALL_ACCESS, nullptr, &key, nullptr),
             LONG(ERROR_SUCCESS));
    EveryoneAcl acl(0, KEY_READ);
    const LONG secured = ::RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, acl.get());
    ::RegCloseKey(key);
    QCOMPARE(secured, LONG(ERROR_SUCCESS));
    HKEY probe = nullptr;
    const LONG opened =
        ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, w(taskStoreKey + QLatin1Char('\\') + name), 0, KEY_SET_VALUE, &probe);
    if (opened == ERROR_SUCCESS) {
        ::RegCloseKey(probe);
        QSKIP("this Windows (Wine) lets a key be written although its DACL only grants reading");
    }
    QCOMPARE(opened, LONG(ERROR_ACCESS_DENIED));

    const ToolRun run = runTool(QStringLiteral("schtasks"),
                                {QStringLiteral("/create"), QStringLiteral("/tn"), name, QStringLiteral("/tr"),
                                 QStringLiteral("C:\\a b\\c.exe"), QStringLiteral("/sc"), QStringLiteral("onlogon"),
                                 QStringLiteral("/IT"), QStringLiteral("/RL"), QStringLiteral("HIGHEST")});
    VERIFY_TOOL_RUN(run);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.text, QStringLiteral("错误: 拒绝访问。\r\n"));
    QVERIFY(!taskValue(name, QStringLiteral("Target")).found);
    QVERIFY(tableRow(runTool(QStringLiteral("schtasks"), {}).text, name).isEmpty());
}

void TestWinToolsWin::schtasksRefusesNamesOfFolders_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("key"); // what a write would have made
    QTest::newRow("subfolder") << QStringLiteral("LrSub\\escaped") << QStringLiteral("LrSub");
    QTest::newRow("parent folder") << QStringLiteral("..\\LrEscaped") << QStringLiteral("..");
    QTest::newRow("slash") << QStringLiteral("LrSub/escaped") << QStringLiteral("LrSub/escaped");
}

void TestWinToolsWin::schtasksRefusesNamesOfFolders()
{
    QFETCH(QString, name);
    QFETCH(QString, key);
    const ToolRun run = runTool(QStringLiteral("schtasks"),
                                {QStringLiteral("/create"), QStringLiteral("/tn"), name, QStringLiteral("/tr"),
                                 QStringLiteral("C:\\a b\\c.exe"), QStringLiteral("/sc"), QStringLiteral("onlogon")});
    VERIFY_TOOL_RUN(run);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.text, QStringLiteral("错误: 文件名、目录名或卷标语法不正确。\r\n"));
    HKEY made = nullptr;
    QCOMPARE(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, w(taskStoreKey + QLatin1Char('\\') + key), 0, KEY_READ, &made),
             LONG(ERROR_FILE_NOT_FOUND));
}

int main(int argc, char *argv[])
{
    // The child program the process cases start under names of their own.
    if (argc >= 2 && std::strcmp(argv[1], "--idle") == 0) {
        ::Sleep(INFINITE);
        return 0;
    }
    QCoreApplication app(argc, argv);
    TestWinToolsWin test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_wintools_win.moc"
