#include "Operation.h"

#include "Info.h"
#include "Network.h"
#include "Platform.h"
#include "Thread.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>

bool createLinkChoice = true;

namespace {

// The longest a call of a system tool may take, all told, and the part of
// it kept for stopping one that overstays.
const int toolWaitMs = 30000;
const int toolStopWaitMs = 2000;
const QString driverService = QStringLiteral("DOVivived");
const QString logonTaskName = QStringLiteral("LumenRiderSpeed");
const QString productName = QStringLiteral("流光骑士");
// What the service commands of sc are sent on their input when they are done.
const QByteArray serviceExitText = QByteArrayLiteral("exit\n\r");

void reportError(const QString &code, const QString &message)
{
    Network network;
    network.sendReportError(code, message);
}

QString installedClient()
{
    return installPath + QLatin1Char('/') + clientExeBase + QStringLiteral(".exe");
}

QString shortcutName()
{
    return productName + QStringLiteral(".lnk");
}

// Where the warnings of a failed step are written beside the installer.
QString logFilePath()
{
    return installerFolder() + (fullLogMode ? QStringLiteral("/log.txt") : QStringLiteral("/Errorlog.txt"));
}

// One run of a command-line tool, read to its end.
struct ToolRun
{
    bool finished = false;
    int exitCode = -1;
    QString output;
};

void warnToolFailure(const char *tag, const char *what, const QString &program, const QString &reason)
{
    qWarning() << (QByteArray(tag) + what).constData() << program << reason;
}

// Runs a tool with the given input and reads all it prints, within the wait
// limit for the whole call: starting, running and, when it overstays, being
// stopped. A tool that can't be started, doesn't end in time or crashes is
// stopped, logged under `tag` and handed back unfinished with no output.
ToolRun runTool(const char *tag, const Platform::Command &command, const QByteArray &input = QByteArray())
{
    QProcess process;
    process.setProcessEnvironment(Platform::toolEnvironment());
    const QDeadlineTimer deadline(toolWaitMs - toolStopWaitMs);
    const auto remaining = [&deadline] { return int(qMax<qint64>(deadline.remainingTime(), 1)); };
    Platform::startCommand(process, command);
    if (!process.waitForStarted(remaining())) {
        warnToolFailure(tag, ":工具无法启动,工具:", command.program, process.errorString());
        process.kill();
        process.waitForFinished(toolStopWaitMs);
        return {};
    }
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(remaining())) {
        warnToolFailure(tag, ":工具未在时限内结束,工具:", command.program, process.errorString());
        process.kill();
        process.waitForFinished(toolStopWaitMs);
        return {};
    }
    if (process.exitStatus() != QProcess::NormalExit) {
        warnToolFailure(tag, ":工具异常结束,工具:", command.program, process.errorString());
        return {};
    }
    ToolRun run;
    run.finished = true;
    run.exitCode = process.exitCode();
    run.output = QString::fromLocal8Bit(process.readAllStandardOutput());
    return run;
}

QString tool(const char *name)
{
    return Platform::toolProgram(QLatin1String(name));
}

Platform::Command toolCommand(const char *name, const QStringList &arguments)
{
    return {tool(name), arguments, QString(), QString()};
}

bool containsAny(const QString &text, std::initializer_list<const char *> markers)
{
    for (const char *marker : markers) {
        if (text.contains(QString::fromUtf8(marker)))
            return true;
    }
    return false;
}

bool serviceCommandFailed(const ToolRun &run)
{
    return !run.finished || containsAny(run.output, {"失败", "拒绝访问", "不是内部"});
}

ToolRun runServiceCommand(const char *command)
{
    return runTool("<服务操作>", toolCommand("sc", {QLatin1String(command), driverService}), serviceExitText);
}

