#include "serialcomm.h"

#include "error.h"
#include "portmap.h"

#include <QFile>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <termios.h>
#endif

namespace hexline {

namespace {

QString cannotSet(const char* name, const QString& value, const QString& why)
{
    return QStringLiteral("%1 cannot be set to %2: %3.").arg(QLatin1String(name), value, why);
}

// At most this many devices are named in a message box; standard error gets them all.
constexpr int kDevicesShown = 10;

// Errors after which the device cannot go on: it was removed, hung up or stopped answering.
bool isFatal(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::NoError:
    case QSerialPort::TimeoutError:
    case QSerialPort::UnsupportedOperationError:
    case QSerialPort::NotOpenError:
        return false;
    default:
        return true;
    }
}

#ifdef Q_OS_UNIX
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
        const QString name = comm.open(QIODevice::ReadOnly)
                                 ? QString::fromLocal8Bit(comm.readAll().trimmed())
                                 : QString();
        return name.isEmpty() ? QStringLiteral(" (pid %1)").arg(QLatin1String(pid))
                              : QStringLiteral(" (%1, pid %2)").arg(name, QLatin1String(pid));
    }
    return {};
}

QString inUse(const QString& path)
{
    return QStringLiteral("it is in use by another program") + lockHolder(path);
}

// A look at the device before QSerialPort opens it and sets its line: a device that another
// program has locked is left alone. The descriptor stays open until QSerialPort has its own,
// so that the modem lines of a real port do not drop in between.
class DevicePeek {
public:
    explicit DevicePeek(const QString& path)
        : fd_(::open(QFile::encodeName(path).constData(),
                     O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC))
    {
    }
    ~DevicePeek()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    DevicePeek(const DevicePeek&) = delete;
    DevicePeek& operator=(const DevicePeek&) = delete;
    bool lockedElsewhere() const
    {
        if (fd_ < 0)
            return false;
        if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
            ::flock(fd_, LOCK_UN);
            return false;
        }
        return errno == EWOULDBLOCK;
    }

private:
    int fd_;
};

// Why a device that exists could not be opened, in terms a user can act on.
QString permissionAdvice(const QString& path)
{
    const QByteArray local = QFile::encodeName(path);
    if (::access(local.constData(), R_OK | W_OK) == 0)
        return inUse(path);
    struct stat st{};
    QString group;
    if (::stat(local.constData(), &st) == 0)
        if (const struct group* g = ::getgrgid(st.st_gid))
            group = QString::fromLocal8Bit(g->gr_name);
    if (group.isEmpty())
        return QStringLiteral("Permission denied");
    return QStringLiteral("Permission denied (the device belongs to the group %1; add your user to it "
                          "with \"sudo usermod -aG %1 $USER\" and log in again)")
        .arg(group);
}
#endif

} // namespace

SerialComm::SerialComm(QObject* parent) : QObject(parent), port_(new QSerialPort(this))
{
    port_->setReadBufferSize(0); // unbounded: received data is never discarded
    connect(port_, &QSerialPort::readyRead, this, &SerialComm::onReadyRead);
    connect(port_, &QSerialPort::errorOccurred, this, &SerialComm::onError);
}

SerialComm::~SerialComm() = default;

void SerialComm::setCommPort(qint16 port)
{
    if (port < 1)
        throw Error(cannotSet("CommPort", QString::number(port), QStringLiteral("port number must be 1 or more")));
    if (PortOpen())
        throw Error(cannotSet("CommPort", QString::number(port),
                             QStringLiteral("port %1 is already open; close it first").arg(commPort_)));
    commPort_ = port;
}

void SerialComm::setInputLen(qint16 length)
{
    if (length < 0)
        throw Error(cannotSet("InputLen", QString::number(length), QStringLiteral("it must be 0 or more")));
    inputLen_ = length;
}

void SerialComm::setRThreshold(qint16 threshold)
{
    if (threshold < 0)
        throw Error(cannotSet("RThreshold", QString::number(threshold), QStringLiteral("it must be 0 or more")));
    rThreshold_ = threshold;
}

void SerialComm::setInputMode(qint32 mode)
{
    if (mode != kTextMode && mode != kBinaryMode)
        throw Error(cannotSet("InputMode", QString::number(mode),
                             QStringLiteral("it must be 0 (text) or 1 (binary)")));
    inputMode_ = mode;
}

void SerialComm::setSettings(const QString& settings)
{
    const LineSettings parsed = parseLineSettings(settings);
    if (PortOpen()) {
        try {
            applySettings(parsed);
        } catch (const Error&) {
            // The device may have taken some of the new settings before refusing one: put back
            // the ones that Settings still reports.
            try {
                applySettings(settings_);
            } catch (const Error&) {
            }
            throw;
        }
    }
    settings_ = parsed;
}

