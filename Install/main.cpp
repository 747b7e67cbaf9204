#include "main.h"

#include "Info.h"
#include "Network.h"
#include "Operation.h"
#include "Platform.h"
#include "Thread.h"

#include <QApplication>
#include <QDateTime>
#include <QDebug>
#include <QEventLoop>
#include <QFile>
#include <QMessageBox>
#include <QMutex>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQuickWindow>
#include <QSettings>
#include <QStringBuilder>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QtQml>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#ifdef Q_OS_WIN
#include <windows.h>
#include <dbghelp.h>
#undef interface
#endif

const QString installerTitle = QStringLiteral("流光游戏加速器安装程序");

namespace {

const int listingWaitMs = 30000;
// The longest job 3 waits for the first screen to be drawn.
const int firstFrameWaitMs = 3000;
const char imageNameMarker[] = "lumenrider_";
const int imageNameSliceBytes = 60;

// ---- log sink --------------------------------------------------------------

QString levelTag(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg: return QStringLiteral("【Debug】");
    case QtInfoMsg: return QStringLiteral("【Info】");
    case QtWarningMsg: return QStringLiteral("【Error】");
    case QtCriticalMsg: return QStringLiteral("【Critical】");
    case QtFatalMsg: return QStringLiteral("【Fatal】");
    }
    return QString();
}

// One mutex per file, made on first use and kept to the end.
QMutex &logFileMutex()
{
    static QMutex mutex;
    return mutex;
}

QMutex &errorFileMutex()
{
    static QMutex mutex;
    return mutex;
}

// Where an entry goes, fixed at its first use: the folder of the running
// installer.
const QString &logFilePath()
{
    static const QString path = installerFolder() + QStringLiteral("/log.txt");
    return path;
}

const QString &errorFilePath()
{
    static const QString path = installerFolder() + QStringLiteral("/Errorlog.txt");
    return path;
}

// Each entry opens, writes and closes its file, so it is on disk when the
// logging call returns. The entry comes encoded already (the local 8-bit
// encoding, as a text stream would write it), so the file is held only for
// the write.
void appendEntry(const QString &path, QMutex &mutex, const QByteArray &entry)
{
    QMutexLocker lock(&mutex);
    Platform::appendToFile(path, entry);
}

// The entry's time, to the second. Turning the clock into local time text
// costs more than the rest of an entry, and a burst of entries falls within
// one second, so each thread keeps the text of its last second. It is kept
// in plain characters: a thread-local object with a destructor (a QString)
// is destroyed by the mingw runtime after that thread's storage has been
// freed, which corrupts the heap when a job thread ends.
QString entryTime()
{
    constexpr int timeLength = 19; // "yyyy-MM-dd hh:mm:ss"
    thread_local qint64 second = -1;
    thread_local char text[timeLength];
    const qint64 nowSecond = QDateTime::currentMSecsSinceEpoch() / 1000;
    if (nowSecond != second) {
        second = nowSecond;
        const QByteArray formatted = QDateTime::fromSecsSinceEpoch(nowSecond)
                                         .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                                         .toLatin1();
        std::memcpy(text, formatted.constData(), size_t(qMin(int(formatted.size()), timeLength)));
    }
    return QString::fromLatin1(text, timeLength);
}

// A message raised while the sink runs (the file layer complaining, say)
// must not come back into it and take a file mutex a second time.
thread_local bool insideSink = false;

} // namespace

