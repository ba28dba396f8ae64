#include "log/logfile.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hexline::logfile {

namespace {

QString systemReason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Why the file at name cannot be opened, in plain words where the system's are not.
QString openFailure(const QByteArray& name)
{
    const int error = errno;
    struct stat st {};
    if (error == ENXIO && ::stat(name.constData(), &st) == 0) {
        if (S_ISFIFO(st.st_mode))
            return QStringLiteral("it is a pipe (FIFO) that no program is reading");
        if (S_ISSOCK(st.st_mode))
            return QStringLiteral("it is a socket, which cannot be written as a file");
    }
    return QString::fromLocal8Bit(std::strerror(error));
}

// Keeps SIGPIPE from ending the program while it lasts: a pipe whose reader has gone fails a write
// with EPIPE instead, and the signal that the write raised is taken back.
class PipeSignalHeld {
public:
    PipeSignalHeld()
    {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_, &before_);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    }
    ~PipeSignalHeld()
    {
        sigset_t pending;
        sigpending(&pending);
        if (!wasPending_ && sigismember(&pending, SIGPIPE) == 1) {
            const timespec now{};
            while (sigtimedwait(&pipe_, nullptr, &now) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &before_, nullptr);
    }
    PipeSignalHeld(const PipeSignalHeld&) = delete;
    PipeSignalHeld& operator=(const PipeSignalHeld&) = delete;

private:
    sigset_t pipe_{};
    sigset_t before_{};
    bool wasPending_ = false;
};

} // namespace

QString defaultPath()
{
    return QDir::homePath() + QStringLiteral("/commlog.txt");
}

bool openForAppend(QFile& file, bool& created, QString& why)
{
    // Non-blocking, as opening a FIFO for writing would wait for a reader, and a device for its
    // carrier; QFile's own Append would also ask a pipe or device for its position.
    const QByteArray name = QFile::encodeName(file.fileName());
    constexpr int kFlags = O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = ::open(name.constData(), kFlags | O_CREAT | O_EXCL, 0666);
    created = fd >= 0;
    if (fd < 0 && errno == EEXIST)
        fd = ::open(name.constData(), kFlags);
    if (fd < 0) {
        why = openFailure(name);
        return false;
    }
    if (!file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                   QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        why = file.errorString();
        return false;
    }
    return true;
}

bool write(QFile& file, QByteArrayView data, qint64& written, int waitMs, QString& why)
{
    const QDeadlineTimer deadline(waitMs);
    const PipeSignalHeld held;
    const int fd = file.handle();
    for (qint64 at = 0; at < data.size();) {
        const ssize_t n = ::write(fd, data.data() + at, std::size_t(data.size() - at));
        if (n > 0) {
            at += n;
            written += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EPIPE) {
            why = QStringLiteral("the program reading the pipe stopped reading it");
            return false;
        }
        if (n < 0 && errno == EAGAIN) { // a pipe whose reader has not taken what it holds
            pollfd out{fd, POLLOUT, 0};
            const int ready = ::poll(&out, 1, int(deadline.remainingTime()));
            if (ready == 0) {
                why = QStringLiteral("the program reading the pipe did not take the block "
                                     "within %1 seconds")
                          .arg(waitMs / 1000);
                return false;
            }
            if (ready > 0 || errno == EINTR)
                continue;
        }
        // A short write is followed by one that tells why it stopped.
        why = n == 0 ? QStringLiteral("the file took nothing") : systemReason();
        return false;
    }
    return true;
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
    if (::fstat(file.handle(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (!S_ISFIFO(st.st_mode) && !S_ISSOCK(st.st_mode))
            return true;
        why = QStringLiteral("a pipe passes on at once what it is given");
        return false;
    }
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
