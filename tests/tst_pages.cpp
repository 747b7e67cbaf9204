// The three pages, loaded as the installer loads them, with the real API
// client and install object, driven by real pointer and key input through
// the X server (xdotool) and checked by their properties and by pictures of
// the screen.
//
// The program runs itself again from a prepared folder: job 2 releases the
// folder the program lies in, so that folder holds a known set of 130 files
// (progress then runs 0, 1, ... 30, ... 65) and a client that records its
// start.

#include "Info.h"
#include "Operation.h"
#include "Platform.h"
#include "TestSupport.h"
#include "VendorApiServer.h"
#include "main.h"

#include <QApplication>
#include <QFileDialog>
#include <QImage>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlExpression>
#include <QQuickItem>
#include <QQuickWindow>
#include <QScreen>
#include <QSettings>
#include <QtTest>

#include <memory>

namespace {

const char payloadMarker[] = "LUMENRIDER_PAGES_FROM_PAYLOAD";
const int payloadFiles = 130;

QColor colorAt(const QImage &image, const QPoint &point)
{
    return image.pixelColor(point);
}

// Near enough to the page colour, as the screen shows it.
bool looksLike(const QColor &seen, const QColor &expected)
{
    return qAbs(seen.red() - expected.red()) <= 6 && qAbs(seen.green() - expected.green()) <= 6
           && qAbs(seen.blue() - expected.blue()) <= 6;
}

// The folder picker, a dialog of the widgets the application object has.
QFileDialog *shownFileDialog()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *dialog = qobject_cast<QFileDialog *>(widget))
            return dialog;
    }
    return nullptr;
}

} // namespace

class TestPages : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void agreementBoxSwitchesInstallButton();
    void keyboardFollowsTheBoxes();
    void customPanelOpensAndClosesInPlace();
    void draggingMovesAllThreeWindows();
    void pathFieldPassesEveryChange();
    void browseButtonOpensTheFolderPicker();
    void installingPhases_data();
    void installingPhases();
    void slowDriverRemovalHoldsTheBarAtEleven();
    void immediateInstallSkipsTheFirstScreen();
    void failedReleaseIsSaidOnTheInstallingPage();
    void startButtonRetriesAfterAFailedStart();

private:
    void loadPages();
    QVariant eval(const QString &expression, QObject *scope = nullptr);
    QObject *object(const QString &expression, QObject *scope = nullptr);
    QPoint screenPoint(const QString &item, QObject *scope = nullptr, qreal fx = 0.5, qreal fy = 0.5);
    void click(const QString &item, QObject *scope = nullptr, qreal fx = 0.5, qreal fy = 0.5);
    void hover(const QString &item, QObject *scope = nullptr);
    QImage grab();
    void saveScreenshot(const QString &name);
    void openCustomPanel();

    std::unique_ptr<ScopedTestEnvironment> environment;
    std::unique_ptr<VendorApiServer> server;
    std::unique_ptr<QQmlApplicationEngine> engine;
    QQuickWindow *window = nullptr;
    QObject *installing = nullptr;
    QObject *success = nullptr;
    QString installFolder;
};

void TestPages::initTestCase()
{
    QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "the pages need an X server");
    QCOMPARE(QDir(installerFolder()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot).size() > 0, true);
    registerQmlTypes();
}

void TestPages::init()
{
    environment = std::make_unique<ScopedTestEnvironment>();
    server = std::make_unique<VendorApiServer>();
    QVERIFY(server->start());
    gameApiBase = server->baseUrl() + QStringLiteral("/game/");
    logApiBase = server->baseUrl() + QStringLiteral("/log/");
    // The product folder goes into a folder that exists, as the default
    // one does.
    QDir().mkpath(environment->path() + QStringLiteral("/install"));
    installFolder = environment->path() + QStringLiteral("/install/lumenrider");
    retargetInstallPath(installFolder);
    goInstall = false;
    releaseDone = 0;
    clientProcessList = QStringLiteral("lr-none-a.exe,lr-none-b.exe");
}

