// Linux side of the platform unit: the Windows facilities the installer uses,
// played by their closest Linux counterparts.

#include "Platform.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTextStream>
#include <QUrl>
#include <QWindow>

#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>


#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace Platform {

namespace {

// Lock file and socket live in the user's runtime folder, named from the
// window title, with the user id so a shared temporary folder still works.
QString instancePath(const QString &title, const char *suffix)
{
    QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (dir.isEmpty() || !QFileInfo(dir).isDir())
        dir = QDir::tempPath();
    return QStringLiteral("%1/%2-%3.%4").arg(dir, title).arg(::getuid()).arg(QLatin1String(suffix));
}

// A plain socket: the application object (and its event loop) does not
// exist yet when a second instance asks the first to show itself.
void askFirstInstanceToShow(const QString &socketPath)
{
    const QByteArray path = QFile::encodeName(socketPath);
    sockaddr_un address{};
    if (path.size() >= int(sizeof(address.sun_path)))
        return;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0) {
        static const char request[] = "show\n";
        (void)!::write(fd, request, sizeof(request) - 1);
    }
    ::close(fd);
}

void showWindowTitled(const QString &title)
{
    const auto windows = QGuiApplication::topLevelWindows();
    for (QWindow *window : windows) {
        if (window->title() == title) {
            window->showNormal();
            window->raise();
            window->requestActivate();
            return;
        }
    }
}

// The emulated registry: an INI file whose sections are key paths and whose
// values are written like a .reg export, so a number stays a number.
QString escapeRegistryText(const QString &text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('"');
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\': out += QLatin1String("\\\\"); break;
        case '"': out += QLatin1String("\\\""); break;
        case '\n': out += QLatin1String("\\n"); break;
        case '\r': out += QLatin1String("\\r"); break;
        default: out += c;
        }
    }
    out += QLatin1Char('"');
    return out;
}

// Reads a quoted text starting at `pos` (on the opening quote); returns the
// position after the closing quote, or -1.
int readQuoted(const QString &line, int pos, QString *text)
{
    text->clear();
    for (int i = pos + 1; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == QLatin1Char('"'))
            return i + 1;
        if (c == QLatin1Char('\\') && i + 1 < line.size()) {
            const QChar next = line.at(++i);
            *text += next == QLatin1Char('n') ? QChar('\n') : next == QLatin1Char('r') ? QChar('\r') : next;
        } else {
            *text += c;
        }
    }
    return -1;
}

QVariant parseRegistryValue(const QString &text)
{
    if (text.startsWith(QLatin1String("dword:")))
        return int(text.midRef(6).toUInt(nullptr, 16));
    if (text.startsWith(QLatin1String("qword:")))
        return qlonglong(text.midRef(6).toULongLong(nullptr, 16));
    if (text.startsWith(QLatin1Char('"'))) {
        QString value;
        readQuoted(text, 0, &value);
        return value;
    }
    return text;
}

bool readRegistry(QIODevice &device, QSettings::SettingsMap &map)
{
    QTextStream in(&device);
    in.setCodec("UTF-8");
    QString section;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = line.mid(1, line.size() - 2);
            continue;
        }
        QString name;
        int equals;
        if (line.startsWith(QLatin1Char('"'))) {
            equals = readQuoted(line, 0, &name);
            if (equals < 0 || equals >= line.size() || line.at(equals) != QLatin1Char('='))
                continue;
        } else {
            equals = line.indexOf(QLatin1Char('='));
            if (equals < 0)
                continue;
            name = line.left(equals);
        }
        const QString key = section.isEmpty() ? name : section + QLatin1Char('/') + name;
        map.insert(key, parseRegistryValue(line.mid(equals + 1)));
    }
    return true;
}