// Ends the running processes called `name`. A listing that could not be had
// does not tell that nothing runs, so taskkill then decides.
bool stopClientProcess(const QString &name, bool onlyName)
{
    const ToolRun listing =
        runTool("<进程操作>", toolCommand("tasklist", {QStringLiteral("/FI"), QStringLiteral("imagename eq ") + name}));
    if (onlyName && listing.output.contains(QStringLiteral("没有运行")))
        qInfo() << "<进程操作>:无需关闭进程,进程名称:" << name;
    if (listing.finished && !listing.output.contains(name)) {
        qInfo() << "<进程操作>:无需关闭进程,进程名称:" << name;
        return true;
    }
    const ToolRun kill = runTool("<进程操作>", toolCommand("taskkill", {QStringLiteral("/im"), name, QStringLiteral("/f")}));
    if (kill.finished && kill.exitCode == 0) {
        qInfo() << "<进程操作>:关闭进程成功！,进程名称:" << name;
        return true;
    }
    qWarning() << "<进程操作>:关闭进程失败,进程名称:" << name << ",msg:" << listing.output;
    return false;
}

QString logonTaskCommand()
{
    return Platform::batchProgram(tool("schtasks")) + QStringLiteral(" /create /tn ") + logonTaskName
           + QStringLiteral(" /tr ") + Platform::batchTaskTarget(installedClient())
           + QStringLiteral(" /sc onlogon /IT /RL HIGHEST");
}

// --- File release ---

QString releaseReportTail(const QString &newpath)
{
    return newpath + QStringLiteral("当前是否为覆盖安装:") + secondInstall;
}

// Why the client's files may not be released into `target`; empty when
// they may. Copying the installer's folder onto itself, or into a folder
// that depends on the current directory, would wreck the source.
QString releaseTargetRefusal(const QString &target, const QString &source)
{
    if (target.isEmpty())
        return QStringLiteral("安装路径为空");
    if (QDir::isRelativePath(target))
        return QStringLiteral("安装路径不是绝对路径");
    const QFileInfo targetInfo(target);
    const QFileInfo sourceInfo(source);
    if (QDir::cleanPath(targetInfo.absoluteFilePath()) == QDir::cleanPath(sourceInfo.absoluteFilePath())
        || (targetInfo.exists() && targetInfo == sourceInfo))
        return QStringLiteral("安装路径是安装程序所在目录");
    return QString();
}

QString entryPath(const QString &folder, const Platform::FolderEntry &entry)
{
    return folder + QLatin1Char('/') + entry.name;
}

// The folder a release goes to, left out of the source where it lies inside
// it, so it is never copied into itself. Only a target below the source
// can be met on the way down, and only then are folders compared (each
// comparison resolves both paths, link by link).
class ReleaseTarget
{
public:
    ReleaseTarget(const QString &target, const QString &source) : folder(target)
    {
        const QString inside = folder.canonicalFilePath();
        const QString sourcePath = QFileInfo(source).canonicalFilePath();
        // The root of a drive or of the file system ("E:/", "/") ends in
        // its separator already.
        const QString root = sourcePath.endsWith(QLatin1Char('/')) ? sourcePath : sourcePath + QLatin1Char('/');
        // Letter case may not tell paths apart: a doubt costs only time.
        below = !inside.isEmpty() && !sourcePath.isEmpty() && inside.startsWith(root, Qt::CaseInsensitive);
    }

    bool is(const QString &path) const { return below && QFileInfo(path) == folder; }

private:
    QFileInfo folder;
    bool below = false;
};

// The entries of one source folder in release order, without the release
// target; a link is an entry of its own, never a folder to descend into.
// *readable is false when the folder could not be listed.
QVector<Platform::FolderEntry> releaseEntries(const QString &folder, const ReleaseTarget &target, bool *readable)
{
    QVector<Platform::FolderEntry> entries = Platform::listFolder(folder, readable);
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const Platform::FolderEntry &entry) {
                                     return entry.folder && target.is(entryPath(folder, entry));
                                 }),
                  entries.end());
    return entries;
}

void countFiles(const QString &folder, const ReleaseTarget &target, int &count)
{
    const Platform::FolderCount listed = Platform::countFolder(folder);
    count += listed.files;
    for (const QString &name : listed.folders) {
        const QString path = folder + QLatin1Char('/') + name;
        if (!target.is(path))
            countFiles(path, target, count);
    }
}

int releaseProgress()
{
    // Never beyond the page's share, also when files came in after the count.
    return qMin(65, int(double(releaseDone) / qMax(releaseTotal, 1) * 65.0));
}