void TestPages::cleanup()
{
    engine.reset();
    window = nullptr;
    server.reset();
    environment.reset();
}

void TestPages::loadPages()
{
    engine = std::make_unique<QQmlApplicationEngine>();
    engine->load(QUrl(QStringLiteral("qrc:/main.qml")));
    QVERIFY(!engine->rootObjects().isEmpty());
    window = qobject_cast<QQuickWindow *>(engine->rootObjects().first());
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    // Somewhere in the screen, as a window manager would put it.
    window->setPosition(200, 150);
    QTRY_COMPARE(window->position(), QPoint(200, 150));
    // The installing and success pages come once the first screen is drawn.
    QTRY_VERIFY(object(QStringLiteral("installing")) && object(QStringLiteral("installsuccess")));
    installing = object(QStringLiteral("installing"));
    success = object(QStringLiteral("installsuccess"));
}

QVariant TestPages::eval(const QString &expression, QObject *scope)
{
    // The ids of the installing and success pages live in their own
    // documents, the context of what those documents declare.
    QObject *in = scope ? scope : window;
    QQmlContext *context = qmlContext(window);
    if (auto *page = qobject_cast<QQuickWindow *>(scope))
        context = qmlContext(page->contentItem()->childItems().value(0));
    QQmlExpression expr(context, in, expression);
    const QVariant value = expr.evaluate();
    if (expr.hasError())
        qWarning() << "expression failed:" << expression << expr.error().toString();
    return value;
}

QObject *TestPages::object(const QString &expression, QObject *scope)
{
    return eval(expression, scope).value<QObject *>();
}

QPoint TestPages::screenPoint(const QString &item, QObject *scope, qreal fx, qreal fy)
{
    auto *quickItem = qobject_cast<QQuickItem *>(object(item, scope));
    if (!quickItem)
        return QPoint(-1, -1);
    const QPointF inWindow = quickItem->mapToScene(QPointF(quickItem->width() * fx, quickItem->height() * fy));
    return quickItem->window()->mapToGlobal(inWindow.toPoint());
}

void TestPages::hover(const QString &item, QObject *scope)
{
    QVERIFY(moveTo(screenPoint(item, scope)));
}

void TestPages::click(const QString &item, QObject *scope, qreal fx, qreal fy)
{
    const QPoint at = screenPoint(item, scope, fx, fy);
    QVERIFY2(at.x() >= 0, qPrintable(item));
    QVERIFY(clickAt(at));
}

QImage TestPages::grab()
{
    QCoreApplication::processEvents();
    return window->screen()->grabWindow(0).toImage();
}

void TestPages::saveScreenshot(const QString &name)
{
    const QString folder = qEnvironmentVariable("LUMENRIDER_SCREENSHOT_DIR");
    if (folder.isEmpty())
        return;
    QDir().mkpath(folder);
    const QRect area(window->position(), window->size());
    QVERIFY(grab().copy(area).save(folder + QLatin1Char('/') + name + QStringLiteral(".png")));
}

// Opens the custom-install panel and waits until the window has grown and
// moved, so positions on screen are right again.
void TestPages::openCustomPanel()
{
    const QPoint before = window->position();
    click(QStringLiteral("custom"));
    QTRY_COMPARE(window->height(), 500);
    QTRY_COMPARE(window->contentItem()->height(), 500.0);
    QTRY_COMPARE(window->position(), before - QPoint(0, 40));
    QVERIFY(eval(QStringLiteral("coustomback.visible")).toBool());
}

// ---- first screen ----------------------------------------------------------

