#include "tests/support/ptypair.h"

#include "serial/portmap.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <chrono>
#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace hexline::test {

Pty::Pty()
{
    char name[PATH_MAX] = {};
    struct termios raw {};
    cfmakeraw(&raw);
    if (::openpty(&master_, &slave_, name, &raw, nullptr) != 0) {
        master_ = slave_ = -1;
        return;
    }
    slavePath_ = QString::fromLocal8Bit(name);
    // Writers wait for room with poll, so that none can block for good.
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
}

Pty::~Pty()
{
    hangUp();
    if (slave_ >= 0)
        ::close(slave_);
}

bool Pty::write(const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const qsizetype n = writeSome(bytes.constData() + done, bytes.size() - done, 100);
        if (n < 0)
            return false;
        done += n;
    }
    return true;
}

qsizetype Pty::writeSome(const char* data, qsizetype size, int timeoutMs)
{
    if (master_ < 0)
        return -1;
    const ssize_t n = ::write(master_, data, size_t(size));
    if (n >= 0)
        return n;
    if (errno != EINTR && errno != EAGAIN)
        return -1;
    pollfd p{master_, POLLOUT, 0};
    ::poll(&p, 1, timeoutMs);
    return 0;
}

void Pty::hangUp()
{
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

termios Pty::attributes() const
{
    termios t{};
    if (slave_ >= 0)
        ::tcgetattr(slave_, &t);
    return t;
}

DroppingDevice::DroppingDevice(Pty& device, double ratePerSecond, int durationMs)
{
    thread_ = std::thread([this, &device, ratePerSecond, durationMs] {
        // Lines of 16 characters, so that any position in the stream starts a slice of it.
        const QByteArray lines = kLine.repeated(4096);
        using Clock = std::chrono::steady_clock;
        const auto start = Clock::now();
        const auto end = start + std::chrono::milliseconds(durationMs);
        qint64 carried = 0; // what the line has carried, refused characters included
        while (Clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            const auto now = std::min(Clock::now(), end);
            const double elapsed = std::chrono::duration<double>(now - start).count();
            qint64 due = qint64(elapsed * ratePerSecond) - carried;
            while (due > 0) {
                const qsizetype size =
                    qsizetype(std::min<qint64>(due, lines.size() - kLine.size()));
                const qsizetype n =
                    device.writeSome(lines.constData() + carried % kLine.size(), size, 0);
                accepted_ += std::max<qsizetype>(n, 0);
                refused_ += size - std::max<qsizetype>(n, 0);
                carried += size;
                due -= size;
            }
        }
        done_ = true;
    });
}

void DroppingDevice::wait()
{
    if (thread_.joinable())
        thread_.join();
}

PortDirectory::PortDirectory()
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.path()));
    QDir().mkpath(path());
}

QString PortDirectory::path() const
{
    return ports::portDirectory(); // under XDG_CONFIG_HOME, which the constructor pointed here
}

bool PortDirectory::attach(int port, const QString& device)
{
    detach(port);
    return QFile::link(device, path() + QStringLiteral("/com%1").arg(port));
}

void PortDirectory::detach(int port)
{
    QFile::remove(path() + QStringLiteral("/com%1").arg(port));
}

} // namespace hexline::test