bool writeRegistry(QIODevice &device, const QSettings::SettingsMap &map)
{
    QMap<QString, QStringList> sections;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        const int slash = it.key().lastIndexOf(QLatin1Char('/'));
        const QString section = slash < 0 ? QString() : it.key().left(slash);
        const QString name = it.key().mid(slash + 1);
        const QVariant &value = it.value();
        QString text;
        switch (value.userType()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Bool:
        case QMetaType::Short:
        case QMetaType::UShort:
            text = QStringLiteral("dword:%1").arg(quint32(value.toUInt()), 8, 16, QLatin1Char('0'));
            break;
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
            text = QStringLiteral("qword:%1").arg(value.toULongLong(), 16, 16, QLatin1Char('0'));
            break;
        default:
            text = escapeRegistryText(value.toString());
        }
        sections[section] << escapeRegistryText(name) + QLatin1Char('=') + text;
    }
    QTextStream out(&device);
    out.setCodec("UTF-8");
    out << "; lumenrider: emulated Windows registry\n";
    for (auto it = sections.cbegin(); it != sections.cend(); ++it) {
        out << '\n';
        if (!it.key().isEmpty())
            out << '[' << it.key() << "]\n";
        for (const QString &line : it.value())
            out << line << '\n';
    }
    out.flush();
    return out.status() == QTextStream::Ok;
}

QSettings::Format registryFormat()
{
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("ini"), readRegistry, writeRegistry);
    return format;
}

QString desktopEntryExec(const QString &program)
{
    // Quoted as the desktop-entry rules want it, then escaped once more as
    // a string value; "%" would otherwise be read as a field code.
    QString quoted = QStringLiteral("\"");
    for (const QChar c : program) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    quoted += QLatin1Char('"');
    quoted.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    quoted.replace(QLatin1Char('%'), QLatin1String("%%"));
    return quoted;
}

// A name beside `target` for its copy in progress; the leading dot keeps it
// out of folder listings while it exists.
QByteArray temporaryNameBeside(const QByteArray &target)
{
    const int slash = target.lastIndexOf('/');
    return target.left(slash + 1) + '.' + target.mid(slash + 1) + ".lrtmp-XXXXXX";
}

// Fills the template's X's; for names that mkostemp can't create (links).
QByteArray uniqueName(QByteArray pattern)
{
    static thread_local std::mt19937 generator{std::random_device{}()};
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int i = pattern.size() - 6; i < pattern.size(); ++i)
        pattern[i] = letters[generator() % (sizeof(letters) - 1)];
    return pattern;
}

ssize_t copyByReadWrite(int in, int out)
{
    static thread_local std::vector<char> buffer(1 << 17);
    const ssize_t got = ::read(in, buffer.data(), buffer.size());
    for (ssize_t written = 0; got > 0 && written < got;) {
        const ssize_t n = ::write(out, buffer.data() + written, size_t(got - written));
        if (n < 0 && errno != EINTR)
            return -1;
        written += n < 0 ? 0 : n;
    }
    return got;
}

// The whole content of `in` onto `out`: in the kernel where it can
// (copy_file_range, which may share blocks; sendfile where the file system
// or the kernel refuses it), else through a buffer. Both descriptors move
// on together, so a fallback goes on where the last call stopped.
bool copyContent(int in, int out)
{
    constexpr size_t chunk = size_t(1) << 30;
    bool rangeWorks = true;
    bool sendfileWorks = true;
    for (;;) {
        ssize_t n;
        if (rangeWorks) {
            n = ::copy_file_range(in, nullptr, out, nullptr, chunk, 0);
            // EPERM: some container runtimes filter the call out.
            if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP
                          || errno == EPERM)) {
                rangeWorks = false;
                continue;
            }
        } else if (sendfileWorks) {
            n = ::sendfile(out, in, nullptr, chunk);
            if (n < 0 && (errno == EINVAL || errno == ENOSYS)) {
                sendfileWorks = false;
                continue;
            }
        } else {
            n = copyByReadWrite(in, out);
        }
        if (n == 0)
            return true;
        if (n < 0 && errno != EINTR)
            return false;
    }
}