void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    if (insideSink) {
        const QByteArray text = msg.toLocal8Bit();
        std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
        std::fputc('\n', stderr);
        return;
    }
    insideSink = true;

    const QString tag = levelTag(type);
    // Joined piece by piece: a "%" in the message is left as it is.
    const QString entry = tag % QLatin1Char('[') % entryTime() % QLatin1String("][File:")
                          % QString::fromUtf8(context.file) % QLatin1String("][Line:")
                          % QString::number(context.line) % QLatin1String("][Function:")
                          % QString::fromUtf8(context.function) % QStringLiteral("]\r\n【msg】:[") % msg
                          % QLatin1String("]\r\n\r\n");
    if (fullLogMode)
        appendEntry(logFilePath(), logFileMutex(), entry.toLocal8Bit());
    else if (type == QtWarningMsg)
        appendEntry(errorFilePath(), errorFileMutex(), entry.toLocal8Bit());

    const QByteArray line = (tag + msg + QStringLiteral("\r\n")).toLocal8Bit();
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);

    insideSink = false;
}

// ---- crash handler -------------------------------------------------------------

namespace {

// How long a reporter waits for the vendor to take the crash report.
const int crashReportWaitMs = 10000;

QString crashReportMessage(const QString &code, const QString &address)
{
    const QString user = getConfigValue(QStringLiteral("user"), QStringLiteral("username")).toString();
    return QStringLiteral("<程序崩溃>:崩溃程序:安装,状态码：%1,错误内存：%2,用户名：%3").arg(code, address, user);
}

QString crashBoxText(const QString &code, const QString &address)
{
    return QStringLiteral("<FONT size=4><div><b>对于发生的错误，表示诚挚的歉意</b><br/></div>")
           + QStringLiteral("<div>错误代码：%1</div><div>错误地址：%2</div></FONT>").arg(code, address);
}

const QString crashBoxTitle = QStringLiteral("程式崩溃");

void sendCrashReport(Network &network, const QString &code, const QString &address)
{
    const QString message = crashReportMessage(code, address);
    qWarning().noquote() << message;
    network.sendReportError(QStringLiteral("1001"), message);
}

} // namespace

void reportCrash(const QString &code, const QString &address, int waitAfterBoxMs)
{
    Network network;
    sendCrashReport(network, code, address);
    // The report goes on while the box is open.
    QMessageBox::critical(nullptr, crashBoxTitle, crashBoxText(code, address), QMessageBox::Ok, QMessageBox::NoButton);
    if (waitAfterBoxMs > 0)
        network.waitForCurrentReply(waitAfterBoxMs);
}