void TestPages::agreementBoxSwitchesInstallButton()
{
    loadPages();
    const QString fill = QStringLiteral("btninstallback.color.toString()");
    QTRY_COMPARE(eval(fill).toString(), QStringLiteral("#0ebae5"));
    saveScreenshot(QStringLiteral("main"));
    // Beside the button's label, where only its fill shows.
    const QPoint button = screenPoint(QStringLiteral("btninstall"), nullptr, 0.08, 0.5);
    QVERIFY(looksLike(colorAt(grab(), button), QColor("#0ebae5")));

    hover(QStringLiteral("btninstall"));
    QTRY_COMPARE(eval(fill).toString(), QStringLiteral("#00afdb"));

    // The box is the 14 × 14 square at the button's left.
    click(QStringLiteral("arguementback"));
    QTRY_COMPARE(eval(QStringLiteral("arguement.checked")).toBool(), false);
    QCOMPARE(eval(QStringLiteral("btninstall.enabled")).toBool(), false);
    QTRY_COMPARE(eval(fill).toString(), QStringLiteral("#7b7676"));
    QTRY_VERIFY(looksLike(colorAt(grab(), button), QColor("#7b7676")));
    QVERIFY(!eval(QStringLiteral("visible"), object(QStringLiteral("arguementback.children[0]"))).toBool());

    // A click on the dead button does nothing; the box click after it is
    // handled after it, so once the box is checked again the button click
    // has had its chance.
    click(QStringLiteral("btninstall"));
    click(QStringLiteral("arguementback"));
    QTRY_COMPARE(eval(QStringLiteral("arguement.checked")).toBool(), true);
    QCOMPARE(installing->property("visible").toBool(), false);
    QVERIFY(!QFile::exists(environment->registryFile()));
    QCOMPARE(eval(QStringLiteral("btninstall.enabled")).toBool(), true);
    QTRY_COMPARE(eval(fill).toString(), QStringLiteral("#0ebae5"));
    QTRY_VERIFY(looksLike(colorAt(grab(), button), QColor("#0ebae5")));

    // The agreement address came with the init reply.
    QTRY_COMPARE(eval(QStringLiteral("argueurl.url")).toString(), server->baseUrl() + QStringLiteral("/agreement.html"));
}

// Tab brings the boxes the focus and Space turns them: the install button
// and the shortcut choice follow, so nobody installs without having agreed.
void TestPages::keyboardFollowsTheBoxes()
{
    loadPages();
    openCustomPanel();
    // Two clicks on the box leave it as it was and give the window the keyboard.
    click(QStringLiteral("arguementback"));
    click(QStringLiteral("arguementback"));
    QTRY_COMPARE(eval(QStringLiteral("arguement.checked")).toBool(), true);
    int agreementTurns = 0;
    int linkTurns = 0;
    for (int press = 0; press < 40 && (agreementTurns < 2 || linkTurns < 2); ++press) {
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("Tab")}));
        QTest::qWait(50);
        const bool onAgreement = eval(QStringLiteral("arguement.activeFocus")).toBool();
        const bool onLink = eval(QStringLiteral("createlink.activeFocus")).toBool();
        if (!onAgreement && !onLink)
            continue;
        const bool before = eval(onAgreement ? QStringLiteral("arguement.checked") : QStringLiteral("createlink.checked")).toBool();
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("space")}));
        const QString box = onAgreement ? QStringLiteral("arguement.checked") : QStringLiteral("createlink.checked");
        QTRY_COMPARE(eval(box).toBool(), !before);
        (onAgreement ? agreementTurns : linkTurns) += 1;
        QCOMPARE(eval(QStringLiteral("btninstall.enabled")).toBool(), eval(QStringLiteral("arguement.checked")).toBool());
        QCOMPARE(createLinkChoice, eval(QStringLiteral("createlink.checked")).toBool());
    }
    QVERIFY2(agreementTurns == 2 && linkTurns == 2, "Tab never reached both boxes");
    QCOMPARE(installing->property("visible").toBool(), false);
}

