#include "errors/error.h"
#include "serial/portmap.h"
#include "serial/portmap_os.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace hexline::ports {

namespace {

struct DeviceRange {
    const char* prefix;
    int firstPort;
};

// Linux names its serial devices by driver; other systems have no built-in numbers.
#ifdef Q_OS_LINUX
constexpr std::array kRanges{DeviceRange{"/dev/ttyS", 1}, DeviceRange{"/dev/ttyUSB", 33},
                             DeviceRange{"/dev/ttyACM", 65}};
#else
constexpr std::array<DeviceRange, 0> kRanges{};
#endif
constexpr int kRangeSize = 32;

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// " (name, pid N)" of the program that holds the lock on the device, where /proc/locks shows
// it; empty otherwise.
QString lockHolder(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    const auto hex = [](unsigned int n) {
        return QByteArray::number(n, 16).rightJustified(2, '0');
    };
    const QByteArray inode = hex(major(st.st_dev)) + ':' + hex(minor(st.st_dev)) + ':' +
                             QByteArray::number(quint64(st.st_ino));
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return {};
    // "1: FLOCK  ADVISORY  WRITE 4711 00:1a:3 0 EOF": the pid stands before the inode.
    for (const QByteArray& line : locks.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        const qsizetype at = fields.indexOf(inode);
        if (at < 2 || !fields.contains("FLOCK"))
            continue;
        const QByteArray pid = fields.at(at - 1);
        QFile comm(QStringLiteral("/proc/%1/comm").arg(QLatin1String(pid)));
        // A program names itself: its name may hold a line end or a direction override.
        const QString name = comm.open(QIODevice::ReadOnly)
                                 ? shownName(QString::fromLocal8Bit(comm.readAll().trimmed()))
                                 : QString();
        return name.isEmpty() ? QStringLiteral(" (pid %1)").arg(QLatin1String(pid))
                              : QStringLiteral(" (%1, pid %2)").arg(name, QLatin1String(pid));
    }
    return {};
}

// Whether joining the device's group lets a user open it: never for the group root, which no
// user should join, nor for a group that the device's mode does not let read and write.
bool groupMayOpen(const struct stat& st)
{
    return st.st_gid != 0 && (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
}

// Who may open a device that its group may not: "root", or its owner and root.
QString owners(const struct stat& st)
{
    const struct passwd* owner = st.st_uid != 0 ? ::getpwuid(st.st_uid) : nullptr;
    return owner ? QStringLiteral("the user %1 and root")
                       .arg(shownName(QString::fromLocal8Bit(owner->pw_name)))
                 : QStringLiteral("root");
}

// Why a device that exists could not be opened, in terms a user can act on.
QString permissionAdvice(const QString& path)
{
    const QByteArray local = QFile::encodeName(path);
    if (::access(local.constData(), R_OK | W_OK) == 0)
        return inUse(path);
    struct stat st {};
    if (::stat(local.constData(), &st) != 0)
        return QStringLiteral("Permission denied");
    if (!groupMayOpen(st))
        return QStringLiteral("Permission denied (only %1 can open the device; a udev rule, or "
                              "the administrator, can give your user access to it)")
            .arg(owners(st));
    const struct group* g = ::getgrgid(st.st_gid);
    if (!g)
        return QStringLiteral("Permission denied");
    return QStringLiteral(
               "Permission denied (the device belongs to the group %1; add your user to it "
               "with \"sudo usermod -aG %1 $USER\" and log in again)")
        .arg(shownName(QString::fromLocal8Bit(g->gr_name)));
}

} // namespace

namespace os {

QString builtInPath(int port)
{
    for (const DeviceRange& r : kRanges)
        if (port >= r.firstPort && port < r.firstPort + kRangeSize)
            return QString::fromLatin1(r.prefix) + QString::number(port - r.firstPort);
    return {};
}

int builtInPort(const QString& path)
{
    for (const DeviceRange& r : kRanges) {
        const QString prefix = QString::fromLatin1(r.prefix);
        if (!path.startsWith(prefix))
            continue;
        bool ok = false;
        const int index = path.mid(prefix.size()).toInt(&ok);
        if (ok && index >= 0 && index < kRangeSize &&
            QString::number(index) == path.mid(prefix.size()))
            return r.firstPort + index;
    }
    return 0;
}

// A terminal device: a character device of the class tty. Pseudo-terminal slaves (majors 136 to
// 143) have no entry in /sys, so their major number tells. Opening a device to ask it would
// raise the modem lines of a real port.
bool isTerminal(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
#ifdef Q_OS_LINUX
    const unsigned int majorNumber = major(st.st_rdev);
    if (majorNumber >= 136 && majorNumber <= 143)
        return true;
    const QString classLink =
        QStringLiteral("/sys/dev/char/%1:%2/subsystem").arg(majorNumber).arg(minor(st.st_rdev));
    return QFileInfo(classLink).symLinkTarget().endsWith(QLatin1String("/tty"));
#else
    return true;
#endif
}

} // namespace os

QString inUse(const QString& path)
{
    return QStringLiteral("it is in use by another program") + lockHolder(path);
}

QString openFailureReason(const QString& path, bool permissionDenied)
{
    // A device that is not there is reported as such, whatever step of the serial layer (its
    // lock file, say) stumbled first.
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return systemReason(errno);
    // A link to /dev/null, a FIFO or a plain file: the serial layer would only tell that a
    // terminal request failed.
    if (!os::isTerminal(path))
        return QStringLiteral("it is not a serial device");
    if (permissionDenied)
        return permissionAdvice(path);
    return {};
}

DeviceLook::DeviceLook(const QString& path)
    : fd_(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC))
{
}

DeviceLook::~DeviceLook()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool DeviceLook::lockedElsewhere() const
{
    if (fd_ < 0)
        return false;
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
        ::flock(fd_, LOCK_UN);
        return false;
    }
    return errno == EWOULDBLOCK;
}

} // namespace hexline::ports