bool copyRegularFile(int in, const QByteArray &target, const QByteArray &temporary)
{
    struct stat status;
    if (::fstat(in, &status) != 0)
        return false;
    QByteArray name = temporary;
    const int out = ::mkostemp(name.data(), O_CLOEXEC);
    if (out < 0)
        return false;
    // The source's permission bits go along, so the client's programs stay
    // executable.
    bool ok = copyContent(in, out) && ::fchmod(out, status.st_mode & 07777) == 0;
    ok = ::close(out) == 0 && ok;
    ok = ok && ::rename(name.constData(), target.constData()) == 0;
    if (!ok)
        ::unlink(name.constData());
    return ok;
}

bool copySymbolicLink(const QByteArray &source, const QByteArray &target, const QByteArray &temporary)
{
    std::vector<char> destination(4096);
    ssize_t length;
    while ((length = ::readlink(source.constData(), destination.data(), destination.size())) == ssize_t(destination.size()))
        destination.resize(destination.size() * 2);
    if (length < 0)
        return false;
    destination.resize(size_t(length));
    destination.push_back('\0');
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name = uniqueName(temporary);
        if (::symlink(destination.data(), name.constData()) != 0) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        if (::rename(name.constData(), target.constData()) == 0)
            return true;
        ::unlink(name.constData());
        return false;
    }
    return false;
}

QString toolsDirectory()
{
    const QString program = toolProgram(QStringLiteral("schtasks"));
    return QFileInfo(program).isAbsolute() ? QFileInfo(program).absolutePath() : QString();
}

} // namespace

bool claimSingleInstance(const QString &title)
{
    static int lockFd = -1;
    const QByteArray lockPath = QFile::encodeName(instancePath(title, "lock"));
    const int fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return true; // no lock to be had: rather run twice than not at all
    // The lock goes with the process, so a dead instance never blocks a start.
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        lockFd = fd;
        return true;
    }
    ::close(fd);
    askFirstInstanceToShow(instancePath(title, "socket"));
    return false;
}

void serveSecondInstances(const QString &title)
{
    auto *server = new QLocalServer(QCoreApplication::instance());
    server->setSocketOptions(QLocalServer::UserAccessOption);
    const QString path = instancePath(title, "socket");
    QLocalServer::removeServer(path); // we hold the lock: any socket there is stale
    if (!server->listen(path))
        return;
    QObject::connect(server, &QLocalServer::newConnection, server, [server, title] {
        while (QLocalSocket *socket = server->nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, title] {
                if (socket->readAll().contains("show"))
                    showWindowTitled(title);
                socket->disconnectFromServer();
            });
        }
    });
}

void openConsole()
{
    // Standard output already is the terminal the installer was started from.
}

QString nativeOsBits()
{
    const QString arch = QSysInfo::currentCpuArchitecture();
    return arch == QLatin1String("x86_64") || arch == QLatin1String("ia64") ? QStringLiteral("64")
                                                                          : QStringLiteral("32");
}

void processorInfo(quint64 *activeMask, quint32 *revision)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    quint64 mask = 0;
    if (::sched_getaffinity(0, sizeof(set), &set) == 0) {
        for (int cpu = 0; cpu < 64; ++cpu) {
            if (CPU_ISSET(cpu, &set))
                mask |= quint64(1) << cpu;
        }
    }
    *activeMask = mask;
    *revision = 0;
}

QString registryFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
           + QStringLiteral("/lumenrider/registry.ini");
}

std::unique_ptr<QSettings> openRegistryKey(const QString &keyPath)
{
    QDir().mkpath(QFileInfo(registryFilePath()).absolutePath());
    auto settings = std::make_unique<QSettings>(registryFilePath(), registryFormat());
    QString group = keyPath;
    group.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (group.endsWith(QLatin1Char('/')))
        group.chop(1);
    settings->beginGroup(group);
    return settings;
}

QString defaultInstallPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
           + QStringLiteral("/lumenrider");
}