void TestPages::customPanelOpensAndClosesInPlace()
{
    loadPages();
    const QPoint start = window->position();
    for (int round = 0; round < 2; ++round) {
        openCustomPanel();
        QCOMPARE(window->width(), 640);
        QCOMPARE(eval(QStringLiteral("custom.isshow")).toBool(), true);
        QCOMPARE(eval(QStringLiteral("piclabellogo.anchors.topMargin")).toInt(), 61);
        if (round == 0)
            saveScreenshot(QStringLiteral("custom-panel"));

        click(QStringLiteral("custom"));
        QTRY_COMPARE(window->height(), 420);
        QTRY_COMPARE(window->contentItem()->height(), 420.0);
        QCOMPARE(window->width(), 640);
        QTRY_COMPARE(window->position(), start);
        QVERIFY(!eval(QStringLiteral("coustomback.visible")).toBool());
        QCOMPARE(eval(QStringLiteral("piclabellogo.anchors.topMargin")).toInt(), 21);
        QCOMPARE(eval(QStringLiteral("mainlogo_pic.anchors.topMargin")).toInt(), 105);
        QCOMPARE(eval(QStringLiteral("btninstall.anchors.topMargin")).toInt(), 270);
    }
}

void TestPages::draggingMovesAllThreeWindows()
{
    loadPages();
    const QPoint start = window->position();
    // Drags a stretch of background between the logo and the close button.
    const auto drag = [this](QWindow *on, const QPoint &by) {
        const QPoint from = on->mapToGlobal(QPoint(400, 60));
        QVERIFY(moveTo(from));
        QVERIFY(xdotool({QStringLiteral("mousedown"), QStringLiteral("1")}));
        for (int step = 1; step <= 5; ++step)
            QVERIFY(moveTo(from + by * step / 5));
        QVERIFY(xdotool({QStringLiteral("mouseup"), QStringLiteral("1")}));
    };
    drag(window, QPoint(50, 30));
    QTRY_COMPARE(window->position(), start + QPoint(50, 30));

    // The other two pages lie over the main window once shown, and a drag on
    // either moves all three.
    auto *installingWindow = qobject_cast<QWindow *>(installing);
    auto *successWindow = qobject_cast<QWindow *>(success);
    installingWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(installingWindow));
    QTRY_COMPARE(installingWindow->position(), window->position());
    drag(installingWindow, QPoint(-20, 40));
    QTRY_COMPARE(window->position(), start + QPoint(30, 70));
    QTRY_COMPARE(installingWindow->position(), window->position());
    successWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(successWindow));
    drag(successWindow, QPoint(10, -10));
    QTRY_COMPARE(window->position(), start + QPoint(40, 60));
    QTRY_COMPARE(installingWindow->position(), window->position());
    QTRY_COMPARE(successWindow->position(), window->position());

    // The close button does not start a drag.
    hover(QStringLiteral("btncloseserverform"), success);
    QTRY_COMPARE(eval(QStringLiteral("btncloseserverform.hovered"), success).toBool(), true);
    QVERIFY(xdotool({QStringLiteral("mousedown"), QStringLiteral("1")}));
    QVERIFY(xdotool({QStringLiteral("mousemove_relative"), QStringLiteral("--sync"), QStringLiteral("40"), QStringLiteral("40")}));
    QVERIFY(xdotool({QStringLiteral("mousemove_relative"), QStringLiteral("--sync"), QStringLiteral("--"), QStringLiteral("-40"), QStringLiteral("-40")}));
    // Let go beside the button, so the press is no click.
    QVERIFY(xdotool({QStringLiteral("mousemove_relative"), QStringLiteral("--sync"), QStringLiteral("0"), QStringLiteral("30")}));
    QVERIFY(xdotool({QStringLiteral("mouseup"), QStringLiteral("1")}));
    drag(successWindow, QPoint(1, 1)); // handled after the presses above
    QTRY_COMPARE(window->position(), start + QPoint(41, 61));
}