void SerialComm::applySettings(const LineSettings& s)
{
    const bool ok = port_->setBaudRate(s.baudRate) && port_->setParity(s.parity) &&
                    port_->setDataBits(s.dataBits) && port_->setStopBits(s.stopBits) &&
                    port_->setFlowControl(QSerialPort::NoFlowControl);
    if (!ok) {
        const QString why = port_->errorString();
        port_->clearError();
        throw Error(QStringLiteral("port %1 (%2) does not accept the line settings %3: %4.")
                        .arg(commPort_)
                        .arg(device_, quoted(toString(s)), why));
    }
    markErrors();
}

void SerialComm::markErrors()
{
#ifdef Q_OS_LINUX
    // Qt passes a byte with a parity or framing error on unchanged (it sets IGNPAR and clears
    // INPCK and PARMRK whenever it applies a parity), where it could read as a digit or as the
    // terminator. Marked, it is read as "?" instead.
    termios t{};
    const int fd = int(port_->handle());
    bool ok = ::tcgetattr(fd, &t) == 0;
    if (ok) {
        t.c_iflag |= INPCK | PARMRK;
        t.c_iflag &= ~tcflag_t(IGNPAR | ISTRIP);
        ok = ::tcsetattr(fd, TCSANOW, &t) == 0;
    }
    if (!ok) {
        const QString why = QString::fromLocal8Bit(std::strerror(errno));
        throw Error(
            QStringLiteral("port %1 (%2) cannot mark characters received with parity errors: %3.")
                .arg(commPort_)
                .arg(device_, why));
    }
#endif
}

bool SerialComm::PortOpen() const
{
    return port_->isOpen();
}

QString SerialComm::devicePath() const
{
    return PortOpen() ? device_ : QString();
}

qint64 SerialComm::bytesWaiting() const
{
    return PortOpen() ? (held_ >= 0) + fed_.size() + port_->bytesAvailable() : 0;
}

void SerialComm::closeDevice()
{
#ifdef Q_OS_UNIX
    if (port_->isOpen()) {
        const int fd = int(port_->handle());
        if (exclusive_)
            ::ioctl(fd, TIOCNXCL);
        ::flock(fd, LOCK_UN);
    }
#endif
    exclusive_ = false;
    port_->close();
    fed_.clear();
    marks_.reset();
    held_ = -1;
}

void SerialComm::setPortOpen(bool open)
{
    if (!open) {
        if (PortOpen())
            closeDevice();
        return;
    }
    if (PortOpen())
        throw Error(QStringLiteral("port %1 is already open.").arg(commPort_));

    const QString path = ports::devicePath(commPort_);
    if (path.isEmpty()) {
        const QString message =
            QStringLiteral("port %1 has no device: no entry com%1 in %2 names one. ")
                .arg(commPort_)
                .arg(ports::portDirectory());
        throw Error(message + ports::presentDevices(),
                    message + ports::presentDevices(kDevicesShown));
    }

    ++session_;
    device_ = path;
    port_->setPortName(path);
    port_->setBaudRate(settings_.baudRate);
    port_->setParity(settings_.parity);
    port_->setDataBits(settings_.dataBits);
    port_->setStopBits(settings_.stopBits);
    port_->setFlowControl(QSerialPort::NoFlowControl);
    port_->clearError();
    failing_ = false;
#ifdef Q_OS_UNIX
    const DevicePeek peek(path);
    if (peek.lockedElsewhere())
        failOpen(path, inUse(path));
#endif
    if (!port_->open(QIODevice::ReadWrite)) {
        const QString reason = openFailure(path);
        port_->clearError();
        failOpen(path, reason);
    }
#ifdef Q_OS_UNIX
    // No one else reads the device while it is open here: programs that lock it (terminal
    // programs, ModemManager) are kept out by the lock, and all but root by TIOCEXCL.
    const int fd = int(port_->handle());
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        closeDevice();
        failOpen(path, inUse(path));
    }
    exclusive_ = ::ioctl(fd, TIOCEXCL) == 0;
#endif
    // The device may refuse a setting only now that it is open (an unusual baud rate, say).
    try {
        applySettings(settings_);
    } catch (...) {
        closeDevice();
        throw;
    }
    scratch_.reserve(kInBufferSize);
}

QString SerialComm::openFailure(const QString& path) const
{
#ifdef Q_OS_UNIX
    // A device that is not there is reported as such, whatever step of QSerialPort (its lock
    // file, say) stumbled first.
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return systemReason(errno);
    if (port_->error() == QSerialPort::PermissionError)
        return permissionAdvice(path);
#else
    Q_UNUSED(path);
#endif
    return port_->errorString();
}

void SerialComm::failOpen(const QString& path, const QString& reason) const
{
    const QString message =
        QStringLiteral("port %1 (%2) cannot be opened: %3. ").arg(commPort_).arg(path, reason);
    throw Error(message + ports::presentDevices(), message + ports::presentDevices(kDevicesShown));
}