#ifdef Q_OS_WIN
namespace {

// The crash is handled on a thread of its own, made when the filter is
// installed: the faulting thread may have no stack left (a stack overflow)
// and its own work may be what broke. The filter hands the fault over and
// waits.
struct CrashHandover
{
    HANDLE request = nullptr;
    HANDLE done = nullptr;
    DWORD helperThreadId = 0;
    EXCEPTION_POINTERS *exception = nullptr;
    DWORD faultingThreadId = 0;
};
CrashHandover crashHandover;
volatile LONG crashTaken = 0;

void writeMiniDump(EXCEPTION_POINTERS *exception, DWORD threadId)
{
    HANDLE file = ::CreateFileW(L"crash.dmp", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    MINIDUMP_EXCEPTION_INFORMATION info;
    info.ThreadId = threadId;
    info.ExceptionPointers = exception;
    info.ClientPointers = FALSE;
    ::MiniDumpWriteDump(::GetCurrentProcess(), ::GetCurrentProcessId(), file, MiniDumpNormal, &info, nullptr,
                        nullptr);
    ::CloseHandle(file);
}

// The dump, the report and the box. Qt's widgets belong to the main thread,
// which may be the one that faulted: the box is the system's own. After it
// is closed, the report is given a few seconds to be taken.
void handleCrash(EXCEPTION_POINTERS *exception, DWORD faultingThreadId)
{
    writeMiniDump(exception, faultingThreadId);
    const QString code = QString::number(quint32(exception->ExceptionRecord->ExceptionCode), 16);
    const QString address = QString::number(quintptr(exception->ExceptionRecord->ExceptionAddress), 16);
    // The main thread may be the one that faulted: the report goes out
    // from here. Once this thread has handled its events once, the box's
    // message loop carries the request on while the box is open.
    Network network;
    network.sendFromOwnThread();
    sendCrashReport(network, code, address);
    QEventLoop().processEvents(QEventLoop::ExcludeUserInputEvents);
    const QString text = QStringLiteral("对于发生的错误，表示诚挚的歉意\n错误代码：%1\n错误地址：%2").arg(code, address);
    ::MessageBoxW(nullptr, reinterpret_cast<const wchar_t *>(text.utf16()),
                  reinterpret_cast<const wchar_t *>(crashBoxTitle.utf16()), MB_OK | MB_ICONERROR | MB_TOPMOST);
    network.waitForCurrentReply(crashReportWaitMs);
}

DWORD WINAPI crashHelper(void *)
{
    ::WaitForSingleObject(crashHandover.request, INFINITE);
    handleCrash(crashHandover.exception, crashHandover.faultingThreadId);
    ::SetEvent(crashHandover.done);
    return 0;
}

} // namespace

LONG WINAPI crashFilter(EXCEPTION_POINTERS *exception)
{
    const DWORD self = ::GetCurrentThreadId();
    // A fault of the handler itself ends the process at once.
    if (self == crashHandover.helperThreadId)
        return EXCEPTION_EXECUTE_HANDLER;
    // One crash is reported; another thread that faults meanwhile waits for
    // the end of the process.
    if (::InterlockedExchange(&crashTaken, 1) != 0) {
        if (self == crashHandover.faultingThreadId)
            return EXCEPTION_EXECUTE_HANDLER;
        ::Sleep(INFINITE);
    }
    crashHandover.exception = exception;
    crashHandover.faultingThreadId = self;
    if (!crashHandover.request) {
        // No helper thread could be had: the faulting thread does the work.
        handleCrash(exception, self);
        return EXCEPTION_EXECUTE_HANDLER;
    }
    ::SetEvent(crashHandover.request);
    ::WaitForSingleObject(crashHandover.done, INFINITE);
    return EXCEPTION_EXECUTE_HANDLER;
}
#endif

void installCrashFilter()
{
#ifdef Q_OS_WIN
    crashHandover.request = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    crashHandover.done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE helper = crashHandover.request && crashHandover.done
                        ? ::CreateThread(nullptr, 0, crashHelper, nullptr, 0, &crashHandover.helperThreadId)
                        : nullptr;
    if (helper)
        ::CloseHandle(helper);
    else
        crashHandover.request = nullptr;
    ::SetUnhandledExceptionFilter(crashFilter);
#else
    // The reporter this program starts after a crash sends to the same log
    // API, logs as this run does and reads the config file of the install
    // folder chosen by then (a change of folder hands it the new one).
    Platform::setCrashReporterValue(QStringLiteral("LUMENRIDER_CRASH_LOG_API"), logApiBase);
    Platform::setCrashReporterValue(QStringLiteral("LUMENRIDER_CRASH_FLAGS"), runFlags().join(QLatin1Char(' ')));
    Platform::setCrashReporterValue(QStringLiteral("LUMENRIDER_CRASH_INSTALL_PATH"), installPath);
    Platform::installCrashHandler();
#endif
}

bool isCrashReporterRun()
{
    return Platform::pendingCrashReport().valid;
}

QStringList runFlags()
{
    QStringList flags;
    if (debugMode)
        flags << QStringLiteral("--d");
    if (consoleMode)
        flags << QStringLiteral("--t");
    if (fullLogMode)
        flags << QStringLiteral("--alog");
    if (goInstall)
        flags << QStringLiteral("--goinstall");
    return flags;
}

int runCrashReporter(int argc, char *argv[])
{
    const Platform::CrashReport crash = Platform::pendingCrashReport();
    QApplication app(argc, argv);
    // The flags, config file, machine identity and channel of the installer
    // that crashed.
    const QStringList flags = qEnvironmentVariable("LUMENRIDER_CRASH_FLAGS").split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &flag : flags)
        applyCommandLineFlag(flag.toLatin1().constData());
    installLogSink();
    initInstallInfo();
    const QString chosenFolder = qEnvironmentVariable("LUMENRIDER_CRASH_INSTALL_PATH");
    if (!chosenFolder.isEmpty())
        retargetInstallPath(chosenFolder);
    Platform::ImageListing listing(listingWaitMs);
    readInstallerChannel(listing);
    logApiBase = qEnvironmentVariable("LUMENRIDER_CRASH_LOG_API");
    reportCrash(crash.code, crash.address, crashReportWaitMs);
    return 0;
}