void TestPages::pathFieldPassesEveryChange()
{
    loadPages();
    QCOMPARE(eval(QStringLiteral("install_path.text")).toString(), installFolder);
    openCustomPanel();
    click(QStringLiteral("install_path"));
    // No window manager here gives the window the keyboard on a click.
    window->requestActivate();
    QTRY_VERIFY(window->isActive());
    QTRY_VERIFY(eval(QStringLiteral("install_path.activeFocus")).toBool());
    QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), QStringLiteral("ctrl+a"), QStringLiteral("BackSpace")}));
    QTRY_COMPARE(installPath, QString());

    const QString typed = environment->path() + QStringLiteral("/D Games/play");
    QString expected;
    for (const QChar c : typed) {
        expected += c;
        QVERIFY(xdotool({QStringLiteral("type"), QString(c)}));
        QTRY_COMPARE(installPath, expected);
        QCOMPARE(configPath, expected + QStringLiteral("/temp/config/config.ini"));
    }
    QCOMPARE(eval(QStringLiteral("install_path.text")).toString(), typed);
}

// The picker behind the browse button is made on its first click; the
// folder typed into it, with characters a shell would take, becomes the
// install path with the product folder under it.
void TestPages::browseButtonOpensTheFolderPicker()
{
    const QString chosen = environment->path() + QStringLiteral("/Games & Apps #1 (x) 100%");
    QVERIFY(QDir().mkpath(chosen));
    loadPages();
    QVERIFY(!eval(QStringLiteral("fds.item")).value<QObject *>());
    openCustomPanel();
    click(QStringLiteral("btnbrowse"));
    QTRY_VERIFY(eval(QStringLiteral("fds.item !== null && fds.item.visible")).toBool());
    QCOMPARE(eval(QStringLiteral("fds.item.title")).toString(), QStringLiteral("选择安装路径"));

    QFileDialog *picker = nullptr;
    QTRY_VERIFY((picker = shownFileDialog()) && picker->isVisible());
    picker->activateWindow();
    QTRY_VERIFY(picker->isActiveWindow());
    QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), QStringLiteral("ctrl+a"), QStringLiteral("BackSpace")}));
    QVERIFY(xdotool({QStringLiteral("type"), chosen}));
    QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("Return")}));
    QTRY_VERIFY(!eval(QStringLiteral("fds.item.visible")).toBool());
    const QString expected = chosen + QLatin1Char('/') + clientExeBase;
    QTRY_COMPARE(eval(QStringLiteral("install_path.text")).toString(), expected);
    QCOMPARE(installPath, expected);
}

// ---- installing page ---------------------------------------------------------

void TestPages::installingPhases_data()
{
    QTest::addColumn<bool>("shortcut");
    QTest::addColumn<bool>("autostart");
    QTest::addColumn<bool>("openPanelFirst");
    QTest::newRow("defaults, panel closed") << true << false << false;
    QTest::newRow("no shortcut") << false << false << true;
    QTest::newRow("start with the system") << true << true << true;
    QTest::newRow("neither") << false << true << true;
}

