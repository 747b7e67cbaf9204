// The demo client, its helper stand-ins and the demo payload, run and read
// as the installer and the demo meet them: real processes started from a
// temporary install folder, the payload as the build leaves it.

#include "TestSupport.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

namespace {

const QString clientName = QStringLiteral("lumenrider.exe");
const QStringList exitSoon = {QStringLiteral("--exit-after-ms"), QStringLiteral("0")};

QString built(const QString &name)
{
    return QStringLiteral(DEMOCLIENT_DIR "/") + name;
}

QString demo(const QString &name)
{
    return QStringLiteral(DEMO_DIR "/") + name;
}

// The client copied into `folder` (made if missing), as the installer leaves it.
QString installClient(const QString &folder)
{
    QDir().mkpath(folder);
    const QString target = folder + QLatin1Char('/') + clientName;
    return QFile::copy(built(clientName), target) ? target : QString();
}

void writeConfig(const QString &folder, const QByteArray &content)
{
    QVERIFY(writeTestFile(folder + QStringLiteral("/temp/config/config.ini"), content));
}

// Without an X server the client draws its window off screen.
QProcessEnvironment clientEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (environment.value(QStringLiteral("DISPLAY")).isEmpty())
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return environment;
}

struct Run {
    qint64 pid = 0;
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    bool finished = false;
};

Run runClient(const QString &program, const QStringList &arguments, const QString &workingDir)
{
    QProcess process;
    process.setProcessEnvironment(clientEnvironment());
    process.setWorkingDirectory(workingDir);
    process.start(program, arguments);
    Run run;
    if (!process.waitForStarted(10000))
        return run;
    run.pid = process.processId();
    run.finished = process.waitForFinished(30000);
    if (!run.finished)
        process.kill();
    run.exitCode = process.exitCode();
    run.exitStatus = process.exitStatus();
    return run;
}

QList<QJsonObject> launchRecords(const QString &folder)
{
    QList<QJsonObject> records;
    const QByteArray content = readTestFile(folder + QStringLiteral("/temp/launches.jsonl"));
    for (const QByteArray &line : content.split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        records << (document.isObject() ? document.object() : QJsonObject{{QStringLiteral("broken"), QString::fromUtf8(line)}});
    }
    return records;
}

QStringList stringList(const QJsonValue &value)
{
    QStringList list;
    for (const QJsonValue &item : value.toArray())
        list << item.toString();
    return list;
}

QByteArray fileHash(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result();
}

QString canonical(const QString &path)
{
    return QFileInfo(path).canonicalFilePath();
}

const QByteArray fullConfig =
    "[version]\nshow=1.6.9\nupdate=169\noem=10013\ncdk=AB12CD\nproject=lrider\n\n"
    "[setting]\nopenstart=true\n";

} // namespace

class Tst_democlient : public QObject
{
    Q_OBJECT

private slots:
    void recordsHowItWasStarted_data();
    void recordsHowItWasStarted();
    void showsEmptyValuesForMissingOrBadConfig_data();
    void showsEmptyValuesForMissingOrBadConfig();
    void appendsOneRecordPerStart();
    void keepsRunningUntilAsked();
    void startsWhenTheRecordCannotBeWritten();
    void backgroundStandInWaitsUntilKilled_data();
    void backgroundStandInWaitsUntilKilled();
    void uninstallerStandInSaysWhatItIs();
    void payloadHoldsTheCurrentPrograms_data();
    void payloadHoldsTheCurrentPrograms();
    void payloadHoldsNestedDataFiles();

private:
    ScopedTestEnvironment environment;
};

void Tst_democlient::recordsHowItWasStarted_data()
{
    QTest::addColumn<QString>("folderName");
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("no parameters") << "lumenrider" << QStringList();
    QTest::newRow("console") << "lumenrider" << QStringList{"--t"};
    QTest::newRow("console and debug") << "lumenrider" << QStringList{"--t", "--d"};
    QTest::newRow("folder with spaces") << "Program Files (x86)/lumenrider" << QStringList{"--t"};
    QTest::newRow("Chinese folder name") << "游戏/流光骑士" << QStringList();
}