#ifdef LUMENRIDER_TEST_FAULTS
namespace {

// Each call keeps a page of its stack in use, so the recursion runs out of
// stack rather than being folded into a loop.
int overflowStack(int depth)
{
    volatile char page[4096];
    page[0] = char(depth);
    return overflowStack(depth + 1) + page[0];
}

} // namespace
#endif

// Test builds only: LUMENRIDER_TEST_FAULT set to "main", "job", "stack" or
// "jobstack" makes the installer fault for real a second after its main
// page is up: on the main thread, on a thread of its own, or by running
// out of stack on the main thread or on a thread of its own.
// LUMENRIDER_TEST_INSTALL_PATH plays the user's choice of install folder.
void armTestFault()
{
#ifdef LUMENRIDER_TEST_FAULTS
    static const auto fault = [] {
        volatile int *volatile nowhere = nullptr;
        *nowhere = 1;
    };
    const QString where = qEnvironmentVariable("LUMENRIDER_TEST_FAULT");
    if (where == QLatin1String("main"))
        QTimer::singleShot(1000, [] { fault(); });
    else if (where == QLatin1String("job"))
        QTimer::singleShot(1000, [] { QThread::create([] { fault(); })->start(); });
    else if (where == QLatin1String("stack"))
        QTimer::singleShot(1000, [] { overflowStack(0); });
    else if (where == QLatin1String("jobstack"))
        QTimer::singleShot(1000, [] {
            QThread::create([] {
                const Platform::ThreadCrashStack crashStack; // as every job thread has
                overflowStack(0);
            })->start();
        });
    // The install folder as if the user had chosen it on the page.
    const QString chosenFolder = qEnvironmentVariable("LUMENRIDER_TEST_INSTALL_PATH");
    if (!chosenFolder.isEmpty())
        retargetInstallPath(chosenFolder);
#endif
}

// ---- start-up steps ----------------------------------------------------------

void setOrganisationName()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Some organization"));
}

// The pages are still pictures, text and a progress bar: Qt Quick's own
// software renderer draws them without a graphics driver. That spares
// starting one (on a machine without a usable OpenGL, Qt Quick would not
// start at all) and the first frame comes sooner. QT_QUICK_BACKEND still
// chooses another renderer.
void drawPagesInSoftware()
{
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);
}

bool checkSingleInstance()
{
    return Platform::claimSingleInstance(installerTitle);
}

void readCommandLine(int argc, char *argv[])
{
    for (int i = 0; i < argc; ++i) {
        qDebug() << "<参数启动>检测启动参数：" << QString::fromLocal8Bit(argv[i]);
        applyCommandLineFlag(argv[i]);
    }
}

void applyCommandLineFlag(const char *argument)
{
    struct Flag
    {
        const char *text;
        bool debug;
        bool console;
        bool fullLog;
        bool install;
    };
    static const Flag flags[] = {
        {"--d", true, false, false, false},     {"--td", true, true, false, false},
        {"--dt", true, true, false, false},     {"--t", false, true, false, false},
        {"--alog", false, false, true, false},  {"--goinstall", false, false, false, true},
    };
    for (const Flag &flag : flags) {
        if (std::strcmp(argument, flag.text) != 0)
            continue;
        debugMode = debugMode || flag.debug;
        fullLogMode = fullLogMode || flag.fullLog;
        goInstall = goInstall || flag.install;
        if (flag.console) {
            consoleMode = true;
            Platform::openConsole();
        }
        if (flag.fullLog)
            qDebug() << "开启全日志模式";
        return;
    }
}

