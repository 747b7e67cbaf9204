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
#include <QMap>
#include <QMutex>
#include <QProcess>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTextStream>
#include <QUrl>
#include <QWindow>

#include <dirent.h>
#include <execinfo.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <climits>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <utility>
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

// For a text in double quotes that /bin/sh reads: inside them only these
// four keep a meaning of their own.
QString shellQuotedText(const QString &text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            escaped += QLatin1Char('\\');
        escaped += c;
    }
    return escaped;
}

QString desktopEntryExec(const QString &program)
{
    // Quoted as the desktop-entry rules want it (the shell's rules), then
    // escaped once more as a string value; "%" would otherwise be read as a
    // field code.
    QString quoted = QLatin1Char('"') + shellQuotedText(program) + QLatin1Char('"');
    quoted.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    quoted.replace(QLatin1Char('%'), QLatin1String("%%"));
    return quoted;
}

// The temporary names of copies in progress: a dot, the target's name,
// this marker and six random letters or digits.
const char temporaryMarker[] = ".lrtmp-";
const int temporaryMarkerLength = int(sizeof(temporaryMarker)) - 1;
const int temporarySuffixLength = 6;

// A name beside the file `name` for its copy in progress: the leading dot
// keeps it out of folder listings while it exists, and six random letters
// or digits keep it apart from a stale one.
QByteArray temporaryName(const QByteArray &name)
{
    static thread_local std::mt19937 generator{std::random_device{}()};
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray temporary(1 + name.size() + temporaryMarkerLength + temporarySuffixLength, Qt::Uninitialized);
    char *next = temporary.data();
    *next++ = '.';
    next = std::copy(name.constBegin(), name.constEnd(), next);
    next = std::copy(temporaryMarker, temporaryMarker + temporaryMarkerLength, next);
    // 36 to the 6th is less than 2 to the 32nd: one draw gives all six.
    for (quint32 draw = generator(), i = 0; i < temporarySuffixLength; ++i, draw /= 36)
        *next++ = letters[draw % 36];
    return temporary;
}

// True for a name that temporaryName makes, and for no other: a folder may
// hold files of the user's with names that merely look alike.
bool isTemporaryName(const char *name)
{
    const int length = int(std::strlen(name));
    if (name[0] != '.' || length < 2 + temporaryMarkerLength + temporarySuffixLength)
        return false;
    const char *suffix = name + length - temporarySuffixLength;
    if (std::memcmp(suffix - temporaryMarkerLength, temporaryMarker, size_t(temporaryMarkerLength)) != 0)
        return false;
    return std::all_of(suffix, suffix + temporarySuffixLength,
                       [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); });
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

// A write beyond the process's file-size limit must fail with EFBIG, the
// write error a Windows program gets, rather than end the installer through
// the default action of SIGXFSZ: the failed copy is then reported and the
// files copied so far stay. The disposition is the process's; set once.
void letWritesPastSizeLimitFail()
{
    static const bool ignored = ::signal(SIGXFSZ, SIG_IGN) != SIG_ERR;
    Q_UNUSED(ignored);
}

// The whole content of `in` onto `out`: in the kernel where it can
// (copy_file_range, which may share blocks; sendfile where the file system
// or the kernel refuses it), else through a buffer. Both descriptors move
// on together, so a fallback goes on where the last call stopped. The copy
// ends at the end of the file or once `size` bytes (its size when opened)
// are over: no further call is spent to learn that a small file has ended.
bool copyContent(int in, int out, off_t size)
{
    letWritesPastSizeLimitFail();
    constexpr size_t chunk = size_t(1) << 30;
    bool rangeWorks = true;
    bool sendfileWorks = true;
    off_t copied = 0;
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
        copied += n > 0 ? n : 0;
        if (copied == size)
            return true;
    }
}

// The permission bits new files get from the process's file mode mask;
// unknown (-1) where the system does not tell it without changing it.
int fileModeMask()
{
    static const int mask = [] {
        QFile status(QStringLiteral("/proc/self/status"));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const int value = line.mid(6).trimmed().toInt(&ok, 8);
                return ok ? value : -1;
            }
        }
        return -1;
    }();
    return mask;
}