void TestPages::installingPhases()
{
    QFETCH(bool, shortcut);
    QFETCH(bool, autostart);
    QFETCH(bool, openPanelFirst);
    loadPages();
    const QPoint start = window->position();
    if (openPanelFirst) {
        openCustomPanel();
        if (!shortcut) {
            click(QStringLiteral("createlinkback"));
            QTRY_COMPARE(eval(QStringLiteral("createlink.checked")).toBool(), false);
            QCOMPARE(createLinkChoice, false);
        }
        if (autostart) {
            click(QStringLiteral("autostartback"));
            QTRY_COMPARE(eval(QStringLiteral("autostart.checked")).toBool(), true);
        }
    }

    auto *operation = qobject_cast<Operation *>(object(QStringLiteral("installoperation")));
    QVERIFY(operation);
    QObject *bar = object(QStringLiteral("installprogress"), installing);
    // After the page has handled each release report: the report and the bar.
    QList<QPair<int, int>> shown;
    connect(operation, &Operation::qml_sign_int_progressvalue, this,
            [&](int value) { shown.append({value, bar->property("value").toInt()}); });
    // What the finishing steps had done when the success page appeared.
    const QString menuLauncher = QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation)
                                 + QStringLiteral("/流光骑士/流光骑士.desktop");
    bool menuBeforeSuccess = false, versionBeforeSuccess = true;
    auto *successWindow = qobject_cast<QWindow *>(success);
    connect(successWindow, &QWindow::visibleChanged, this, [&](bool visible) {
        if (!visible)
            return;
        menuBeforeSuccess = QFile::exists(menuLauncher);
        versionBeforeSuccess = QSettings(configPath, QSettings::IniFormat).contains(QStringLiteral("version/show"));
    });

    LogCapture log;
    click(QStringLiteral("btninstall"));
    QTRY_COMPARE(installing->property("visible").toBool(), true);
    QTRY_COMPARE(window->height(), 420);
    QCOMPARE(window->position(), start);
    QVERIFY(!eval(QStringLiteral("coustomback.visible")).toBool());

    QTRY_VERIFY_WITH_TIMEOUT(success->property("visible").toBool(), 60000);
    saveScreenshot(QStringLiteral("success"));

    // Every release report shown as 10 + value.
    QCOMPARE(shown.size(), payloadFiles);
    for (const auto &report : qAsConst(shown))
        QCOMPARE(report.second, 10 + report.first);
    QVERIFY(shown.contains({0, 10}));
    QVERIFY(shown.contains({30, 40}));
    QCOMPARE(shown.last(), qMakePair(65, 75));

    // Phase 3: shortcut at 80, the logon task at 90, the Start menu before
    // the success page and the version section after it.
    const QList<QPair<QtMsgType, QString>> entries = log.entries();
    const auto indexOf = [&](const QString &text) {
        for (int i = 0; i < entries.size(); ++i)
            if (entries.at(i).second.contains(text))
                return i;
        return -1;
    };
    const int at80 = indexOf(QStringLiteral("<安装进度>:进度条3-- 80%"));
    const int at81 = indexOf(QStringLiteral("<安装进度>:进度条3-- 81%"));
    const int link = indexOf(QStringLiteral("<快捷方式>创建快捷方式"));
    QVERIFY(at80 >= 0 && at81 > at80);
    if (shortcut)
        QVERIFY2(link > at80 && link < at81, "the shortcut is made on the tick from 80 to 81");
    else
        QCOMPARE(link, -1);
    const QString desktopLauncher = environment->desktop() + QStringLiteral("/流光骑士.desktop");
    QCOMPARE(QFile::exists(desktopLauncher), shortcut);

    const int at89 = indexOf(QStringLiteral("<安装进度>:进度条3-- 89%"));
    const int at90 = indexOf(QStringLiteral("<安装进度>:进度条3-- 90%"));
    const int job1 = indexOf(QStringLiteral("<线程操作>:接收信号 true id: 1"));
    QVERIFY(at89 >= 0 && at90 > at89);
    if (autostart) {
        QVERIFY2(job1 > at89 && job1 < at90, "the bar waits at 90 for the logon task");
        QVERIFY(QFile::exists(environment->configHome() + QStringLiteral("/autostart/LumenRiderSpeed.desktop")));
    } else {
        QCOMPARE(indexOf(QStringLiteral("<线程操作>:启动,线程ID: 1")), -1);
    }
    QVERIFY(indexOf(QStringLiteral("<安装进度>:安装成功!")) > at90);
    QVERIFY(menuBeforeSuccess);
    QVERIFY(!versionBeforeSuccess);
    QTRY_VERIFY(QSettings(configPath, QSettings::IniFormat).contains(QStringLiteral("version/show")));
    QCOMPARE(installing->property("visible").toBool(), true);

    // The install button wrote the uninstall entry and sent the report.
    auto entry = Platform::openRegistryKey(uninstallRoot + QStringLiteral("流光骑士"));
    QCOMPARE(entry->value(QStringLiteral("InstallPath")).toString(), installFolder);
    QTRY_COMPARE(server->records(QStringLiteral("/log/api/statistic/install")).size(), 1);
}

