#include "serialcomm.h"

#include "error.h"
#include "portmap.h"

#include <QFileInfo>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace hexline {

namespace {

QString cannotSet(const char* name, const QString& value, const QString& why)
{
    return QStringLiteral("%1 cannot be set to %2: %3.").arg(QLatin1String(name), value, why);
}

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
// Why a device that exists could not be opened, in terms a user can act on.
QString permissionAdvice(const QString& path)
{
    const QByteArray local = QFile::encodeName(path);
    if (::access(local.constData(), R_OK | W_OK) == 0)
        return QStringLiteral("it is in use by another program");
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

// Input events that take less than this start a pacing interval of this many ms: about a frame
// of the screen, so that what the window shows is no older than it would be otherwise. A device
// that floods fills whole reads (a terminal hands over up to 4 KB at a time) and is not paced.
constexpr qint64 kPaceBelow = 2048;
constexpr int kPaceMs = 15;

// Bytes that the device has received and the reader has not yet read.
qint64 pendingInDevice(int fd)
{
#ifdef Q_OS_UNIX
    int n = 0;
    return fd >= 0 && ::ioctl(fd, FIONREAD, &n) == 0 ? n : 0;
#else
    Q_UNUSED(fd);
    return 0;
#endif
}

} // namespace

SerialComm::SerialComm(QObject* parent) : QObject(parent), port_(new QSerialPort(this)), pace_(new QTimer(this))
{
    port_->setReadBufferSize(0); // unbounded: received data is never discarded
    connect(port_, &QSerialPort::readyRead, this, &SerialComm::onReadyRead);
    connect(port_, &QSerialPort::errorOccurred, this, &SerialComm::onError);
    pace_->setSingleShot(true);
    pace_->setTimerType(Qt::PreciseTimer);
    connect(pace_, &QTimer::timeout, this, &SerialComm::endPacing);
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
    return PortOpen() ? fed_.size() + port_->bytesAvailable() : 0;
}

void SerialComm::closeDevice()
{
    stopPacing();
    port_->close();
    fed_.clear();
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
    if (path.isEmpty())
        throw Error(QStringLiteral("port %1 has no device: no entry com%1 in %2 names one. %3")
                        .arg(commPort_)
                        .arg(ports::portDirectory(), ports::presentDevices()));

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
    if (!port_->open(QIODevice::ReadWrite)) {
        const QString message = openFailure(path);
        port_->clearError();
        throw Error(message);
    }
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
    QString reason = port_->errorString();
#ifdef Q_OS_UNIX
    if (port_->error() == QSerialPort::PermissionError && QFileInfo::exists(path))
        reason = permissionAdvice(path);
    else if (port_->error() == QSerialPort::DeviceNotFoundError && !QFileInfo::exists(path))
        reason = QStringLiteral("No such file or directory");
#endif
    return QStringLiteral("port %1 (%2) cannot be opened: %3. %4")
        .arg(commPort_)
        .arg(path, reason, ports::presentDevices());
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
        bytes.resize(take(bytes.data(), bytes.size()));
        return bytes;
    }
    scratch_.resize(n);
    return QString::fromLatin1(scratch_.constData(), take(scratch_.data(), n));
}

qint64 SerialComm::take(char* out, qint64 n)
{
    const qint64 fromFed = std::min<qint64>(n, fed_.size());
    std::memcpy(out, fed_.constData(), size_t(fromFed));
    fed_.remove(0, fromFed);
    const qint64 got = fromFed + std::max<qint64>(port_->read(out + fromFed, n - fromFed), 0);
    taken_ += got;
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
    if (taken_ - takenBefore < kPaceBelow && bytesWaiting() == 0)
        startPacing();
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
    if (paced_) // the end of the interval raises the event
        return;
    raiseReceive();
}

void SerialComm::startPacing()
{
    paced_ = true;
    port_->setReadBufferSize(1);
    pace_->start(kPaceMs);
}

void SerialComm::stopPacing()
{
    paced_ = false;
    pace_->stop();
    port_->setReadBufferSize(0);
}

void SerialComm::endPacing()
{
    stopPacing();
    // Reading again: what the device holds comes with its readyRead; what the reader holds
    // already is raised here.
    if (PortOpen() && bytesWaiting() > 0 && pendingInDevice(int(port_->handle())) == 0)
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
    // After a hang-up Qt's error text tells a stale errno, so the cause is named here.
    const QString reason = error == QSerialPort::ResourceError || error == QSerialPort::ReadError
                               ? QStringLiteral("the device was removed, hung up or stopped answering")
                               : port_->errorString();
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