// *made tells whether the folder is new, and so holds nothing yet.
bool makeReleaseFolder(const QString &newpath, bool *made)
{
    *made = false;
    if (QDir(newpath).exists())
        return true;
    // One level only: a target whose parent is missing fails here at once.
    if ((*made = QDir().mkdir(QFileInfo(newpath).absoluteFilePath())))
        return true;
    reportError(QStringLiteral("4001"), QStringLiteral("安装程序创建目录失败,释放路径:") + releaseReportTail(newpath)
                                            + QStringLiteral("newpath") + newpath);
    return false;
}

bool copyFolderContent(Operation &operation, const QString &oldpath, const QString &newpath, bool cover,
                       const ReleaseTarget &target, bool newFolder)
{
    Platform::FolderCopy files(oldpath, newpath);
    // A release cut off here before (the installer killed, the machine
    // stopped) may have left the copy it was making; a folder just made
    // holds nothing to look for.
    if (const int leftovers = newFolder ? 0 : files.removeLeftovers())
        qInfo() << "<释放文件>:清除中断的释放留下的临时文件,个数:" << leftovers << "目录:" << newpath;
    bool readable = true;
    const QVector<Platform::FolderEntry> entries = releaseEntries(oldpath, target, &readable);
    // A folder that can't be listed would be released as an empty one, its
    // files missing: that is a failed copy.
    if (!readable) {
        qWarning() << "<释放文件>:无法读取目录:" << oldpath;
        reportError(QStringLiteral("4001"),
                    QStringLiteral("安装程序进行文件copy时失败,释放路径:") + releaseReportTail(newpath));
        return false;
    }
    for (const Platform::FolderEntry &entry : entries) {
        if (entry.folder) {
            const QString entryTarget = entryPath(newpath, entry);
            bool made = false;
            if (!makeReleaseFolder(entryTarget, &made)
                || !copyFolderContent(operation, entryPath(oldpath, entry), entryTarget, cover, target, made)) {
                reportError(QStringLiteral("4001"), QStringLiteral("为目录时递归的进行copy失败,释放路径:")
                                                        + releaseReportTail(newpath) + QStringLiteral("newpath")
                                                        + newpath);
                return false;
            }
        } else if (files.copy(entry.name, cover)) {
            ++releaseDone;
            emit operation.sign_int_progressvalue(releaseProgress());
        } else {
            reportError(QStringLiteral("4001"),
                        QStringLiteral("安装程序进行文件copy时失败,释放路径:") + releaseReportTail(newpath));
            return false;
        }
    }
    return true;
}

} // namespace

Operation::Operation(QObject *parent) : QObject(parent)
{
}

void Operation::boolfinishthread(bool success, int threadid)
{
    qDebug() << "<线程操作>:接收信号" << success << "id:" << threadid;
    switch (threadid) {
    case 1:
        setConfigValue(QStringLiteral("setting"), QStringLiteral("openstart"), true);
        emit qmlSign_bool_setaddstartproject(success);
        break;
    case 2:
        emit qmlSign_bool_releasefile(success, logFilePath());
        break;
    case 3:
        emit qmlSign_bool_killprogress(success);
        break;
    case 4:
        emit qmlSign_bool_uninstalldrive(success);
        break;
    default:
        break;
    }
}

QString Operation::getdefaultinstall_path()
{
    return installPath;
}

bool Operation::setdefaultinstall_path(QString path)
{
    return retargetInstallPath(path);
}

void Operation::setcreatelink(bool iscreate)
{
    createLinkChoice = iscreate;
}

QString Operation::getpath(QString linkpath)
{
    // The folder dialog hands back an address: its escapes stand for the
    // characters of the name ("%23" is "#"), and a share keeps its host
    // ("file://server/share" is "//server/share"). Anything else is a path.
    const QUrl address(linkpath);
    return address.isLocalFile() ? address.toLocalFile() : linkpath;
}

bool Operation::releasefile()
{
    const QString source = installerFolder();
    const QString refusal = releaseTargetRefusal(installPath, source);
    if (!refusal.isEmpty()) {
        qWarning() << "<释放文件>:拒绝释放," << refusal << "释放路径:" << installPath;
        reportError(QStringLiteral("4001"), QStringLiteral("安装程序拒绝释放,") + refusal
                                                + QStringLiteral(",释放路径:") + releaseReportTail(installPath));
        return false;
    }
    int count = 0;
    releasefilecount(source, count);
    releaseTotal = count;
    releaseDone = 0;
    qInfo() << "<释放文件>总文件数:" << count;
    qInfo() << "<释放文件>释放路径:" << installPath;
    const bool ok = copyfile(source, installPath, true);
    if (!ok)
        qWarning() << "<安装流程>:解压文件失败！";
    return ok;
}