void TestPages::slowDriverRemovalHoldsTheBarAtEleven()
{
    // An sc that takes its time over the service, as a busy system's does.
    const QString tools = environment->path() + QStringLiteral("/slow-tools");
    QVERIFY(writeTestFile(tools + QStringLiteral("/sc"),
                          "#!/bin/sh\nsleep 2\nprintf '[SC] OpenService \345\244\261\350\264\245 1060:\\r\\n'\n"));
    QVERIFY(QFile::setPermissions(tools + QStringLiteral("/sc"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    environment->set("LUMENRIDER_TOOLS_DIR", tools);

    loadPages();
    auto *operation = qobject_cast<Operation *>(object(QStringLiteral("installoperation")));
    QObject *bar = object(QStringLiteral("installprogress"), installing);
    int barAtFirstReport = -1;
    connect(operation, &Operation::qml_sign_int_progressvalue, this, [&](int value) {
        if (barAtFirstReport < 0)
            barAtFirstReport = bar->property("value").toInt() - value;
    });
    LogCapture log;
    click(QStringLiteral("btninstall"));
    QTRY_COMPARE_WITH_TIMEOUT(eval(QStringLiteral("installprogress.value"), installing).toInt(), 11, 10000);
    QVERIFY(!eval(QStringLiteral("uninstalldrive_timer.running"), installing).toBool());
    QTRY_VERIFY_WITH_TIMEOUT(barAtFirstReport >= 0, 30000);
    QCOMPARE(barAtFirstReport, 10); // down from 11 to 10 + the first report
    for (int value = 0; value <= 10; ++value)
        QCOMPARE(log.count(QStringLiteral("<安装进度>:进度条1-- %1%").arg(value)), 1);
    QCOMPARE(log.count(QStringLiteral("<安装进度>:进度条1-- 11%")), 0);
    QTRY_VERIFY_WITH_TIMEOUT(success->property("visible").toBool(), 60000);
}

void TestPages::immediateInstallSkipsTheFirstScreen()
{
    goInstall = true;
    loadPages();
    QCOMPARE(installing->property("visible").toBool(), true);
    QTRY_VERIFY_WITH_TIMEOUT(success->property("visible").toBool(), 60000);
    QVERIFY(QFile::exists(installFolder + QStringLiteral("/lumenrider.exe")));
    QVERIFY(!Platform::openRegistryKey(uninstallRoot + QStringLiteral("流光骑士"))->contains(QStringLiteral("InstallPath")));
    QTRY_COMPARE(server->records(QStringLiteral("/game/api/index/init")).size(), 1);
    QCOMPARE(server->records(QStringLiteral("/log/api/statistic/install")).size(), 0);
}

void TestPages::failedReleaseIsSaidOnTheInstallingPage()
{
    if (!permissionsAreEnforced())
        QSKIP("this process may write into read-only folders");
    const QString locked = environment->path() + QStringLiteral("/locked");
    QDir().mkpath(locked);
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner);
    installFolder = locked + QStringLiteral("/lumenrider");
    retargetInstallPath(installFolder);

    loadPages();
    QSignalSpy quit(engine.get(), &QQmlEngine::quit);
    click(QStringLiteral("btninstall"));
    QTRY_VERIFY_WITH_TIMEOUT(eval(QStringLiteral("installtext.text"), installing).toString().contains(QStringLiteral("安装失败")),
                             30000);
    const QString said = eval(QStringLiteral("installtext.text"), installing).toString();
    QVERIFY2(said.contains(QStringLiteral("Errorlog.txt")), qPrintable(said));
    QVERIFY(eval(QStringLiteral("installprogress.value"), installing).toInt() < 75);
    QVERIFY(!eval(QStringLiteral("addprogress.running"), installing).toBool());
    QVERIFY(!eval(QStringLiteral("uninstalldrive_timer.running"), installing).toBool());
    QVERIFY(!eval(QStringLiteral("instarlltimer.running"), installing).toBool());
    saveScreenshot(QStringLiteral("release-failed"));
    QTRY_VERIFY(!server->errorReports(QStringLiteral("4001")).isEmpty());

    click(QStringLiteral("btncloseserverform"), installing);
    QTRY_COMPARE(quit.count(), 1);
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void TestPages::startButtonRetriesAfterAFailedStart()
{
    loadPages();
    click(QStringLiteral("btninstall"));
    // Catch the installing page half-way for the picture.
    QTRY_VERIFY_WITH_TIMEOUT(eval(QStringLiteral("installprogress.value"), installing).toInt() >= 40, 30000);
    saveScreenshot(QStringLiteral("installing"));
    QTRY_VERIFY_WITH_TIMEOUT(success->property("visible").toBool(), 60000);

    const QString client = installFolder + QStringLiteral("/lumenrider.exe");
    const QString aside = installFolder + QStringLiteral("/aside.exe");
    QVERIFY(QFile::rename(client, aside));
    QSignalSpy quit(engine.get(), &QQmlEngine::quit);
    hover(QStringLiteral("btnstart"), success);
    QTRY_COMPARE(eval(QStringLiteral("btnstart.hovered"), success).toBool(), true);
    click(QStringLiteral("btnstart"), success);
    QTRY_COMPARE(server->errorReports(QStringLiteral("4002")).size(), 1);
    QCOMPARE(quit.count(), 0);
    QVERIFY(success->property("visible").toBool());

    QVERIFY(QFile::rename(aside, client));
    click(QStringLiteral("btnstart"), success);
    QTRY_COMPARE(quit.count(), 1);
    QTRY_VERIFY(QFile::exists(installFolder + QStringLiteral("/started.txt")));
}

// ---- the prepared folder ---------------------------------------------------------

namespace {

// The folder job 2 releases: this program, a client that notes its start,
// and data files up to `payloadFiles`.
bool preparePayload(const QString &folder, const QString &self, QString *program)
{
    *program = folder + QStringLiteral("/tst_pages");
    if (!QFile::copy(self, *program))
        return false;
    const QByteArray client = "#!/bin/sh\necho \"$@\" > \"$(dirname \"$0\")/started.txt\"\n";
    if (!writeTestFile(folder + QStringLiteral("/lumenrider.exe"), client)
        || !QFile::setPermissions(folder + QStringLiteral("/lumenrider.exe"),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return false;
    for (int i = 0; i < payloadFiles - 2; ++i) {
        const QString path = folder + QStringLiteral("/data/%1/file%2.dat").arg(i % 7).arg(i);
        if (!writeTestFile(path, QByteArray(64 + i, char('a' + i % 26))))
            return false;
    }
    return true;
}

int runFromPayload(int argc, char *argv[])
{
    QTemporaryDir folder;
    QString program;
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    if (!folder.isValid() || !preparePayload(folder.path(), self, &program)) {
        fprintf(stderr, "cannot prepare the page test's folder\n");
        return 1;
    }
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(payloadMarker), QStringLiteral("1"));
    if (!env.contains(QStringLiteral("LUMENRIDER_SCREENSHOT_DIR")))
        env.insert(QStringLiteral("LUMENRIDER_SCREENSHOT_DIR"),
                   QFileInfo(self).absolutePath() + QStringLiteral("/screenshots"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(program, arguments);
    if (!child.waitForStarted() || !child.waitForFinished(-1))
        return 1;
    return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty(payloadMarker))
        return runFromPayload(argc, argv);
    // The pages are drawn as the installer draws them.
    drawPagesInSoftware();
    QApplication app(argc, argv);
    TestPages test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_pages.moc"
