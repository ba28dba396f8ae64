#include "serialcomm.h"

#include "error.h"
#include "portmap.h"

#include <QScopedValueRollback>
#include <QTimer>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
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

// Receive events that take less than this start a pacing interval (setPaceInterval): a little
// longer than a frame of the screen, whose painting ends it early (catchUp) when the window has
// something to show, so that what the window shows is no older than it would be otherwise. Only
// the event waits: bytes are read from the device as they come, for a hang-up discards what the
// terminal still holds, and a terminal left full stops taking bytes from the adapter.
constexpr qint64 kPaceBelow = 2048;
// While an event is paced and the device hands over fewer bytes a millisecond than this, reading
// pauses for a few ms at a time (ReadPause), so that a trickle does not wake the program for every
// piece the adapter hands over. The bytes wait in the terminal, which a hang-up discards: what came
// in the last pause before an adapter is unplugged is lost, as what the adapter itself still held
// back is (an FTDI adapter holds up to 16 ms). A pause leaves the terminal far from full.
constexpr qint64 kTrickleBytesPerMs = 64;

} // namespace

SerialComm::SerialComm(QObject* parent)
    : QObject(parent), port_(new QSerialPort(this)), pace_(new QTimer(this)),
      reads_(new ReadPause(*port_))
{
    port_->setReadBufferSize(0); // unbounded: received data is never discarded
    connect(port_, &QSerialPort::readyRead, this, &SerialComm::onReadyRead);
    connect(reads_, &ReadPause::resumed, this, [this] {
        const qint64 pulled = reads_->lastPulled();
        if (paced_ && !failing_ && pulled > 0 && pulled < kTrickleBytesPerMs * ReadPause::kPauseMs)
            reads_->pause();
    });
    connect(port_, &QSerialPort::errorOccurred, this, &SerialComm::onError);
    pace_->setSingleShot(true);
    pace_->setTimerType(Qt::PreciseTimer);
    connect(pace_, &QTimer::timeout, this, &SerialComm::endPacing);
}

SerialComm::~SerialComm() = default;

void SerialComm::setCommPort(qint16 port)
{
    if (port < 1)
        throw Error(cannotSet("CommPort", QString::number(port),
                              QStringLiteral("port number must be 1 or more")));
    if (PortOpen())
        throw Error(
            cannotSet("CommPort", QString::number(port),
                      QStringLiteral("port %1 is already open; close it first").arg(commPort_)));
    commPort_ = port;
}

void SerialComm::setInputLen(qint16 length)
{
    if (length < 0)
        throw Error(
            cannotSet("InputLen", QString::number(length), QStringLiteral("it must be 0 or more")));
    inputLen_ = length;
}

void SerialComm::setRThreshold(qint16 threshold)
{
    if (threshold < 0)
        throw Error(cannotSet("RThreshold", QString::number(threshold),
                              QStringLiteral("it must be 0 or more")));
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
    stopPacing();
    reads_->resume();
    raiseAgain_ = false; // nothing is due from a closed port
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
    const ports::DeviceLook look(path);
    if (look.lockedElsewhere())
        failOpen(path, ports::inUse(path));
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
        failOpen(path, ports::inUse(path));
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
    const QString reason =
        ports::openFailureReason(path, port_->error() == QSerialPort::PermissionError);
    return reason.isEmpty() ? port_->errorString() : reason;
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
    if (inputLen_ > 0) // in binary mode at least one whole character
        n = std::min<qint64>(n,
                             inputMode_ == kBinaryMode ? std::max(inputLen_ & ~1, 2) : inputLen_);
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
    QTimer::singleShot(0, this, [this] { raise(kReceiveEvent); });
}

// Input that came while a handler ran: what is waiting now, less what was waiting before and
// the handler did not take. A handler's own event loop reads input in without a readyRead
// (QSerialPort does not emit it recursively), so such input is found only by this count.
qint64 SerialComm::arrivedDuringHandler(qint64 waitingBefore, qint64 takenBefore) const
{
    return bytesWaiting() - (waitingBefore - (taken_ - takenBefore));
}

// The one place that decides when the communication event is raised:
//  - Never while a handler of it runs. A receive event due meanwhile is noted and raised once
//    the handler has returned; a device error event then is dropped (its handler would ignore it).
//  - A receive event when at least RThreshold characters are waiting; never with RThreshold 0.
//    A failing device hands out whatever it delivered in one last event, below RThreshold too.
//  - After a receive event's handler, once more from the event loop when input is still due:
//    noted during the handler, arrived during it, or left because InputLen took only part.
//  - A device error event once, after the failing device was closed (finishFailure).
//  - A device that trickles raises it in pacing intervals: a handler that took little and left
//    nothing waiting starts one, and a receive event due within it waits for its end (endPacing),
//    which catchUp brings forward. Its bytes are read as they come all the same.
void SerialComm::raise(qint16 event)
{
    if (inEvent_) {
        raiseAgain_ = raiseAgain_ || event == kReceiveEvent;
        return;
    }
    const bool receive = event == kReceiveEvent;
    if (receive && ((paced_ && !failing_) || rThreshold_ == 0 || !PortOpen() ||
                    bytesWaiting() < (failing_ ? 1 : rThreshold_)))
        return;
    const qint64 waitingBefore = bytesWaiting();
    const qint64 takenBefore = taken_;
    commEvent_ = event;
    {
        // A handler that throws is the window's to report; the flag comes down all the same.
        const QScopedValueRollback inHandler(inEvent_, true);
        Q_EMIT OnComm();
    }
    if (!receive || !PortOpen() || failing_)
        return;
    if (taken_ - takenBefore < kPaceBelow && bytesWaiting() == 0)
        startPacing();
    const qint64 minimum =
        inputMode_ == kBinaryMode ? std::max<qint64>(rThreshold_, 2) : rThreshold_;
    if (raiseAgain_ || arrivedDuringHandler(waitingBefore, takenBefore) > 0 ||
        (inputLen_ > 0 && bytesWaiting() >= minimum)) {
        raiseAgain_ = false;
        QTimer::singleShot(0, this, [this] { raise(kReceiveEvent); });
    }
}

void SerialComm::onReadyRead()
{
    if (reads_->pulling())
        return; // read on purpose by whoever raises the event next
    if (paced_ && !failing_ && bytesWaiting() < kTrickleBytesPerMs)
        reads_->pause();
    raise(kReceiveEvent);
}

void SerialComm::startPacing()
{
    paced_ = true;
    pace_->start(paceMs_);
}

void SerialComm::stopPacing()
{
    paced_ = false;
    pace_->stop();
}

void SerialComm::catchUp()
{
    if (paced_ && !inEvent_)
        endPacing();
}

void SerialComm::endPacing()
{
    stopPacing();
    if (!PortOpen())
        return;
    reads_->resume();
    if (bytesWaiting() > 0)
        raise(kReceiveEvent);
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
    raise(kReceiveEvent);
    closeDevice();
    port_->clearError();
    raise(kDeviceErrorEvent);
    Q_EMIT deviceFailed(
        QStringLiteral("Port %1 (%2) failed and was closed: %3. Press Close, reconnect "
                       "the device and press Open.")
            .arg(commPort_)
            .arg(path, reason));
}

} // namespace hexline
