// The stand-ins for tasklist, taskkill, sc and schtasks, run as the
// installer runs them: as child processes, judged by their text and exit code.

#include "EngineTestSupport.h"
#include "Platform.h"
#include "TestSupport.h"

#include <QDir>
#include <QSettings>
#include <QtTest>

namespace {

// Linux keeps the low 8 bits of an exit status, so Windows' 1060 arrives as 36.
int linuxExitCode(int windowsCode)
{
    return windowsCode & 0xff;
}

void createService(const QString &name)
{
    const StandInRun created = runStandIn(QStringLiteral("sc"), {QStringLiteral("create"), name, QStringLiteral("binPath="),
                                                                 QStringLiteral("/opt/driver.sys"), QStringLiteral("type="),
                                                                 QStringLiteral("kernel"), QStringLiteral("start="),
                                                                 QStringLiteral("demand")});
    QCOMPARE(created.exitCode, 0);
    QCOMPARE(created.output, QStringLiteral("[SC] CreateService 成功\r\n"));
}

void makeReadOnly(const QString &folder)
{
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
}

void makeWritable(const QString &folder)
{
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

class Tst_wintools : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void tasklistWithoutMatchSaysSo();
    void tasklistShowsMatchInAnyCaseUnderItsOwnName();
    void tasklistWithoutArgumentsListsEveryProcess();
    void tasklistRejectsUnknownFilter();
    void taskkillEndsEveryMatch();
    void taskkillWithoutMatchExits128();
    void taskkillRefusedForProcessOfAnotherUser();

    void scQueryOfMissingServiceExits1060();
    void scQueryShowsInstalledService();
    void scStopsRunningServiceOnce();
    void scDeleteRemovesService();
    void scQueryShowsTheState();
    void scRefusesWhenRegistryCannotBeWritten_data();
    void scRefusesWhenRegistryCannotBeWritten();

    void schtasksListsOnlyItsOwnTasks();
    void schtasksCreatesAutostartEntryForQuotedTarget();
    void schtasksRefusedWhenAutostartFolderIsReadOnly();
    void schtasksRefusesNamesLeadingOutOfItsFolder_data();
    void schtasksRefusesNamesLeadingOutOfItsFolder();

private:
    std::unique_ptr<ScopedTestEnvironment> environment;
};

void Tst_wintools::init()
{
    environment = std::make_unique<ScopedTestEnvironment>();
}

void Tst_wintools::cleanup()
{
    makeWritable(environment->configHome() + QStringLiteral("/lumenrider"));
    makeWritable(environment->configHome() + QStringLiteral("/autostart"));
    environment.reset();
}

void Tst_wintools::tasklistWithoutMatchSaysSo()
{
    const StandInRun run = runStandIn(QStringLiteral("tasklist"),
                                      {QStringLiteral("/FI"), QStringLiteral("imagename eq ") + uniqueImageName("none")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.output, QStringLiteral("信息: 没有运行的任务匹配指定标准。\r\n"));
}

void Tst_wintools::tasklistShowsMatchInAnyCaseUnderItsOwnName()
{
    const QString name = uniqueImageName(QStringLiteral("ZURi"));
    NamedProcess client;
    QVERIFY(client.start(name));
    QTRY_VERIFY(client.runsAs(name));

    const StandInRun run =
        runStandIn(QStringLiteral("tasklist"), {QStringLiteral("/FI"), QStringLiteral("imagename eq ") + name.toLower()});
    QCOMPARE(run.exitCode, 0);
    const QStringList lines = run.output.split(QStringLiteral("\r\n"));
    QVERIFY2(lines.value(1).startsWith(QStringLiteral("映像名称")), qPrintable(run.output));
    QVERIFY(lines.value(2).startsWith(QStringLiteral("=====")));
    const QStringList row = lines.value(3).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QCOMPARE(row.value(0), name);
    QCOMPARE(row.value(1), QString::number(client.pid()));
    QCOMPARE(row.value(2), QStringLiteral("Console"));
    QCOMPARE(row.value(3), QStringLiteral("1"));
    QCOMPARE(row.value(5), QStringLiteral("K"));
    QVERIFY(row.value(4).remove(QLatin1Char(',')).toLongLong() > 0);
}

void Tst_wintools::tasklistWithoutArgumentsListsEveryProcess()
{
    const QString name = uniqueImageName(QStringLiteral("list"));
    NamedProcess client;
    QVERIFY(client.start(name));
    QTRY_VERIFY(client.runsAs(name));

    const StandInRun run = runStandIn(QStringLiteral("tasklist"), {});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.output.contains(name + QLatin1Char(' ')));
    // This test program and the stand-in itself are in the table too.
    QVERIFY(run.output.contains(QStringLiteral(" %1 Console").arg(QCoreApplication::applicationPid())));
}

void Tst_wintools::tasklistRejectsUnknownFilter()
{
    const StandInRun run = runStandIn(QStringLiteral("tasklist"), {QStringLiteral("/FI"), QStringLiteral("pid eq 1")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY(run.output.startsWith(QStringLiteral("错误:")));
}

void Tst_wintools::taskkillEndsEveryMatch()
{
    const QString name = uniqueImageName(QStringLiteral("kill"));
    NamedProcess first;
    NamedProcess second;
    QVERIFY(first.start(name));
    QVERIFY(second.start(name));
    QTRY_VERIFY(first.runsAs(name) && second.runsAs(name));

    const StandInRun run = runStandIn(QStringLiteral("taskkill"), {QStringLiteral("/im"), name, QStringLiteral("/f")});
    QCOMPARE(run.exitCode, 0);
    for (const NamedProcess *process : {&first, &second})
        QVERIFY(run.output.contains(
            QStringLiteral("成功: 已终止进程 \"%1\"，其 PID 为 %2。\r\n").arg(name).arg(process->pid())));
    QTRY_VERIFY(!first.running() && !second.running());
    QCOMPARE(first.process.exitStatus(), QProcess::CrashExit);
}

void Tst_wintools::taskkillWithoutMatchExits128()
{
    const QString name = uniqueImageName(QStringLiteral("gone"));
    const StandInRun run = runStandIn(QStringLiteral("taskkill"), {QStringLiteral("/im"), name, QStringLiteral("/f")});
    QCOMPARE(run.exitCode, 128);
    QCOMPARE(run.output, QStringLiteral("错误: 没有找到进程 \"%1\"。\r\n").arg(name));
}

void Tst_wintools::taskkillRefusedForProcessOfAnotherUser()
{
    const QString name = uniqueImageName(QStringLiteral("deny"));
    NamedProcess other;
    QVERIFY(other.start(name, true));
    QTRY_VERIFY(other.runsAs(name) || !other.running());
    if (!other.running())
        QSKIP("this test can't start a process as another user (it needs to be root)");
    if (!other.refusesSignals())
        QSKIP("this test may signal processes of other users (CAP_KILL); scripts/test drops it");

    const StandInRun run = runStandIn(QStringLiteral("taskkill"), {QStringLiteral("/im"), name, QStringLiteral("/f")});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.output, QStringLiteral("错误: 无法终止 PID 为 %1 的进程 \"%2\"。\r\n原因: 拒绝访问。\r\n")
                             .arg(other.pid())
                             .arg(name));
    QVERIFY(other.running());
}

void Tst_wintools::scQueryOfMissingServiceExits1060()
{
    const StandInRun run = runStandIn(QStringLiteral("sc"), {QStringLiteral("qc"), QStringLiteral("DOVivived")});
    QCOMPARE(run.exitCode, linuxExitCode(1060));
    QCOMPARE(run.output, QStringLiteral("[SC] OpenService 失败 1060:\r\n\r\n指定的服务未安装。\r\n"));
}

void Tst_wintools::scQueryShowsInstalledService()
{
    createService(QStringLiteral("DOVivived"));
    const StandInRun run = runStandIn(QStringLiteral("sc"), {QStringLiteral("qc"), QStringLiteral("DOVivived")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.output, QStringLiteral("[SC] QueryServiceConfig 成功\r\n\r\nSERVICE_NAME: DOVivived\r\n"
                                        "TYPE : 1  KERNEL_DRIVER\r\nSTART_TYPE : 3   DEMAND_START\r\n"
                                        "BINARY_PATH_NAME : /opt/driver.sys\r\n"));
    // Kept where Windows keeps it, with its types.
    const auto key = Platform::openRegistryKey(
        QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\DOVivived"));
    QCOMPARE(key->value(QStringLiteral("Type")), QVariant(1));
    QCOMPARE(key->value(QStringLiteral("ImagePath")).toString(), QStringLiteral("/opt/driver.sys"));
}

void Tst_wintools::scStopsRunningServiceOnce()
{
    createService(QStringLiteral("DOVivived"));
    QCOMPARE(runStandIn(QStringLiteral("sc"), {QStringLiteral("start"), QStringLiteral("DOVivived")}).exitCode, 0);

    const StandInRun stop = runStandIn(QStringLiteral("sc"), {QStringLiteral("stop"), QStringLiteral("DOVivived")});
    QCOMPARE(stop.exitCode, 0);
    QCOMPARE(stop.output, QStringLiteral("SERVICE_NAME: DOVivived\r\nSTATE : 3  STOP_PENDING\r\n"));

    const StandInRun again = runStandIn(QStringLiteral("sc"), {QStringLiteral("stop"), QStringLiteral("DOVivived")});
    QCOMPARE(again.exitCode, linuxExitCode(1062));
    QCOMPARE(again.output, QStringLiteral("[SC] ControlService 失败 1062:\r\n服务尚未启动。\r\n"));
}

void Tst_wintools::scDeleteRemovesService()
{
    createService(QStringLiteral("DOVivived"));
    const StandInRun removal = runStandIn(QStringLiteral("sc"), {QStringLiteral("delete"), QStringLiteral("DOVivived")});
    QCOMPARE(removal.exitCode, 0);
    QCOMPARE(removal.output, QStringLiteral("[SC] DeleteService 成功\r\n"));
    QCOMPARE(runStandIn(QStringLiteral("sc"), {QStringLiteral("qc"), QStringLiteral("DOVivived")}).exitCode,
             linuxExitCode(1060));
    QCOMPARE(runStandIn(QStringLiteral("sc"), {QStringLiteral("delete"), QStringLiteral("DOVivived")}).exitCode,
             linuxExitCode(1060));
}

void Tst_wintools::scQueryShowsTheState()
{
    const StandInRun missing = runStandIn(QStringLiteral("sc"), {QStringLiteral("query"), QStringLiteral("DOVivived")});
    QCOMPARE(missing.exitCode, linuxExitCode(1060));
    QCOMPARE(missing.output, QStringLiteral("[SC] OpenService 失败 1060:\r\n\r\n指定的服务未安装。\r\n"));

    createService(QStringLiteral("DOVivived"));
    const QString stopped =
        QStringLiteral("SERVICE_NAME: DOVivived\r\nTYPE : 1  KERNEL_DRIVER\r\nSTATE : 1  STOPPED\r\n");
    const StandInRun created = runStandIn(QStringLiteral("sc"), {QStringLiteral("query"), QStringLiteral("DOVivived")});
    QCOMPARE(created.exitCode, 0);
    QCOMPARE(created.output, stopped);

    const StandInRun start = runStandIn(QStringLiteral("sc"), {QStringLiteral("start"), QStringLiteral("DOVivived")});
    QCOMPARE(start.exitCode, 0);
    QCOMPARE(start.output, QStringLiteral("SERVICE_NAME: DOVivived\r\nSTATE : 2  START_PENDING\r\n"));
    QCOMPARE(runStandIn(QStringLiteral("sc"), {QStringLiteral("query"), QStringLiteral("DOVivived")}).output,
             QStringLiteral("SERVICE_NAME: DOVivived\r\nTYPE : 1  KERNEL_DRIVER\r\nSTATE : 4  RUNNING\r\n"));

    QCOMPARE(runStandIn(QStringLiteral("sc"), {QStringLiteral("stop"), QStringLiteral("DOVivived")}).exitCode, 0);
    QCOMPARE(runStandIn(QStringLiteral("sc"), {QStringLiteral("query"), QStringLiteral("DOVivived")}).output, stopped);
}

void Tst_wintools::scRefusesWhenRegistryCannotBeWritten_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("stop") << QStringLiteral("stop");
    QTest::newRow("delete") << QStringLiteral("delete");
    QTest::newRow("start") << QStringLiteral("start");
}

void Tst_wintools::scRefusesWhenRegistryCannotBeWritten()
{
    QFETCH(QString, command);
    if (!permissionsAreEnforced())
        QSKIP("this process may write read-only folders; scripts/test drops that capability");
    createService(QStringLiteral("DOVivived"));
    if (command != QLatin1String("start"))
        QCOMPARE(runStandIn(QStringLiteral("sc"), {QStringLiteral("start"), QStringLiteral("DOVivived")}).exitCode, 0);
    else
        QCOMPARE(runStandIn(QStringLiteral("sc"), {QStringLiteral("stop"), QStringLiteral("DOVivived")}).exitCode,
                 linuxExitCode(1062));
    const QByteArray before = readTestFile(environment->registryFile());
    makeReadOnly(environment->configHome() + QStringLiteral("/lumenrider"));

    const StandInRun run = runStandIn(QStringLiteral("sc"), {command, QStringLiteral("DOVivived")});
    QCOMPARE(run.exitCode, 5);
    QCOMPARE(run.output, QStringLiteral("[SC] OpenService 失败 5:\r\n拒绝访问。\r\n"));
    QCOMPARE(readTestFile(environment->registryFile()), before);
}

void Tst_wintools::schtasksListsOnlyItsOwnTasks()
{
    const QString autostart = environment->configHome() + QStringLiteral("/autostart");
    QVERIFY(writeTestFile(autostart + QStringLiteral("/other.desktop"),
                          "[Desktop Entry]\nType=Application\nName=other\nExec=/usr/bin/other\n"));
    const StandInRun empty = runStandIn(QStringLiteral("schtasks"), {});
    QCOMPARE(empty.exitCode, 0);
    QVERIFY(empty.output.contains(QStringLiteral("文件夹: \\\r\n")));
    QVERIFY(empty.output.contains(QStringLiteral("任务名")));
    QVERIFY(!empty.output.contains(QStringLiteral("other")));

    QCOMPARE(runStandIn(QStringLiteral("schtasks"),
                        {QStringLiteral("/create"), QStringLiteral("/tn"), QStringLiteral("LumenRiderSpeed"),
                         QStringLiteral("/tr"), QStringLiteral("/opt/lumenrider.exe"), QStringLiteral("/sc"),
                         QStringLiteral("onlogon"), QStringLiteral("/IT"), QStringLiteral("/RL"), QStringLiteral("HIGHEST")})
                 .exitCode,
             0);
    const QStringList lines = runStandIn(QStringLiteral("schtasks"), {}).output.split(QStringLiteral("\r\n"));
    QVERIFY(std::any_of(lines.cbegin(), lines.cend(),
                        [](const QString &line) { return line.startsWith(QStringLiteral("LumenRiderSpeed ")); }));
    QVERIFY(!lines.join(QLatin1Char('\n')).contains(QStringLiteral("other")));
}

void Tst_wintools::schtasksCreatesAutostartEntryForQuotedTarget()
{
    const QString target = environment->path() + QStringLiteral("/my games/流光/lumenrider.exe");
    const StandInRun run = runStandIn(
        QStringLiteral("schtasks"),
        {QStringLiteral("/create"), QStringLiteral("/tn"), QStringLiteral("LumenRiderSpeed"), QStringLiteral("/tr"),
         QLatin1Char('"') + target + QLatin1Char('"'), QStringLiteral("/sc"), QStringLiteral("onlogon"),
         QStringLiteral("/IT"), QStringLiteral("/RL"), QStringLiteral("HIGHEST")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.output, QStringLiteral("成功: 成功创建计划任务 \"LumenRiderSpeed\"。\r\n"));

    const QString entry =
        QString::fromUtf8(readTestFile(environment->configHome() + QStringLiteral("/autostart/LumenRiderSpeed.desktop")));
    QVERIFY(entry.startsWith(QStringLiteral("[Desktop Entry]\n")));
    QVERIFY(entry.contains(QStringLiteral("\nType=Application\n")));
    QVERIFY2(entry.contains(QStringLiteral("\nExec=\"%1\"\n").arg(target)), qPrintable(entry));
}

void Tst_wintools::schtasksRefusedWhenAutostartFolderIsReadOnly()
{
    if (!permissionsAreEnforced())
        QSKIP("this process may write read-only folders; scripts/test drops that capability");
    const QString autostart = environment->configHome() + QStringLiteral("/autostart");
    QVERIFY(QDir().mkpath(autostart));
    makeReadOnly(autostart);
    const StandInRun run = runStandIn(
        QStringLiteral("schtasks"),
        {QStringLiteral("/create"), QStringLiteral("/tn"), QStringLiteral("LumenRiderSpeed"), QStringLiteral("/tr"),
         QStringLiteral("/opt/lumenrider.exe"), QStringLiteral("/sc"), QStringLiteral("onlogon"), QStringLiteral("/IT"),
         QStringLiteral("/RL"), QStringLiteral("HIGHEST")});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.output, QStringLiteral("错误: 拒绝访问。\r\n"));
    QVERIFY(QDir(autostart).isEmpty());
}

void Tst_wintools::schtasksRefusesNamesLeadingOutOfItsFolder_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("parent folder") << QStringLiteral("../escaped");
    QTest::newRow("subfolder") << QStringLiteral("sub/escaped");
    QTest::newRow("Windows separator") << QStringLiteral("sub\\escaped");
    QTest::newRow("dot dot") << QStringLiteral("..");
}

void Tst_wintools::schtasksRefusesNamesLeadingOutOfItsFolder()
{
    QFETCH(QString, name);
    const QString autostart = environment->configHome() + QStringLiteral("/autostart");
    QVERIFY(QDir().mkpath(autostart + QStringLiteral("/sub")));
    const StandInRun run = runStandIn(
        QStringLiteral("schtasks"),
        {QStringLiteral("/create"), QStringLiteral("/tn"), name, QStringLiteral("/tr"), QStringLiteral("/opt/lumenrider.exe"),
         QStringLiteral("/sc"), QStringLiteral("onlogon"), QStringLiteral("/IT"), QStringLiteral("/RL"),
         QStringLiteral("HIGHEST")});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.output, QStringLiteral("错误: 文件名、目录名或卷标语法不正确。\r\n"));
    QVERIFY(!QFileInfo::exists(environment->configHome() + QStringLiteral("/escaped.desktop")));
    QVERIFY(!QFileInfo::exists(autostart + QStringLiteral("/sub/escaped.desktop")));
    QVERIFY(!QFileInfo::exists(autostart + QStringLiteral("/sub\\escaped.desktop")));
    QVERIFY(!QFileInfo::exists(environment->configHome() + QStringLiteral("/.desktop")));
}

QTEST_GUILESS_MAIN(Tst_wintools)
#include "tst_wintools.moc"