void installLogSink()
{
    qInstallMessageHandler(logMessageHandler);
}

ChannelValues scanInstallerChannel(const QByteArray &listing, ChannelValues values)
{
    const int markerAt = listing.indexOf(imageNameMarker);
    if (markerAt < 0)
        return values;
    const QString slice = QString::fromUtf8(listing.mid(markerAt, imageNameSliceBytes));
    qDebug() << "___________" << slice;
    const int extensionAt = slice.indexOf(QLatin1String(".e"));
    qDebug() << "___________" << extensionAt;
    if (extensionAt < 0)
        return values;

    // Positions in the slice are fixed: the tag starts after "lumenrider_",
    // a project name after "auth" and one separator, a channel id after the
    // version and one separator.
    const int tagAt = int(std::strlen(imageNameMarker));
    const int projectAt = tagAt + 5;
    const int channelAt = tagAt + versionName.size() + 1;
    QString tag = slice.mid(tagAt, extensionAt - tagAt);
    values.inviteCdk = tag;
    if (values.inviteCdk == versionName)
        values.inviteCdk.clear();
    if (!values.inviteCdk.contains(QLatin1Char('(')) && values.inviteCdk.contains(QLatin1String("auth"))) {
        // A bare "auth" names no project: the default stays.
        if (tag != QLatin1String("auth"))
            values.projectName = slice.mid(projectAt, extensionAt - projectAt);
        values.inviteCdk.clear();
    }
    if (values.inviteCdk.contains(versionName) && !values.inviteCdk.contains(QLatin1Char('('))) {
        values.oemId = slice.mid(channelAt, extensionAt - channelAt);
        values.inviteCdk.clear();
    }
    if (values.inviteCdk.contains(versionName + QLatin1Char('(')))
        values.inviteCdk.clear();

    qDebug() << "invitecdk:" << values.inviteCdk << "oem:" << values.oemId << "project_name" << values.projectName;
    return values;
}

void readInstallerChannel(Platform::ImageListing &listing)
{
    const ChannelValues values = scanInstallerChannel(listing.read(), {inviteCdk, oemId, projectName});
    inviteCdk = values.inviteCdk;
    oemId = values.oemId;
    projectName = values.projectName;
}

void discoverApi(Network &network)
{
    network.getDomain();
}

void checkSecondInstall()
{
    const auto registry = Platform::openRegistryKey(installerUninstallRoot + QStringLiteral("LRI\\"));
    if (registry->value(QStringLiteral("xinstall")).toString() == QLatin1String("1")) {
        qDebug() << "二次安装";
        secondInstall = QStringLiteral("是");
    }
}

void waitForApi()
{
    // Domain discovery has finished by now, within the API client's time-out,
    // and nothing else fills the base: without it the installer goes on and
    // its reports are skipped.
    if (gameApiBase.isEmpty())
        qWarning() << "<接口操作>:未获取到接口地址,不上报继续安装";
}