// A file `name` made new in `folder` (never one that is there already) with
// exactly the permission bits `mode`: the mask usually leaves them as they
// are, which spares changing them afterwards.
int createNewFile(int folder, const QByteArray &name, mode_t mode)
{
    const int out = ::openat(folder, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (out < 0)
        return -1; // errno tells the caller why
    const int mask = fileModeMask();
    if ((mask < 0 || (mode & mode_t(mask)) != 0) && ::fchmod(out, mode) != 0) {
        ::close(out);
        ::unlinkat(folder, name.constData(), 0);
        return -1;
    }
    return out;
}

// Calls make(name) with fresh temporary names beside `target` until one
// is free (make fails with EEXIST for a name that is taken); the name
// made stays in *name.
template<typename Make>
bool makeBeside(const QByteArray &target, QByteArray *name, Make make)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = temporaryName(target);
        if (make(*name))
            return true;
        if (errno != EEXIST)
            return false;
    }
    return false;
}

// A new file in `folder` beside `target`, under a free temporary name.
int createTemporaryFile(int folder, const QByteArray &target, mode_t mode, QByteArray *name)
{
    int out = -1;
    makeBeside(target, name, [&](const QByteArray &free) { return (out = createNewFile(folder, free, mode)) >= 0; });
    return out;
}

// A target the user may not write stays as it is, as a read-only file
// does on Windows; so does any existing one unless replacing was asked.
bool mayReplace(int folder, const QByteArray &target, bool replaceExisting)
{
    if (::faccessat(folder, target.constData(), W_OK, 0) == 0)
        return replaceExisting;
    return errno == ENOENT;
}

// Puts the finished copy `name` in place of `target`, both in `folder`. A
// target that is not there yet is taken in one step; only an existing one
// needs the checks of mayReplace (and file systems that can't rename
// without replacing always get them).
bool putInPlace(int folder, const QByteArray &name, const QByteArray &target, bool replaceExisting)
{
    if (::renameat2(folder, name.constData(), folder, target.constData(), RENAME_NOREPLACE) == 0)
        return true;
    const bool checked = errno == EEXIST || errno == EINVAL || errno == ENOSYS;
    if (checked && mayReplace(folder, target, replaceExisting)
        && ::renameat(folder, name.constData(), folder, target.constData()) == 0)
        return true;
    ::unlinkat(folder, name.constData(), 0);
    return false;
}

// The content of `in` into the new file `out` named `name`, which is
// removed again when the copy fails.
bool fillNewFile(int in, off_t size, int out, int folder, const QByteArray &name)
{
    bool ok = copyContent(in, out, size);
    ok = ::close(out) == 0 && ok;
    if (!ok)
        ::unlinkat(folder, name.constData(), 0);
    return ok;
}

// A file in `folder` that has no name yet (O_TMPFILE), with exactly the
// permission bits `mode`; it is given its name once whole (nameFile), and
// a copy cut off before that, the process killed, leaves nothing behind:
// the system frees a file without a name when its last descriptor closes.
// -1 where the file system can't make one, or /proc, through which it is
// named, is missing.
int createUnnamedFile(int folder, mode_t mode)
{
    static const bool namable = ::access("/proc/self/fd", X_OK) == 0;
    if (!namable)
        return -1;
    const int out = ::openat(folder, ".", O_WRONLY | O_TMPFILE | O_CLOEXEC, mode);
    if (out < 0)
        return -1;
    const int mask = fileModeMask();
    if ((mask < 0 || (mode & mode_t(mask)) != 0) && ::fchmod(out, mode) != 0) {
        ::close(out);
        return -1;
    }
    return out;
}

// Gives the unnamed file `file` the name `name` in `folder`; fails with
// EEXIST where that name is taken. The descriptor itself is named where the
// kernel lets this process do so (since Linux 6.10 for a file it opened
// itself, before only with CAP_DAC_READ_SEARCH); elsewhere its path in
// /proc is, which takes a walk through /proc for every file.
bool nameFile(int file, int folder, const QByteArray &name)
{
    static std::atomic<bool> byDescriptor{true};
    if (byDescriptor.load(std::memory_order_relaxed)) {
        if (::linkat(file, "", folder, name.constData(), AT_EMPTY_PATH) == 0)
            return true;
        if (errno != ENOENT)
            return false;
        byDescriptor.store(false, std::memory_order_relaxed);
    }
    char path[32];
    std::snprintf(path, sizeof(path), "/proc/self/fd/%d", file);
    return ::linkat(AT_FDCWD, path, folder, name.constData(), AT_SYMLINK_FOLLOW) == 0;
}

