// The install context: initial values, the install path from the registry,
// the machine identity, the config file and the file helpers; and the
// emulated registry the context reads.

#include "Info.h"
#include "Platform.h"
#include "TestSupport.h"

#include <QCryptographicHash>
#include <QHostInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QtTest>

#include <memory>

class TestInfo : public QObject
{
    Q_OBJECT

private slots:
    // Runs first, before anything has touched the context.
    void initialValues_data();
    void initialValues();

    void init();
    void cleanup();

    void defaultInstallPath();
    void recordedInstallPathIsKeptAsStored_data();
    void recordedInstallPathIsKeptAsStored();
    void machineIdentity();
    void retargetingCreatesNothing();
    void configValues();

    void createfileCases_data();
    void createfileCases();
    void createfileRefusals_data();
    void createfileRefusals();
    void deletefileResult();

    void registryKeepsNamesAndTypes();
    void registryReadsDamagedFile();

private:
    std::unique_ptr<ScopedTestEnvironment> environment;
};

void TestInfo::initialValues_data()
{
    QTest::addColumn<QVariant>("actual");
    QTest::addColumn<QVariant>("expected");
    const auto row = [](const char *name, const QVariant &actual, const QVariant &expected) {
        QTest::newRow(name) << actual << expected;
    };
    const QString root =
        QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\");
    row("appVersion", appVersion, QStringLiteral("1.6.9"));
    row("versionName", versionName, QStringLiteral("1.6.9"));
    row("versionCode", versionCode, QStringLiteral("169"));
    row("clientExeBase", clientExeBase, QStringLiteral("lumenrider"));
    row("uninstallRoot", uninstallRoot, root);
    row("installerUninstallRoot", installerUninstallRoot, root);
    row("uninstallExeName", uninstallExeName, QStringLiteral("/unInstall.exe"));
    row("signKey", signKey, QStringLiteral(TEST_SIGN_KEY));
    row("signKey form", QRegularExpression(QStringLiteral("^[A-Za-z0-9]{16}$")).match(signKey).hasMatch(), true);
    row("domainListUrl file", domainListUrl.endsWith(QLatin1String("/init/domain2.txt")), true);
    row("sessionId", sessionId, QStringLiteral("0"));
    row("userId", userId, 0);
    row("initPath", initPath, QStringLiteral("api/index/init"));
    row("installReportPath", installReportPath, QStringLiteral("api/statistic/install"));
    row("logUploadPath", logUploadPath, QStringLiteral("api/client/up_log"));
    row("debugMode", debugMode, false);
    row("consoleMode", consoleMode, false);
    row("fullLogMode", fullLogMode, false);
    row("goInstall", goInstall, false);
    row("inviteCdk", inviteCdk, QString());
    row("oemId", oemId, QStringLiteral("100"));
    row("projectName", projectName, QStringLiteral("lumenrider"));
    row("secondInstall", secondInstall, QStringLiteral("否"));
    row("clientProcessList", clientProcessList, QString());
    row("installPath", installPath, QString());
    row("configPath", configPath, QString());
    row("configSettings", configSettings == nullptr, true);
    row("osName", osName, QString());
    row("osBits", osBits, QString());
    row("macAddress", macAddress, QString());
    row("machineId", machineId, QString());
    row("gameApiBase", gameApiBase, QString());
    row("logApiBase", logApiBase, QString());
    row("replyFailureCount", replyFailureCount, 0);
    row("downloadPath", downloadPath, QString());
    row("downloadData", downloadData, QByteArray());
    row("threadJob", threadJob, 0);
    row("releaseTotal", releaseTotal, 0);
    row("releaseDone", releaseDone, 0);
}

void TestInfo::initialValues()
{
    QFETCH(QVariant, actual);
    QFETCH(QVariant, expected);
    QCOMPARE(actual, expected);
}

void TestInfo::init()
{
    environment = std::make_unique<ScopedTestEnvironment>();
}

void TestInfo::cleanup()
{
    delete configSettings;
    configSettings = nullptr;
    environment.reset();
}

void TestInfo::defaultInstallPath()
{
    initInstallInfo();
    QCOMPARE(installPath, environment->dataHome() + QStringLiteral("/lumenrider"));
    QCOMPARE(configPath, installPath + QStringLiteral("/temp/config/config.ini"));
    QVERIFY(configSettings);
    QCOMPARE(configSettings->fileName(), configPath);
    QVERIFY(!QFile::exists(configPath)); // described, not created
}

void TestInfo::recordedInstallPathIsKeptAsStored_data()
{
    QTest::addColumn<QString>("recorded");
    QTest::newRow("back-slashes") << QStringLiteral("D:\\Games\\lumenrider");
    QTest::newRow("mixed separators") << QStringLiteral("D:/Games\\lumenrider/");
    QTest::newRow("spaces and Chinese") << QStringLiteral("/opt/游戏 加速/流光");
    QTest::newRow("quotes") << QStringLiteral("C:/a \"b\"/c");
}

