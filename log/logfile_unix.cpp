#include "log/logfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hexline::logfile {

namespace {

QString systemReason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

QString defaultPath()
{
    return QDir::homePath() + QStringLiteral("/commlog.txt");
}

bool tryLock(const QFile& file)
{
    return ::flock(file.handle(), LOCK_EX | LOCK_NB) == 0 ||
           (errno != EWOULDBLOCK && errno != EINTR);
}

bool isAtPath(const QFile& file, const QString& path)
{
    struct stat opened {};
    struct stat named {};
    return ::fstat(file.handle(), &opened) == 0 &&
           ::stat(QFile::encodeName(path).constData(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

bool truncate(QFile& file, qint64 size, QString& why)
{
    struct stat st {};
    if (::fstat(file.handle(), &st) == 0 && !S_ISREG(st.st_mode))
        return true;
    if (::ftruncate(file.handle(), size) != 0 || ::fsync(file.handle()) != 0) {
        why = systemReason();
        return false;
    }
    return true;
}

// Devices and pipes that cannot be synced, and read-only file systems, have nothing to lose.
bool sync(QFile& file, QString& why)
{
    if (::fsync(file.handle()) == 0 || errno == EINVAL || errno == EROFS)
        return true;
    why = systemReason();
    return false;
}

bool syncDirectory(const QString& path, QString& why)
{
    const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return true; // nothing that could be synced
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
    if (!ok)
        why = systemReason();
    ::close(fd);
    return ok;
}

} // namespace hexline::logfile
