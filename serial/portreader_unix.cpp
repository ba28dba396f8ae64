#include "serial/portreader.h"

#include <QDeadlineTimer>
#include <QSerialPort>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace hexline {

namespace {

// A device that hands over fewer bytes a millisecond than this trickles: it is read kPauseMs
// apart rather than at every piece (one a millisecond from a USB adapter, say), so that a
// trickle does not wake the program a thousand times a second. A pause fills at most a third of
// the 4 KiB a Linux terminal holds; a flood is read as it comes. The bytes wait in the terminal
// meanwhile, and a hang-up discards them: what came in the last pause before an adapter is
// unplugged is lost, as what the adapter itself still held back is (an FTDI adapter holds up to
// 16 ms).
constexpr qint64 kTrickleBytesPerMs = 128;

QString hangUpReason()
{
    return QStringLiteral("the device was removed or hung up");
}

// A byte through a pipe wakes whoever polls its other end; a full pipe already holds a wake-up.
void signalPipe(int fd)
{
    const char byte = 0;
    while (::write(fd, &byte, 1) < 0 && errno == EINTR) {
    }
}

void drainPipe(int fd)
{
    char drain[64];
    while (::read(fd, drain, sizeof drain) > 0) {
    }
}

} // namespace

// The loop is woken through a pipe that it polls beside the device, and wakes the window's thread
// through another.
void PortReader::openWake()
{
    if (::pipe2(wakeFds_, O_NONBLOCK | O_CLOEXEC) != 0 ||
        ::pipe2(notifyFds_, O_NONBLOCK | O_CLOEXEC) != 0)
        qFatal("hexline: no pipe to wake the serial reader: %s", std::strerror(errno));
    notifier_ = new QSocketNotifier(notifyFds_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        drainPipe(notifyFds_[0]);
        Q_EMIT arrived();
    });
}

void PortReader::closeWake()
{
    delete notifier_;
    for (int fd : {wakeFds_[0], wakeFds_[1], notifyFds_[0], notifyFds_[1]})
        ::close(fd);
}

void PortReader::notify()
{
    signalPipe(notifyFds_[1]);
}

void PortReader::wake()
{
    signalPipe(wakeFds_[1]);
}

void PortReader::run(QSerialPort& port)
{
    int device = -1;                               // the open device while it is read
    QDeadlineTimer pause(QDeadlineTimer::Forever); // reading waits until then; forever: no pause
    int tellInMs = -1;                             // bytes read wait this long to be told of
    for (;;) {
        const bool pausing = !pause.isForever();
        int timeout = pausing ? int(pause.remainingTime()) : -1;
        if (tellInMs >= 0 && (timeout < 0 || tellInMs < timeout))
            timeout = tellInMs;
        pollfd fds[2] = {{wakeFds_[0], POLLIN, 0}, {device, POLLIN, 0}};
        if (::poll(fds, device >= 0 && !pausing ? 2 : 1, timeout) < 0 && errno != EINTR &&
            device >= 0) {
            fail(QString::fromLocal8Bit(std::strerror(errno))); // out of memory, say
            device = -1;
        }
        if (fds[0].revents != 0) {
            drainPipe(wakeFds_[0]);
            if (!runCall(port))
                return;
            const std::lock_guard lock(mutex_);
            device = port.isOpen() && failure_.isEmpty() ? int(port.handle()) : -1;
            pause = QDeadlineTimer(QDeadlineTimer::Forever); // the device may be another now
            tellInMs = -1;
            continue;
        }
        if (device < 0)
            continue;
        // A paused device is read when the pause ends, and also when the window is due to hear
        // of input: what waits in the terminal joins what is told.
        const bool tellDue = tellInMs >= 0 && nextTell_.hasExpired();
        if (pausing ? pause.hasExpired() || tellDue : fds[1].revents != 0) {
            if (!readDevice(device, pausing, fds[1].revents, pause))
                device = -1;
        }
        tellInMs = tellWhenDue();
    }
}

// Reads what the terminal holds; a hung-up terminal still hands it out, then fails. False once
// the device failed: it is read no more, and the reader idles until it closes.
bool PortReader::readDevice(int device, bool pausing, short revents, QDeadlineTimer& pause)
{
    if (bytesAvailable() >= kCapacity) { // full: the device waits until the window takes some
        pause = QDeadlineTimer(kPauseMs, Qt::PreciseTimer);
        return true;
    }
    const bool hungUp = !pausing && (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    qint64 got = 0;
    QString failure;
    char chunk[16384];
    for (;;) {
        const ssize_t n = ::read(device, chunk, sizeof chunk);
        ++deviceReads_;
        if (n > 0) {
            const qint64 held = deliver(chunk, n);
            got += n;
            if ((size_t(n) < sizeof chunk || held >= kCapacity) && !hungUp)
                break;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            // 0: nothing waits (QSerialPort sets VMIN and VTIME to 0); a hang-up shows in poll's
            // flags. EIO: the other side of a pseudo-terminal closed.
            if (n < 0 && errno == EIO)
                failure = hangUpReason();
            else if (n < 0 && errno != EAGAIN)
                failure = QString::fromLocal8Bit(std::strerror(errno));
            break;
        }
    }
    if (failure.isEmpty() && hungUp)
        failure = hangUpReason();
    if (!failure.isEmpty()) {
        fail(failure);
        pause = QDeadlineTimer(QDeadlineTimer::Forever);
        return false;
    }
    const qint64 trickle = kTrickleBytesPerMs * (pausing ? kPauseMs : 1);
    const bool wait = (got > 0 && got < trickle) || bytesAvailable() >= kCapacity;
    pause =
        wait ? QDeadlineTimer(kPauseMs, Qt::PreciseTimer) : QDeadlineTimer(QDeadlineTimer::Forever);
    return true;
}

} // namespace hexline