void Tst_democlient::recordsHowItWasStarted()
{
    QFETCH(QString, folderName);
    QFETCH(QStringList, arguments);

    QTemporaryDir root;
    const QString folder = root.path() + QLatin1Char('/') + folderName;
    const QString client = installClient(folder);
    QVERIFY(!client.isEmpty());
    writeConfig(folder, fullConfig);
    const QString elsewhere = root.path() + QStringLiteral("/started from here");
    QVERIFY(QDir().mkpath(elsewhere));

    const Run run = runClient(client, arguments + exitSoon, elsewhere);
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 0);

    const QList<QJsonObject> records = launchRecords(folder);
    QCOMPARE(records.size(), 1);
    const QJsonObject record = records.first();
    QCOMPARE(record.value(QStringLiteral("pid")).toVariant().toLongLong(), run.pid);
    QCOMPARE(stringList(record.value(QStringLiteral("args"))), arguments + exitSoon);
    QCOMPARE(canonical(record.value(QStringLiteral("cwd")).toString()), canonical(elsewhere));
    QVERIFY(QDateTime::fromString(record.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs).isValid());

    const QJsonObject config = record.value(QStringLiteral("config")).toObject();
    QCOMPARE(config.value(QStringLiteral("show")).toString(), QStringLiteral("1.6.9"));
    QCOMPARE(config.value(QStringLiteral("update")).toString(), QStringLiteral("169"));
    QCOMPARE(config.value(QStringLiteral("oem")).toString(), QStringLiteral("10013"));
    QCOMPARE(config.value(QStringLiteral("cdk")).toString(), QStringLiteral("AB12CD"));
    QCOMPARE(config.value(QStringLiteral("project")).toString(), QStringLiteral("lrider"));
    QCOMPARE(config.value(QStringLiteral("openstart")).toString(), QStringLiteral("true"));
}

void Tst_democlient::showsEmptyValuesForMissingOrBadConfig_data()
{
    QTest::addColumn<QByteArray>("content");  // empty: no file at all
    QTest::addColumn<bool>("folderInItsPlace");

    QTest::newRow("no file") << QByteArray() << false;
    QTest::newRow("a folder in its place") << QByteArray() << true;
    QTest::newRow("binary garbage") << QByteArray("\x00\xff\xfe[\x01\x02=\x89PNG\r\n", 13) << false;
    QTest::newRow("other sections only") << QByteArray("[user]\nusername=someone\n") << false;
    QTest::newRow("keys outside their sections") << QByteArray("show=1.6.9\noem=100\n") << false;
}

void Tst_democlient::showsEmptyValuesForMissingOrBadConfig()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, folderInItsPlace);

    QTemporaryDir root;
    const QString client = installClient(root.path());
    QVERIFY(!client.isEmpty());
    if (folderInItsPlace)
        QVERIFY(QDir().mkpath(root.path() + QStringLiteral("/temp/config/config.ini")));
    else if (!content.isEmpty())
        writeConfig(root.path(), content);

    const Run run = runClient(client, exitSoon, root.path());
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 0);

    const QList<QJsonObject> records = launchRecords(root.path());
    QCOMPARE(records.size(), 1);
    const QJsonObject config = records.first().value(QStringLiteral("config")).toObject();
    for (const char *key : {"show", "update", "oem", "cdk", "project", "openstart"}) {
        QVERIFY2(config.contains(QLatin1String(key)), key);
        QCOMPARE(config.value(QLatin1String(key)).toString(), QString());
    }
}

void Tst_democlient::appendsOneRecordPerStart()
{
    QTemporaryDir root;
    const QString client = installClient(root.path());
    QVERIFY(!client.isEmpty());

    const Run first = runClient(client, QStringList{"--t"} + exitSoon, root.path());
    const Run second = runClient(client, exitSoon, root.path());
    QVERIFY(first.finished && second.finished);

    const QList<QJsonObject> records = launchRecords(root.path());
    QCOMPARE(records.size(), 2);
    QCOMPARE(records.at(0).value(QStringLiteral("pid")).toVariant().toLongLong(), first.pid);
    QCOMPARE(stringList(records.at(0).value(QStringLiteral("args"))), QStringList{"--t"} + exitSoon);
    QCOMPARE(records.at(1).value(QStringLiteral("pid")).toVariant().toLongLong(), second.pid);
    QCOMPARE(stringList(records.at(1).value(QStringLiteral("args"))), exitSoon);
}

// As the installer starts it (no exit flag) the client stays up with its
// window; the record is written as soon as it runs.
void Tst_democlient::keepsRunningUntilAsked()
{
    QTemporaryDir root;
    const QString client = installClient(root.path());
    QVERIFY(!client.isEmpty());

    QProcess process;
    process.setProcessEnvironment(clientEnvironment());
    process.start(client, {QStringLiteral("--t"), QStringLiteral("--d")});
    QVERIFY(process.waitForStarted(10000));
    QTRY_COMPARE_WITH_TIMEOUT(launchRecords(root.path()).size(), 1, 20000);
    QCOMPARE(process.state(), QProcess::Running);
    QCOMPARE(stringList(launchRecords(root.path()).first().value(QStringLiteral("args"))),
             (QStringList{"--t", "--d"}));
    process.kill();
    QVERIFY(process.waitForFinished(10000));
}