bool Operation::copyfile(QString oldpath, QString newpath, bool coverFileIfExist)
{
    bool made = false;
    return makeReleaseFolder(newpath, &made)
           && copyFolderContent(*this, oldpath, newpath, coverFileIfExist, ReleaseTarget(newpath, oldpath), made);
}

bool Operation::releasefilecount(QString oldpath, int &count)
{
    countFiles(oldpath, ReleaseTarget(installPath, oldpath), count);
    return true;
}

bool Operation::setprogressvalue(int value)
{
    emit qml_sign_int_progressvalue(value);
    return true;
}

void Operation::startthread(int id)
{
    threadJob = id;
    auto *thread = new Thread(id);
    switch (id) {
    case 1:
        connect(thread, &Thread::sign_bool_addStartProject, this, &Operation::boolfinishthread);
        break;
    case 2:
        connect(thread, &Thread::sign_int_procesvalue, this, &Operation::setprogressvalue);
        connect(thread, &Thread::sign_bool_releasefile, this, &Operation::boolfinishthread);
        break;
    case 3:
        connect(thread, &Thread::sign_bool_killProcess, this, &Operation::boolfinishthread);
        break;
    case 4:
        connect(thread, &Thread::sign_bool_replydrivesysinstall, this, &Operation::boolfinishthread);
        break;
    default:
        break;
    }
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->startJob();
}

bool Operation::createLink()
{
    const QString client = installedClient();
    const QString link =
        QStandardPaths::writableLocation(QStandardPaths::DesktopLocation) + QLatin1Char('/') + shortcutName();
    qInfo() << "<快捷方式>创建快捷方式,路径:" << client;
    Platform::createShortcut(link, client);
    return true;
}

QString Operation::createPath(QString path)
{
    return path.endsWith(QLatin1Char('/')) ? path + clientExeBase : path + QLatin1Char('/') + clientExeBase;
}

bool Operation::writeregedit()
{
    const auto client = Platform::openRegistryKey(uninstallRoot + productName);
    client->setValue(QStringLiteral("DisplayName"), productName);
    client->setValue(QStringLiteral("DisplayVersion"), versionName);
    const auto marker = Platform::openRegistryKey(installerUninstallRoot + QStringLiteral("LRI"));
    marker->setValue(QStringLiteral("xinstall"), QStringLiteral("1"));
    client->setValue(QStringLiteral("InstallTime"), qint32(QDateTime::currentSecsSinceEpoch()));
    client->setValue(QStringLiteral("Publisher"), QStringLiteral("远帆信息科技有限公司"));
    client->setValue(QStringLiteral("InstallPath"), installPath);
    client->setValue(QStringLiteral("UninstallString"),
                     QString(installPath + uninstallExeName).replace(QLatin1Char('/'), QLatin1Char('\\')));
    client->setValue(QStringLiteral("DisplayIcon"),
                     QString(installPath + QStringLiteral("/lumenrider.exe")).replace(QLatin1Char('/'), QLatin1Char('\\')));
    return true;
}

bool Operation::startexe()
{
    QStringList parameters;
    if (consoleMode) {
        parameters << QStringLiteral("--t");
        if (debugMode)
            parameters << QStringLiteral("--d");
    }
    int error = 0;
    if (Platform::launchClient(installedClient(), parameters, &error)) {
        qInfo() << "<程序启动>：启动程序成功";
        return true;
    }
    qWarning() << "<程序启动>：启动程序失败,错误代码:" << error;
    reportError(QStringLiteral("4002"), QStringLiteral("<程序启动>：启动程序失败,程序安装路径:") + installPath);
    return false;
}

void Operation::createMenuPath()
{
    const QString client = installedClient();
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation) + QLatin1Char('/') + productName;
    // The menu's own folder may be missing on a fresh Linux account.
    if (QDir().mkpath(folder))
        Platform::createShortcut(folder + QLatin1Char('/') + shortcutName(), client);
}