void TestInfo::recordedInstallPathIsKeptAsStored()
{
    QFETCH(QString, recorded);
    Platform::openRegistryKey(uninstallRoot + QStringLiteral("流光骑士\\"))
        ->setValue(QStringLiteral("InstallPath"), recorded);
    initInstallInfo();
    QCOMPARE(installPath, recorded);
    QCOMPARE(configPath, recorded + QStringLiteral("/temp/config/config.ini"));
}

void TestInfo::machineIdentity()
{
    initInstallInfo();
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(machineId).hasMatch());
    QCOMPARE(osName, QSysInfo::productType() + QSysInfo::productVersion());
    QCOMPARE(osBits, QSysInfo::currentCpuArchitecture() == QLatin1String("x86_64") ? QStringLiteral("64")
                                                                                   : QStringLiteral("32"));
    const QByteArray identity = (osName + osBits + macAddress + QHostInfo::localHostName()).toLocal8Bit();
    QCOMPARE(machineId, QString::fromLatin1(QCryptographicHash::hash(identity, QCryptographicHash::Md5).toHex()));

    const QString first = machineId;
    LogCapture log;
    getSystemInfo();
    QCOMPARE(machineId, first);
    QVERIFY(log.contains(QStringLiteral("system.dwActiveProcessorMask:")));
    QVERIFY(log.messages(QtInfoMsg).contains(
        QStringLiteral("<系统环境>: \"%1\" \"%2\" 位 \"%3\" \"%4\"").arg(osName, osBits, macAddress, machineId)));
}

void TestInfo::retargetingCreatesNothing()
{
    const QString folder = environment->path() + QStringLiteral("/E/x");
    QVERIFY(retargetInstallPath(folder));
    QCOMPARE(installPath, folder);
    QCOMPARE(configPath, folder + QStringLiteral("/temp/config/config.ini"));
    QCOMPARE(configSettings->fileName(), configPath);
    QVERIFY(!QFileInfo::exists(folder));
}

void TestInfo::configValues()
{
    const QString folder = environment->path() + QStringLiteral("/install");
    retargetInstallPath(folder);
    QVERIFY(!getConfigValue(QStringLiteral("version"), QStringLiteral("oem")).isValid());
    QVERIFY(setConfigValue(QStringLiteral("version"), QStringLiteral("oem"), QStringLiteral("35")));
    QVERIFY(setConfigValue(QStringLiteral("user"), QStringLiteral("username"), QStringLiteral("小明")));
    QCOMPARE(getConfigValue(QStringLiteral("version"), QStringLiteral("oem")).toString(), QStringLiteral("35"));
    configSettings->sync();

    const QString text = QString::fromUtf8(readTestFile(configPath));
    QVERIFY2(text.contains(QStringLiteral("[version]\noem=35")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("[user]\nusername=小明")), qPrintable(text));

    // Another settings object on the same file sees what was written.
    retargetInstallPath(folder);
    QCOMPARE(getConfigValue(QStringLiteral("user"), QStringLiteral("username")).toString(), QStringLiteral("小明"));
}

void TestInfo::createfileCases_data()
{
    QTest::addColumn<QString>("path");         // relative to the test folder
    QTest::addColumn<QByteArray>("existing");  // content before, or null for none
    QTest::addColumn<bool>("overwrite");
    QTest::addColumn<QString>("folder");       // must exist afterwards
    QTest::addColumn<QString>("file");         // must exist afterwards as a file, or empty
    QTest::addColumn<QByteArray>("content");   // its content afterwards

    QTest::newRow("no dot: folders only") << "a/b/c" << QByteArray() << false << "a/b/c" << QString() << QByteArray();
    QTest::newRow("dot only in a folder name")
        << "v1.2/config" << QByteArray() << false << "v1.2" << "v1.2/config" << QByteArray();
    QTest::newRow("new file in new folders")
        << "x/y/autostart.bat" << QByteArray() << true << "x/y" << "x/y/autostart.bat" << QByteArray();
    QTest::newRow("existing content kept") << "k/keep.txt" << QByteArray("old") << false << "k" << "k/keep.txt"
                                           << QByteArray("old");
    QTest::newRow("existing content removed") << "k/cut.txt" << QByteArray("old") << true << "k" << "k/cut.txt"
                                              << QByteArray();
    QTest::newRow("existing empty file kept") << "k/empty.txt" << QByteArray("") << true << "k" << "k/empty.txt"
                                              << QByteArray();
}