// Job 3 runs system tools, and starting programs under Wine takes turns
// with drawing the page: it starts once the first screen has been drawn, or
// after firstFrameWaitMs when none comes. An install that skips the first
// screen starts as the page is shown and has job 3 started before it, as
// always.
void startClientStopJob(Operation &operation, QObject *page)
{
    clientProcessList = QStringLiteral("ZURizad.exe,ruzuvaveru.exe,lumenrider.exe");
    if (goInstall) {
        operation.startthread(3);
        return;
    }
    // Whichever comes first starts the job; every later frame then goes by
    // without a call.
    auto started = std::make_shared<bool>(false);
    auto frames = std::make_shared<QMetaObject::Connection>();
    const auto startOnce = [&operation, started, frames] {
        if (*started)
            return;
        *started = true;
        QObject::disconnect(*frames);
        operation.startthread(3);
    };
    if (auto *window = qobject_cast<QQuickWindow *>(page))
        // Drawn on the render thread: the start crosses to ours.
        *frames = QObject::connect(window, &QQuickWindow::frameSwapped, &operation, startOnce, Qt::QueuedConnection);
    QTimer::singleShot(firstFrameWaitMs, &operation, startOnce);
}

void registerQmlTypes()
{
    qmlRegisterType<Network>("qz.Network", 1, 0, "Network");
    qmlRegisterType<Operation>("qz.InstallOperation", 1, 0, "InstallOperation");
}

// The close button ends the installer in any state, also while a job runs.
// Such a job still uses what the process would take down on the way out, so
// the process ends here, at once, with the config file written out.
void leaveRunningJobs(int exitCode)
{
    if (Thread::running() == 0)
        return;
    if (configSettings)
        configSettings->sync();
    std::fflush(stdout);
    std::_Exit(exitCode);
}

// The Windows build carries the Controls module in its resources (see
// Install/CMakeLists.txt): found there first, its documents are read from
// memory and not looked up folder by folder on the disk.
void preferBundledModules(QQmlEngine &engine)
{
    if (QFile::exists(QStringLiteral(":/QtQuick/Controls/qmldir")))
        engine.addImportPath(QStringLiteral("qrc:/"));
}

// The engine's loader thread reads the page and the modules it imports
// while the main thread finds the API; the types the page names are
// registered by then.
void startLoadingMainPage(QQmlComponent &page)
{
    page.loadUrl(QUrl(QStringLiteral("qrc:/main.qml")), QQmlComponent::Asynchronous);
}

// The page's objects are made here, once it has loaded, before the channel
// is known: its bindings, its showing and its first request (the init call,
// which carries the channel) wait for showMainPage.
std::unique_ptr<QObject> makeMainPage(QQmlApplicationEngine &engine, QQmlComponent &page)
{
    if (page.isLoading()) {
        QEventLoop loaded;
        QObject::connect(&page, &QQmlComponent::statusChanged, &loaded, &QEventLoop::quit);
        loaded.exec();
    }
    std::unique_ptr<QObject> made(page.beginCreate(engine.rootContext()));
    if (!made)
        qWarning().noquote() << page.errorString();
    return made;
}

void showMainPage(QQmlComponent &page)
{
    page.completeCreate();
}

int main(int argc, char *argv[])
{
    if (isCrashReporterRun())
        return runCrashReporter(argc, argv);

    setOrganisationName();
    if (!checkSingleInstance())
        return 0;

    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    drawPagesInSoftware();
    QApplication app(argc, argv);
    QQmlApplicationEngine engine;
    preferBundledModules(engine);
    Platform::serveSecondInstances(installerTitle);

    readCommandLine(argc, argv);
    installLogSink();
    initInstallInfo();
    // The system's process listing and the loading of the page take a
    // while: they run while the API is found, and nothing reads the channel
    // before the page is shown.
    Platform::ImageListing listing(listingWaitMs);
    registerQmlTypes();
    QQmlComponent pageComponent(&engine);
    startLoadingMainPage(pageComponent);

    Network network;
    discoverApi(network);
    checkSecondInstall();
    waitForApi();

    Operation operation;
    installCrashFilter();
    const std::unique_ptr<QObject> page = makeMainPage(engine, pageComponent);
    readInstallerChannel(listing);
    if (!page)
        return -1;
    startClientStopJob(operation, page.get());
    showMainPage(pageComponent);
    armTestFault();
    const int exitCode = app.exec();
    leaveRunningJobs(exitCode);
    return exitCode;
}