// The content of `in` into the unnamed file `out`, which then takes the
// name `target`: at once where no file has it, else a temporary name
// beside it for the moment it takes to replace the existing one.
bool fillUnnamedFile(int in, off_t size, int out, int folder, const QByteArray &target, bool replaceExisting)
{
    QByteArray named; // the name the copy has in the folder, once it has one
    bool ok = copyContent(in, out, size);
    if (ok && nameFile(out, folder, target)) {
        named = target;
    } else if (ok && errno == EEXIST && mayReplace(folder, target, replaceExisting)) {
        QByteArray beside;
        if (makeBeside(target, &beside, [&](const QByteArray &free) { return nameFile(out, folder, free); }))
            named = beside;
    }
    ok = ::close(out) == 0 && ok && !named.isEmpty();
    if (!ok) {
        if (!named.isEmpty())
            ::unlinkat(folder, named.constData(), 0);
        return false;
    }
    return named == target || putInPlace(folder, named, target, replaceExisting);
}

// The source's permission bits go along, so the client's programs stay
// executable. A copy takes the target's name only once it is whole, also
// where no file is there yet: a copy cut off part-way, the process killed
// or the disk full, never leaves a half-written file under a name that
// passes for the whole one, and an existing target stays as it was until
// then. It is written into a file without a name where the file system
// makes one, which costs little more than writing in place, else under a
// temporary name beside the target. Being whole in the file system's view
// is all that takes; a flush to the disk (fsync) would guard against a
// power cut, not a kill, at many times the cost of the copy.
bool copyRegularFile(int in, int folder, const QByteArray &target, bool replaceExisting)
{
    struct stat status;
    if (::fstat(in, &status) != 0)
        return false;
    const mode_t mode = status.st_mode & 07777;
    const int unnamed = createUnnamedFile(folder, mode);
    if (unnamed >= 0)
        return fillUnnamedFile(in, status.st_size, unnamed, folder, target, replaceExisting);
    QByteArray name;
    const int out = createTemporaryFile(folder, target, mode, &name);
    return out >= 0 && fillNewFile(in, status.st_size, out, folder, name)
           && putInPlace(folder, name, target, replaceExisting);
}

bool copySymbolicLink(int sourceFolder, int targetFolder, const QByteArray &link, bool replaceExisting)
{
    std::vector<char> destination(4096);
    ssize_t length;
    while ((length = ::readlinkat(sourceFolder, link.constData(), destination.data(), destination.size()))
           == ssize_t(destination.size()))
        destination.resize(destination.size() * 2);
    if (length < 0)
        return false;
    destination.resize(size_t(length));
    destination.push_back('\0');
    QByteArray name;
    return makeBeside(link, &name,
                      [&](const QByteArray &free) {
                          return ::symlinkat(destination.data(), targetFolder, free.constData()) == 0;
                      })
           && putInPlace(targetFolder, name, link, replaceExisting);
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

// Linux lists no image names: the installer's own file name stands for
// the listing.
struct ImageListing::Run
{
};

ImageListing::ImageListing(int) : run(std::make_unique<Run>())
{
}

ImageListing::~ImageListing() = default;

QByteArray ImageListing::read()
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
    return {QStringLiteral("/bin/sh"), {batchPath}, QString(), QString()};
}

void startCommand(QProcess &process, const Command &command)
{
    if (!command.workingDirectory.isEmpty())
        process.setWorkingDirectory(command.workingDirectory);
    process.start(command.program, command.arguments);
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
    return QStringLiteral("\"\\\"") + shellQuotedText(program) + QStringLiteral("\\\"\"");
}

QString batchProgram(const QString &program)
{
    return QLatin1Char('"') + shellQuotedText(program) + QLatin1Char('"');
}

