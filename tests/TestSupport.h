#pragma once

// What the test programs share: a private home for the user's folders, a
// capture of the log messages, and small file helpers.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QMutexLocker>
#include <QPair>
#include <QPoint>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <QtGlobal>

// Points HOME and the XDG folders (configuration, data, runtime, desktop)
// into a temporary folder, so the emulated registry, the default install
// folder, the launchers and the single-instance lock never touch the user's
// own. The domain list goes to a closed loopback port unless a test sets it.
class ScopedTestEnvironment
{
public:
    ScopedTestEnvironment()
    {
        const QString root = dir.path();
        for (const char *sub : {"home", "home/Desktop", "config", "data", "runtime"})
            QDir().mkpath(root + QLatin1Char('/') + QLatin1String(sub));
        QFile::setPermissions(root + QStringLiteral("/runtime"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        set("HOME", root + QStringLiteral("/home"));
        set("XDG_CONFIG_HOME", root + QStringLiteral("/config"));
        set("XDG_DATA_HOME", root + QStringLiteral("/data"));
        set("XDG_RUNTIME_DIR", root + QStringLiteral("/runtime"));
        set("XDG_DESKTOP_DIR", root + QStringLiteral("/home/Desktop"));
        if (qEnvironmentVariableIsEmpty("LUMENRIDER_DOMAIN_LIST_URL"))
            set("LUMENRIDER_DOMAIN_LIST_URL", QStringLiteral("http://127.0.0.1:9/init/domain2.txt"));
    }
    ~ScopedTestEnvironment()
    {
        for (auto it = saved.crbegin(); it != saved.crend(); ++it) {
            if (it->second.isNull())
                qunsetenv(it->first.constData());
            else
                qputenv(it->first.constData(), it->second);
        }
    }
    QString path() const { return dir.path(); }
    QString configHome() const { return dir.path() + QStringLiteral("/config"); }
    QString dataHome() const { return dir.path() + QStringLiteral("/data"); }
    QString desktop() const { return dir.path() + QStringLiteral("/home/Desktop"); }
    QString registryFile() const { return configHome() + QStringLiteral("/lumenrider/registry.ini"); }

    void set(const char *name, const QString &value)
    {
        saved.append({QByteArray(name), qEnvironmentVariableIsSet(name) ? qgetenv(name) : QByteArray()});
        qputenv(name, value.toLocal8Bit());
    }

private:
    QTemporaryDir dir;
    QList<QPair<QByteArray, QByteArray>> saved;
};

// Records every message logged while it lives (from any thread) and passes
// it on to the handler that was installed before.
class LogCapture
{
public:
    LogCapture()
    {
        QMutexLocker lock(&mutex());
        current() = this;
        previous = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(previous);
        QMutexLocker lock(&mutex());
        current() = nullptr;
    }
    QList<QPair<QtMsgType, QString>> entries() const
    {
        QMutexLocker lock(&mutex());
        return recorded;
    }
    QStringList messages(QtMsgType type) const
    {
        QStringList out;
        for (const auto &entry : entries())
            if (entry.first == type)
                out << entry.second;
        return out;
    }
    // Number of messages that contain `text`.
    int count(const QString &text) const
    {
        int n = 0;
        for (const auto &entry : entries())
            n += entry.second.contains(text) ? 1 : 0;
        return n;
    }
    bool contains(const QString &text) const { return count(text) > 0; }
    void clear()
    {
        QMutexLocker lock(&mutex());
        recorded.clear();
    }

private:
    static QMutex &mutex()
    {
        static QMutex m;
        return m;
    }
    static LogCapture *&current()
    {
        static LogCapture *capture = nullptr;
        return capture;
    }
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
    {
        QtMessageHandler forward = nullptr;
        {
            QMutexLocker lock(&mutex());
            if (LogCapture *capture = current()) {
                capture->recorded.append({type, msg});
                forward = capture->previous;
            }
        }
        if (forward)
            forward(type, context, msg);
    }

    QtMessageHandler previous = nullptr;
    QList<QPair<QtMsgType, QString>> recorded;
};

inline bool writeTestFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(path.left(path.lastIndexOf(QLatin1Char('/'))));
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

inline QByteArray readTestFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every file below `root` with its content, by path relative to it.
inline QMap<QString, QByteArray> filesBelow(const QString &root)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(root).relativeFilePath(path), readTestFile(path));
    }
    return files;
}

// True when this process is refused a write into a read-only folder, which
// is how the tests make the system say no. Not so for a process that holds
// the capability to override file permissions.
inline bool permissionsAreEnforced()
{
    QTemporaryDir probe;
    QFile::setPermissions(probe.path(), QFile::ReadOwner | QFile::ExeOwner);
    QFile file(probe.path() + QStringLiteral("/probe"));
    const bool written = file.open(QIODevice::WriteOnly);
    file.close();
    QFile::remove(file.fileName());
    QFile::setPermissions(probe.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return !written;
}

// ---- the X server, through xdotool: real input and real windows ----

inline bool xdotool(const QStringList &arguments, QByteArray *output = nullptr, int timeoutMs = 30000)
{
    QProcess tool;
    tool.start(QStringLiteral("xdotool"), arguments);
    if (!tool.waitForFinished(timeoutMs)) {
        tool.kill();
        tool.waitForFinished();
        return false;
    }
    if (output)
        *output = tool.readAllStandardOutput();
    return tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}

// Where the visible window titled exactly `title` (of process `pid`, when
// given) lies on the screen, once it shows (within timeoutMs); an empty
// rectangle when it never does. xdotool gives up at once on an X error,
// which a window that goes while it looks at it causes, so it is asked
// again until the time is over.
inline QRect waitForWindow(const QString &title, qint64 pid = 0, int timeoutMs = 60000)
{
    QStringList search{QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible")};
    if (pid > 0)
        search << QStringLiteral("--pid") << QString::number(pid);
    search << QStringLiteral("--name") << QLatin1Char('^') + title + QLatin1Char('$');
    QByteArray found;
    QDeadlineTimer deadline(timeoutMs);
    while (!xdotool(search, &found, int(qMax<qint64>(deadline.remainingTime(), 1)))) {
        if (deadline.hasExpired())
            return QRect();
        QThread::msleep(200);
    }
    QByteArray shell;
    if (!xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"),
                  QString::fromLatin1(found.split('\n').value(0).trimmed())},
                 &shell))
        return QRect();
    QMap<QByteArray, int> values;
    for (const QByteArray &line : shell.split('\n')) {
        const int equals = line.indexOf('=');
        if (equals > 0)
            values.insert(line.left(equals), line.mid(equals + 1).toInt());
    }
    return QRect(values.value("X"), values.value("Y"), values.value("WIDTH"), values.value("HEIGHT"));
}

inline QPoint pointerPosition()
{
    QByteArray shell;
    xdotool({QStringLiteral("getmouselocation"), QStringLiteral("--shell")}, &shell);
    QPoint at(-1, -1);
    for (const QByteArray &line : shell.split('\n')) {
        if (line.startsWith("X="))
            at.setX(line.mid(2).toInt());
        else if (line.startsWith("Y="))
            at.setY(line.mid(2).toInt());
    }
    return at;
}

// Moves the pointer and waits until it is there; xdotool would wait for a
// move that never comes when the pointer is there already.
inline bool moveTo(const QPoint &at)
{
    if (pointerPosition() == at)
        return true;
    return xdotool({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(at.x()),
                    QString::number(at.y())});
}

inline bool clickAt(const QPoint &at)
{
    return moveTo(at) && xdotool({QStringLiteral("click"), QStringLiteral("1")});
}