QByteArray installerImageListing(int)
{
    return QFileInfo(QCoreApplication::applicationFilePath()).fileName().toUtf8();
}

QString toolProgram(const QString &tool)
{
    QStringList dirs;
    const QString chosen = qEnvironmentVariable("LUMENRIDER_TOOLS_DIR");
    if (!chosen.isEmpty())
        dirs << chosen;
    else
        dirs << QStringLiteral(LUMENRIDER_TOOLS_BUILD_DIR) << QStringLiteral(LUMENRIDER_TOOLS_INSTALL_DIR);
    for (const QString &dir : qAsConst(dirs)) {
        const QFileInfo candidate(dir + QLatin1Char('/') + tool);
        if (candidate.isFile() && candidate.isExecutable())
            return candidate.absoluteFilePath();
    }
    const QString onPath = QStandardPaths::findExecutable(tool);
    // Nothing found: the start then fails, as when Windows lacks the tool.
    return onPath.isEmpty() ? tool : onPath;
}

QProcessEnvironment toolEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString dir = toolsDirectory();
    if (!dir.isEmpty()) {
        const QString path = environment.value(QStringLiteral("PATH"));
        environment.insert(QStringLiteral("PATH"), path.isEmpty() ? dir : dir + QLatin1Char(':') + path);
    }
    return environment;
}

Command batchCommand(const QString &batchPath)
{
    return {QStringLiteral("/bin/sh"), {batchPath}};
}

bool createShortcut(const QString &linkPath, const QString &target)
{
    QString path = linkPath;
    if (path.endsWith(QLatin1String(".lnk")))
        path.chop(4);
    path += QLatin1String(".desktop");
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QString entry = QStringLiteral("[Desktop Entry]\nType=Application\nName=%1\nExec=%2\nTerminal=false\n")
                              .arg(QFileInfo(path).completeBaseName(), desktopEntryExec(target));
    file.write(entry.toUtf8());
    if (!file.commit())
        return false;
    return QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner | QFile::ExeUser
                                           | QFile::ExeGroup | QFile::ExeOther);
}

QString launcherCommand(const QString &program)
{
    return desktopEntryExec(program);
}

QString batchTaskTarget(const QString &program)
{
    // /bin/sh reads the line; inside double quotes only these four keep a
    // meaning of their own.
    QString escaped;
    escaped.reserve(program.size());
    for (const QChar c : program) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            escaped += QLatin1Char('\\');
        escaped += c;
    }
    return QStringLiteral("\"\\\"") + escaped + QStringLiteral("\\\"\"");
}

bool copyWholeFile(const QString &source, const QString &target, bool replaceExisting)
{
    const QByteArray from = QFile::encodeName(source);
    const QByteArray to = QFile::encodeName(target);
    // A target the user may not write stays as it is, as a read-only file
    // does on Windows.
    if (::access(to.constData(), W_OK) == 0) {
        if (!replaceExisting)
            return false;
    } else if (errno != ENOENT) {
        return false;
    }
    const QByteArray temporary = temporaryNameBeside(to);
    const int in = ::open(from.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (in < 0)
        return errno == ELOOP && copySymbolicLink(from, to, temporary);
    const bool ok = copyRegularFile(in, to, temporary);
    ::close(in);
    return ok;
}

bool launchClient(const QString &program, const QStringList &parameters, int *errorCode)
{
    const QFileInfo file(program);
    if (!file.exists()) {
        *errorCode = 2; // ERROR_FILE_NOT_FOUND
        return false;
    }
    if (!file.isFile() || !file.isExecutable()) {
        *errorCode = 5; // ERROR_ACCESS_DENIED
        return false;
    }
    if (!QProcess::startDetached(program, parameters)) {
        *errorCode = 31; // ERROR_GEN_FAILURE
        return false;
    }
    *errorCode = 0;
    return true;
}

void openWebAddress(const QUrl &url)
{
    QDesktopServices::openUrl(url);
}

} // namespace Platform