void Tst_democlient::startsWhenTheRecordCannotBeWritten()
{
    if (!permissionsAreEnforced())
        QSKIP("this process may write into read-only folders, so none refuses the record");
    QTemporaryDir root;
    const QString client = installClient(root.path());
    QVERIFY(!client.isEmpty());
    QVERIFY(QFile::setPermissions(root.path(), QFile::ReadOwner | QFile::ExeOwner));

    const Run run = runClient(client, exitSoon, root.path());
    QFile::setPermissions(root.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 0);
    QVERIFY(!QFileInfo::exists(root.path() + QStringLiteral("/temp/launches.jsonl")));
}

void Tst_democlient::backgroundStandInWaitsUntilKilled_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("ZURizad") << "ZURizad.exe";
    QTest::newRow("ruzuvaveru") << "ruzuvaveru.exe";
}

// The process-control stand-ins find these processes by name, so the name
// the system shows for each must be its file name.
void Tst_democlient::backgroundStandInWaitsUntilKilled()
{
    QFETCH(QString, name);

    QProcess process;
    process.start(demo(name), QStringList());
    QVERIFY(process.waitForStarted(10000));
    const QByteArray shownName = readTestFile(QStringLiteral("/proc/%1/comm").arg(process.processId()));
    QCOMPARE(QString::fromUtf8(shownName.trimmed()), name);
    QVERIFY2(!process.waitForFinished(500), "the stand-in ended on its own");
    process.kill();
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::CrashExit);
}

void Tst_democlient::uninstallerStandInSaysWhatItIs()
{
    QProcess process;
    process.start(demo(QStringLiteral("unInstall.exe")), QStringList());
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(QString::fromUtf8(process.readAllStandardOutput()).contains(QStringLiteral("卸载程序")));
}

void Tst_democlient::payloadHoldsTheCurrentPrograms_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("source");

    QTest::newRow("installer") << "lumenrider_1.6.9_35.exe" << INSTALLER_EXE;
    QTest::newRow("client") << "lumenrider.exe" << built(clientName);
    QTest::newRow("ZURizad") << "ZURizad.exe" << built(QStringLiteral("ZURizad.exe"));
    QTest::newRow("ruzuvaveru") << "ruzuvaveru.exe" << built(QStringLiteral("ZURizad.exe"));
    QTest::newRow("uninstaller") << "unInstall.exe" << built(QStringLiteral("unInstall.exe"));
}

void Tst_democlient::payloadHoldsTheCurrentPrograms()
{
    QFETCH(QString, name);
    QFETCH(QString, source);

    const QFileInfo copy(demo(name));
    QVERIFY2(copy.isFile(), qPrintable(copy.filePath()));
    QVERIFY(copy.isExecutable());
    const QByteArray expected = fileHash(source);
    QVERIFY(!expected.isEmpty());
    QCOMPARE(fileHash(copy.filePath()), expected);
}

// A few hundred data files in nested folders, some of them large, all
// listed with their sizes in the manifest the payload's build writes last.
void Tst_democlient::payloadHoldsNestedDataFiles()
{
    QMap<QString, qint64> found;
    for (const QString &top : {QStringLiteral("data"), QStringLiteral("locale")}) {
        QDirIterator it(demo(top), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            const QString relative = QDir(QStringLiteral(DEMO_DIR)).relativeFilePath(it.filePath());
            if (relative != QLatin1String("data/manifest.txt"))
                found.insert(relative, it.fileInfo().size());
        }
    }
    QVERIFY2(found.size() >= 200, qPrintable(QString::number(found.size())));
    QVERIFY(found.contains(QStringLiteral("data/maps/europe/map_1.map")));
    QVERIFY(found.contains(QStringLiteral("locale/zh_CN/strings_1.lng")));
    const auto large = std::count_if(found.cbegin(), found.cend(), [](qint64 size) { return size >= 2 * 1024 * 1024; });
    QVERIFY(large >= 2);

    QMap<QString, qint64> listed;
    for (const QByteArray &line : readTestFile(demo(QStringLiteral("data/manifest.txt"))).split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() == 2)
            listed.insert(QString::fromUtf8(fields.at(0)), fields.at(1).toLongLong());
    }
    QCOMPARE(listed, found);
}

QTEST_GUILESS_MAIN(Tst_democlient)
#include "tst_democlient.moc"