QVariant SerialComm::Input()
{
    if (!PortOpen())
        throw Error(QStringLiteral("Input cannot be read: port %1 is not open.").arg(commPort_));
    qint64 n = bytesWaiting();
    if (inputLen_ > 0)
        n = std::min<qint64>(n, inputLen_);
    if (inputMode_ == kBinaryMode) {
        // An odd last byte waits for its partner, so byte pairs never shift.
        QByteArray bytes(n & ~qint64(1), Qt::Uninitialized);
        qint64 got = take(bytes.data(), bytes.size());
        if (got % 2 != 0) { // decoded marks took the place of more than one byte
            held_ = quint8(bytes[--got]);
            --taken_;
        }
        bytes.resize(got);
        return bytes;
    }
    scratch_.resize(n);
    return QString::fromLatin1(scratch_.constData(), take(scratch_.data(), n));
}

// Up to n bytes: a held byte first, then fed input, then the device's bytes with their error
// marks decoded. A mark shrinks as it is decoded, so the device is read until n bytes are out or
// it has no more; a mark cut off at the end waits in the decoder for the next read.
qint64 SerialComm::take(char* out, qint64 n)
{
    qint64 got = 0;
    if (held_ >= 0 && n > 0) {
        out[got++] = char(held_);
        held_ = -1;
    }
    const qint64 fromFed = std::min<qint64>(n - got, fed_.size());
    std::memcpy(out + got, fed_.constData(), size_t(fromFed));
    fed_.remove(0, fromFed);
    got += fromFed;
    taken_ += got;
    while (got < n) {
        const qint64 read = port_->read(out + got, n - got);
        if (read <= 0)
            break;
        taken_ += read;
#ifdef Q_OS_LINUX
        got += marks_.decode(out + got, read, out + got);
#else
        got += read;
#endif
    }
    return got;
}

void SerialComm::feedReceived(const QByteArray& bytes)
{
    if (!PortOpen())
        throw Error(QStringLiteral("port %1 is not open.").arg(commPort_));
    fed_ += bytes;
    // Raised from the event loop, as for data from the device.
    QTimer::singleShot(0, this, &SerialComm::onReadyRead);
}

void SerialComm::raise(qint16 event)
{
    commEvent_ = event;
    inEvent_ = true;
    // A handler that throws is the window's to report; the flag must come down all the same.
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{inEvent_};
    Q_EMIT OnComm();
}

void SerialComm::raiseReceive()
{
    if (inEvent_) { // never while a handler of the event runs
        raiseAgain_ = true;
        return;
    }
    if (rThreshold_ == 0 || !PortOpen())
        return;
    if (bytesWaiting() < rThreshold_)
        return;
    const qint64 before = bytesWaiting();
    const qint64 takenBefore = taken_;
    raise(kReceiveEvent);
    if (!PortOpen())
        return;
    // Input taken only in part (InputLen), or data that came while the handler ran, raises the
    // event again once control is back in the event loop. Data that a handler's own event loop
    // read in comes without a readyRead (QSerialPort does not emit it recursively), so it is
    // found by counting.
    const qint64 arrived = bytesWaiting() - (before - (taken_ - takenBefore));
    const qint64 minimum = inputMode_ == kBinaryMode ? std::max<qint64>(rThreshold_, 2) : rThreshold_;
    if (raiseAgain_ || arrived > 0 || (inputLen_ > 0 && bytesWaiting() >= minimum)) {
        raiseAgain_ = false;
        QTimer::singleShot(0, this, &SerialComm::raiseReceive);
    }
}

void SerialComm::onReadyRead()
{
    if (inEvent_) {
        raiseAgain_ = true;
        return;
    }
    raiseReceive();
}

void SerialComm::onError(QSerialPort::SerialPortError error)
{
    // Failures while opening are reported by setPortOpen itself.
    if (!isFatal(error) || !PortOpen() || failing_)
        return;
    failing_ = true;
    // Finish outside QSerialPort's own notification code, and only once: a hung-up device
    // reports the same error again at every turn of the event loop until it is closed.
    // After a hang-up Qt's error text tells a stale errno (a read that ends returns 0), so a
    // hang-up is named as such; any other failure by the system's reason.
    QString reason = port_->errorString();
#ifdef Q_OS_UNIX
    pollfd hangUp{int(port_->handle()), POLLIN, 0};
    if (::poll(&hangUp, 1, 0) == 1 && (hangUp.revents & POLLHUP) != 0)
        reason = QStringLiteral("the device was removed or hung up");
#endif
    if (reason.isEmpty() || reason == u"Unknown error")
        reason = QStringLiteral("the device stopped answering");
    QTimer::singleShot(0, this, [this, reason, session = session_] {
        if (session == session_) // not a port closed and opened again meanwhile
            finishFailure(reason);
    });
}

void SerialComm::finishFailure(const QString& reason)
{
    if (!PortOpen())
        return;
    const QString path = device_;
    // What arrived before the failure is delivered first.
    if (bytesWaiting() > 0 && rThreshold_ > 0 && !inEvent_)
        raise(kReceiveEvent);
    closeDevice();
    port_->clearError();
    if (!inEvent_)
        raise(kDeviceErrorEvent);
    Q_EMIT deviceFailed(QStringLiteral("Port %1 (%2) failed and was closed: %3. Press Close, reconnect "
                                       "the device and press Open.")
                            .arg(commPort_)
                            .arg(path, reason));
}

} // namespace hexline