bool Operation::setversion()
{
    const QString group = QStringLiteral("version");
    setConfigValue(group, QStringLiteral("show"), appVersion);
    setConfigValue(group, QStringLiteral("update"), versionCode);
    setConfigValue(group, QStringLiteral("oem"), oemId);
    setConfigValue(group, QStringLiteral("cdk"), inviteCdk);
    setConfigValue(group, QStringLiteral("project"), projectName);
    return true;
}

bool Operation::getisskip()
{
    return goInstall;
}

void Operation::openurl(QString url)
{
    qInfo() << "url:" << url;
    const QUrl address(url);
    const QString scheme = address.scheme();
    // Only web pages: anything else handed to the system's opener could
    // start a program or open a local file.
    if (!address.isValid() || address.host().isEmpty()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        qWarning() << "<接口操作>:不是网页地址,不打开,url:" << url;
        return;
    }
    Platform::openWebAddress(address);
}

void Operation::iftwiceinstall()
{
    if (secondInstall == QLatin1String("是")) {
        qDebug() << "二次安装";
        reportError(QStringLiteral("4003"), QStringLiteral("二次安装"));
    }
}

bool killProcess()
{
    qInfo() << "process:" << clientProcessList;
    const bool several = clientProcessList.contains(QLatin1Char(','));
    const QStringList names = several ? clientProcessList.split(QLatin1Char(',')) : QStringList{clientProcessList};
    bool result = true;
    for (const QString &name : names)
        result = stopClientProcess(name, !several) && result;
    return result;
}

bool querynewsys()
{
    // Output that could not be had does not show the service absent, so
    // its removal is still tried.
    return !containsAny(runServiceCommand("qc").output, {"1060", "未安装", "不是内部"});
}

bool stopnewsys()
{
    const ToolRun stop = runServiceCommand("stop");
    if (serviceCommandFailed(stop)) {
        reportError(QStringLiteral("3011"), QStringLiteral("<服务操作>:状态:停止服务失败,消息:") + stop.output);
        qWarning() << "<驱动卸载>:停止新驱动失败！msg:" << stop.output;
        return false;
    }
    qInfo() << "<驱动卸载>:停止新驱动成功！msg:" << stop.output;
    return true;
}

bool uninstallnewsys()
{
    const ToolRun removal = runServiceCommand("delete");
    if (serviceCommandFailed(removal)) {
        qWarning() << "<驱动卸载>:卸载新驱动失败！msg:" << removal.output;
        reportError(QStringLiteral("3012"), QStringLiteral("<服务操作>:状态:删除服务失败,消息:") + removal.output);
        return false;
    }
    qInfo() << "<驱动卸载>:卸载新驱动成功！msg:" << removal.output;
    return true;
}

bool uninstalldrive()
{
    if (querynewsys())
        stopnewsys();
    if (querynewsys())
        uninstallnewsys();
    return true;
}

bool hasStartProject()
{
    return runTool("<安装流程>", toolCommand("schtasks", {})).output.contains(logonTaskName);
}

bool addStartProject()
{
    if (hasStartProject()) {
        qInfo() << "已有任务计划";
        return true;
    }
    qInfo() << "添加任务计划";
    const QString batchPath = installerFolder() + QStringLiteral("/autostart.bat");
    qInfo() << "path:" << batchPath;
    createfile(batchPath, true);
    QFile batch(batchPath);
    if (!batch.open(QIODevice::ReadWrite | QIODevice::Truncate))
        return false;
    // The local 8-bit encoding keeps a Chinese folder name in the task.
    batch.write(logonTaskCommand().toLocal8Bit());
    batch.close();

    const QString output = runTool("<安装流程>", Platform::batchCommand(batchPath)).output;
    qDebug() << "msg" << output;
    if (output.contains(QStringLiteral("成功"))) {
        deletefile(batchPath);
        qDebug() << "成功创建！";
        return true;
    }
    reportError(QStringLiteral("4000"), QStringLiteral("添加开机启动任务计划，Runpath路径:") + batchPath);
    qDebug() << "创建失败！";
    deletefile(batchPath);
    return false;
}