void TestInfo::createfileCases()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, existing);
    QFETCH(QString, file);
    const QString root = environment->path() + QStringLiteral("/files/");
    if (!existing.isNull())
        QVERIFY(writeTestFile(root + path, existing));

    QFETCH(bool, overwrite);
    QVERIFY(createfile(root + path, overwrite));
    QFETCH(QString, folder);
    QVERIFY(QFileInfo(root + folder).isDir());
    if (file.isEmpty()) {
        QVERIFY(!QFileInfo(root + path).isFile());
    } else {
        QVERIFY(QFileInfo(root + file).isFile());
        QTEST(readTestFile(root + file), "content");
    }
}

void TestInfo::createfileRefusals_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<bool>("overwrite");
    QTest::addColumn<QString>("warning");
    QTest::newRow("folder blocked by a file") << "file-in-the-way" << false << "<文件操作>:创建文件目录失败";
    QTest::newRow("read-only folder, new file") << "read-only" << false << "<文件操作>:创建文件失败";
    QTest::newRow("read-only folder, file to remove") << "read-only-existing" << true << "<文件操作>:删除文件<";
}

void TestInfo::createfileRefusals()
{
    QFETCH(QString, setup);
    QFETCH(QString, warning);
    const QString root = environment->path() + QStringLiteral("/refuse");
    QString path;
    if (setup == QLatin1String("file-in-the-way")) {
        QVERIFY(writeTestFile(root + QStringLiteral("/blocker"), "x"));
        path = root + QStringLiteral("/blocker/sub/a.txt");
    } else {
        if (!permissionsAreEnforced())
            QSKIP("this process may write into read-only folders");
        if (setup == QLatin1String("read-only-existing"))
            QVERIFY(writeTestFile(root + QStringLiteral("/a.txt"), "content"));
        QDir().mkpath(root);
        QFile::setPermissions(root, QFile::ReadOwner | QFile::ExeOwner);
        path = root + QStringLiteral("/a.txt");
    }
    QFETCH(bool, overwrite);
    LogCapture log;
    const bool created = createfile(path, overwrite);
    QFile::setPermissions(root, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(!created);
    QVERIFY2(log.messages(QtWarningMsg).filter(warning).size() == 1, qPrintable(log.messages(QtWarningMsg).join('\n')));
    if (setup == QLatin1String("read-only-existing"))
        QCOMPARE(readTestFile(path), QByteArray("content"));
}

void TestInfo::deletefileResult()
{
    const QString path = environment->path() + QStringLiteral("/gone.txt");
    QVERIFY(writeTestFile(path, "x"));
    QVERIFY(deletefile(path));
    QVERIFY(!QFile::exists(path));
    QVERIFY(!deletefile(path));
}

void TestInfo::registryKeepsNamesAndTypes()
{
    const QString key = uninstallRoot + QStringLiteral("流光骑士");
    const QString tricky = QStringLiteral("D:\\Games\\\"流光\"\nline two = [not a section]");
    {
        auto registry = Platform::openRegistryKey(key);
        registry->setValue(QStringLiteral("InstallTime"), 1733600000);
        registry->setValue(QStringLiteral("DisplayName"), QStringLiteral("流光骑士"));
        registry->setValue(QStringLiteral("Odd"), tricky);
        registry->setValue(QStringLiteral("Big"), qlonglong(1) << 40);
    }
    QCOMPARE(Platform::registryFilePath(), environment->registryFile());
    const QString text = QString::fromUtf8(readTestFile(environment->registryFile()));
    QVERIFY2(text.contains(QStringLiteral("[HKEY_LOCAL_MACHINE/Software/WOW6432Node/Microsoft/Windows/"
                                          "CurrentVersion/Uninstall/流光骑士]")),
             qPrintable(text));

    auto again = Platform::openRegistryKey(key + QLatin1Char('\\'));
    const QVariant time = again->value(QStringLiteral("InstallTime"));
    QCOMPARE(time.userType(), int(QMetaType::Int));
    QCOMPARE(time.toInt(), 1733600000);
    QCOMPARE(again->value(QStringLiteral("DisplayName")).toString(), QStringLiteral("流光骑士"));
    QCOMPARE(again->value(QStringLiteral("Odd")).toString(), tricky);
    QCOMPARE(again->value(QStringLiteral("Big")).toLongLong(), qlonglong(1) << 40);
    QVERIFY(!again->contains(QStringLiteral("Missing")));
}

void TestInfo::registryReadsDamagedFile()
{
    QVERIFY(writeTestFile(environment->registryFile(),
                          "garbage without equals\n[unclosed section\n\"unterminated=\"x\n"
                          "[HKEY_LOCAL_MACHINE/Software/K]\n\"Name\"=\"value\"\nNumber=dword:zz\n\xff\xfe\n"));
    auto registry = Platform::openRegistryKey(QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\K"));
    QCOMPARE(registry->value(QStringLiteral("Name")).toString(), QStringLiteral("value"));
    QCOMPARE(registry->value(QStringLiteral("Number")).toInt(), 0);
}

QTEST_GUILESS_MAIN(TestInfo)
#include "tst_info.moc"