namespace {

// A name as the folder holds it, in the local 8-bit encoding; plain ASCII,
// the common case, needs no decoding.
QString decodedName(const char *name)
{
    const size_t length = std::strlen(name);
    for (size_t i = 0; i < length; ++i) {
        if (static_cast<unsigned char>(name[i]) >= 0x80)
            return QFile::decodeName(name);
    }
    return QString::fromLatin1(name, int(length));
}

QByteArray encodedName(const QString &name)
{
    for (const QChar c : name) {
        if (c.unicode() >= 0x80)
            return QFile::encodeName(name);
    }
    return name.toLatin1();
}

// Calls visit(name, isFolder) for what QDir lists by default on Unix, read
// straight from the folder: the release lists every folder twice, and Qt's
// listing costs more than the copy of a small file. Hidden means a name
// that starts with a dot; system entries are devices, pipes, sockets and
// links that lead nowhere.
// False when the folder could not be opened.
template<typename Visit>
bool visitFolder(const QString &path, Visit visit)
{
    DIR *folder = ::opendir(QFile::encodeName(path).constData());
    if (!folder)
        return false;
    while (const dirent *entry = ::readdir(folder)) {
        if (entry->d_name[0] == '.')
            continue;
        unsigned char type = entry->d_type;
        struct stat status;
        if (type == DT_UNKNOWN) {
            if (::fstatat(::dirfd(folder), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            type = IFTODT(status.st_mode);
        }
        if (type == DT_LNK ? ::fstatat(::dirfd(folder), entry->d_name, &status, 0) != 0
                           : type != DT_DIR && type != DT_REG)
            continue;
        visit(entry->d_name, type == DT_DIR);
    }
    ::closedir(folder);
    return true;
}

} // namespace

QVector<FolderEntry> listFolder(const QString &path, bool *readable)
{
    // Each entry with its name in lower case, the order it is sorted by.
    std::vector<std::pair<QString, FolderEntry>> found;
    const bool opened = visitFolder(path, [&found](const char *entry, bool isFolder) {
        const QString name = decodedName(entry);
        found.emplace_back(name.toLower(), FolderEntry{name, isFolder});
    });
    if (readable)
        *readable = opened;
    std::sort(found.begin(), found.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    QVector<FolderEntry> entries;
    entries.reserve(int(found.size()));
    for (auto &entry : found)
        entries.append(std::move(entry.second));
    return entries;
}

FolderCount countFolder(const QString &path)
{
    FolderCount count;
    visitFolder(path, [&count](const char *entry, bool isFolder) {
        if (isFolder)
            count.folders.append(decodedName(entry));
        else
            ++count.files;
    });
    return count;
}

// Both folders are opened once, and each file is reached by its name in
// them: a full path would be walked from the root again for every file.
struct FolderCopy::Folders
{
    int source = -1;
    int target = -1;
};

FolderCopy::FolderCopy(const QString &sourceFolder, const QString &targetFolder) : folders(new Folders)
{
    folders->source = ::open(QFile::encodeName(sourceFolder).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    folders->target = ::open(QFile::encodeName(targetFolder).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

FolderCopy::~FolderCopy()
{
    for (int folder : {folders->source, folders->target}) {
        if (folder >= 0)
            ::close(folder);
    }
}

int FolderCopy::removeLeftovers()
{
    if (folders->target < 0)
        return 0;
    const int listing = ::openat(folders->target, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *folder = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!folder) {
        if (listing >= 0)
            ::close(listing);
        return 0;
    }
    int removed = 0;
    while (const dirent *entry = ::readdir(folder)) {
        if (!isTemporaryName(entry->d_name))
            continue;
        unsigned char type = entry->d_type;
        struct stat status;
        if (type == DT_UNKNOWN && ::fstatat(folders->target, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0)
            type = IFTODT(status.st_mode);
        // Copies are files or links; a folder of that name is not ours.
        if ((type == DT_REG || type == DT_LNK) && ::unlinkat(folders->target, entry->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(folder);
    return removed;
}

bool FolderCopy::copy(const QString &name, bool replaceExisting)
{
    if (folders->source < 0 || folders->target < 0)
        return false;
    const QByteArray file = encodedName(name);
    const int in = ::openat(folders->source, file.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (in < 0)
        return errno == ELOOP && copySymbolicLink(folders->source, folders->target, file, replaceExisting);
    const bool ok = copyRegularFile(in, folders->target, file, replaceExisting);
    ::close(in);
    return ok;
}

bool appendToFile(const QString &path, const QByteArray &bytes)
{
    const int file = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (file < 0)
        return false;
    qint64 written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(file, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno != EINTR)
            break;
        written += n < 0 ? 0 : n;
    }
    return ::close(file) == 0 && written == bytes.size();
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

// ---- crash handler ---------------------------------------------------------------
// Everything the handler touches is prepared when it is installed: inside it
// only async-signal-safe calls are made, nothing is allocated or locked.

namespace {

const char crashRequestName[] = "LUMENRIDER_CRASH_REPORT";
const int crashSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
const int maxReporterEnvironment = 1024;

char reporterPath[PATH_MAX];
// The values for the reporter's environment, "NAME=value", in two sets:
// a change fills the set not in use and then switches, so a crash on
// another thread meanwhile still reads a whole set.
struct ReporterExtras
{
    QList<QByteArray> texts;
    char *entries[16];
    int count = 0;
};
ReporterExtras reporterExtraSets[2];
std::atomic<int> reporterExtraSet{0};
QMap<QString, QString> reporterValues;
QMutex reporterValuesMutex;
const size_t crashStackSize = 1 << 16;
char *reporterEnvironment[maxReporterEnvironment + 20];
char reportRequest[160];
alignas(16) char crashStack[1 << 16];
std::atomic<pid_t> crashingThread{0};

// A line of text put together without allocating.
struct CrashText
{
    char data[256];
    size_t size = 0;

    CrashText &add(const char *text)
    {
        while (*text && size + 1 < sizeof(data))
            data[size++] = *text++;
        data[size] = '\0';
        return *this;
    }
    CrashText &number(unsigned long long value, unsigned base)
    {
        char digits[32];
        int n = 0;
        do {
            digits[n++] = "0123456789abcdef"[value % base];
            value /= base;
        } while (value);
        while (n && size + 1 < sizeof(data))
            data[size++] = digits[--n];
        data[size] = '\0';
        return *this;
    }
    CrashText &hex(uintptr_t value) { return number(value, 16); }
    CrashText &dec(long long value)
    {
        if (value < 0) {
            add("-");
            value = -value;
        }
        return number((unsigned long long)value, 10);
    }
};

// The Windows exception code of the same fault, so reports read alike.
const char *exceptionCode(int signal)
{
    switch (signal) {
    case SIGSEGV:
    case SIGBUS: return "c0000005";
    case SIGILL: return "c000001d";
    case SIGFPE: return "c0000094";
    default: return "c0000409";
    }
}

const char *signalName(int signal)
{
    switch (signal) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGILL: return "SIGILL";
    case SIGFPE: return "SIGFPE";
    default: return "SIGABRT";
    }
}

// Where the faulting instruction is, as Windows names the exception address.
uintptr_t exceptionAddress(void *context, const siginfo_t *info)
{
    const auto *machine = static_cast<const ucontext_t *>(context);
#if defined(__x86_64__)
    return uintptr_t(machine->uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
    return uintptr_t(machine->uc_mcontext.gregs[REG_EIP]);
#elif defined(__aarch64__)
    return uintptr_t(machine->uc_mcontext.pc);
#else
    Q_UNUSED(machine)
    return uintptr_t(info->si_addr);
#endif
}

void writeText(int fd, const CrashText &text)
{
    size_t done = 0;
    while (done < text.size) {
        const ssize_t n = ::write(fd, text.data + done, text.size - done);
        if (n <= 0 && errno != EINTR)
            return;
        done += n > 0 ? size_t(n) : 0;
    }
}

void writeCrashRecord(int signal, const siginfo_t *info, uintptr_t address, pid_t thread)
{
    const int fd = ::open("crash.dmp", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return; // no dump; the report and the box still follow
    writeText(fd, CrashText().add("lumenrider installer crash record\n"));
    writeText(fd, CrashText().add("signal: ").dec(signal).add(" ").add(signalName(signal)).add("\n"));
    writeText(fd, CrashText().add("exception code: ").add(exceptionCode(signal)).add("\n"));
    writeText(fd, CrashText().add("exception address: ").hex(address).add("\n"));
    writeText(fd, CrashText().add("fault address: ").hex(uintptr_t(info->si_addr)).add("\n"));
    writeText(fd, CrashText().add("process id: ").dec(::getpid()).add("\n"));
    writeText(fd, CrashText().add("thread id: ").dec(thread).add("\n"));
    writeText(fd, CrashText().add("backtrace:\n"));
    void *frames[64];
    ::backtrace_symbols_fd(frames, ::backtrace(frames, 64), fd);
    ::close(fd);
}

// Runs this program as the crash reporter and waits until the user has
// closed its box.
void runReporter(int signal, uintptr_t address)
{
    CrashText request;
    request.add(crashRequestName).add("=").dec(::getpid()).add(":").add(exceptionCode(signal)).add(":").hex(address);
    std::memcpy(reportRequest, request.data, request.size + 1);

    int n = 0;
    for (char **entry = environ; entry && *entry && n < maxReporterEnvironment; ++entry) {
        if (std::strncmp(*entry, "LUMENRIDER_CRASH_", 17) != 0)
            reporterEnvironment[n++] = *entry;
    }
    const ReporterExtras &extras = reporterExtraSets[reporterExtraSet.load()];
    for (int i = 0; i < extras.count; ++i)
        reporterEnvironment[n++] = extras.entries[i];
    reporterEnvironment[n++] = reportRequest;
    reporterEnvironment[n] = nullptr;

    char *arguments[] = {reporterPath, nullptr};
    // posix_spawn, not vfork: its child gets a stack of its own (a vfork
    // child would run on this handler's alternate stack, which
    // AddressSanitizer then takes for part of the thread's stack and clears
    // at length), and glibc's spawn allocates nothing and takes no lock.
    pid_t child = 0;
    if (::posix_spawn(&child, reporterPath, nullptr, nullptr, arguments, reporterEnvironment) != 0)
        return;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

void onCrash(int signal, siginfo_t *info, void *context)
{
    const pid_t self = pid_t(::syscall(SYS_gettid));
    pid_t first = 0;
    if (!crashingThread.compare_exchange_strong(first, self)) {
        if (first != self) {
            // Another thread is reporting its crash and will end the process.
            for (;;)
                ::pause();
        }
        // A fault inside this handler: end now.
        ::signal(signal, SIG_DFL);
        ::raise(signal);
        return;
    }
    const uintptr_t address = exceptionAddress(context, info);
    writeCrashRecord(signal, info, address, self);
    runReporter(signal, address);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

} // namespace

void setCrashReporterValue(const QString &name, const QString &value)
{
    QMutexLocker lock(&reporterValuesMutex);
    reporterValues.insert(name, value);
    const int next = 1 - reporterExtraSet.load();
    ReporterExtras &extras = reporterExtraSets[next];
    extras.texts.clear();
    extras.count = 0;
    for (auto it = reporterValues.cbegin(); it != reporterValues.cend(); ++it) {
        if (extras.count == int(sizeof(extras.entries) / sizeof(*extras.entries)))
            break;
        extras.texts.append((it.key() + QLatin1Char('=') + it.value()).toLocal8Bit());
        extras.entries[extras.count++] = const_cast<char *>(extras.texts.last().constData());
    }
    reporterExtraSet.store(next);
}

ThreadCrashStack::ThreadCrashStack() : stack(std::malloc(crashStackSize))
{
    if (!stack)
        return;
    stack_t alternate{};
    alternate.ss_sp = stack;
    alternate.ss_size = crashStackSize;
    if (::sigaltstack(&alternate, nullptr) != 0) {
        std::free(stack);
        stack = nullptr;
    }
}

ThreadCrashStack::~ThreadCrashStack()
{
    if (!stack)
        return;
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    ::sigaltstack(&off, nullptr);
    std::free(stack);
}

void installCrashHandler()
{
    const QByteArray self = QFile::encodeName(QCoreApplication::applicationFilePath());
    if (self.isEmpty() || self.size() >= int(sizeof(reporterPath)))
        return;
    std::memcpy(reporterPath, self.constData(), size_t(self.size()) + 1);

    // The unwinder is loaded now, not first inside the handler.
    void *frame[1];
    ::backtrace(frame, 1);

    stack_t stack{};
    stack.ss_sp = crashStack;
    stack.ss_size = sizeof(crashStack);
    ::sigaltstack(&stack, nullptr);

    struct sigaction action{};
    action.sa_sigaction = onCrash;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (const int signal : crashSignals)
        ::sigaction(signal, &action, nullptr);
}

CrashReport pendingCrashReport()
{
    CrashReport report;
    const QList<QByteArray> parts = qgetenv(crashRequestName).split(':');
    // Only the crashed installer's own child reports: the parent waits for it.
    if (parts.size() != 3 || parts.at(0).toLongLong() != qint64(::getppid()))
        return report;
    report.valid = true;
    report.code = QString::fromLatin1(parts.at(1));
    report.address = QString::fromLatin1(parts.at(2));
    return report;
}

} // namespace Platform
