#include "serial/serialcomm.h"

#include "errors/error.h"
#include "serial/portmap.h"
#include "serial/terminal.h"

#include <QTimer>

namespace hexline {

namespace {

QString cannotSet(const char* name, const QString& value, const QString& why)
{
    return QStringLiteral("%1 cannot be set to %2: %3.").arg(QLatin1String(name), value, why);
}

// How often an open port's terminal is asked whether it hung up. Qt does not report a hang-up
// alike in every version: one raises an error at every turn of the event loop, one raises a single
// error, one none at all while it reads nothing in a loop; the program finds it itself.
constexpr int kHangUpCheckMs = 200;

QString hangUpReason()
{
    return QStringLiteral("the device was removed or hung up");
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

} // namespace

SerialComm::SerialComm(QObject* parent)
    : QObject(parent), port_(new PausablePort(this)), reads_(new ReadPause(*port_)), input_(*port_),
      events_(input_, *reads_)
{
    port_->setReadBufferSize(0); // unbounded: received data is never discarded
    input_.setDecodeMarks(terminal::marksErrors());
    connect(port_, &QSerialPort::readyRead, &events_, &EventRaiser::deviceRead);
    connect(port_, &QSerialPort::errorOccurred, this, &SerialComm::onError);
    connect(&events_, &EventRaiser::raised, this, &SerialComm::commEvent);
    hangUpCheck_.setInterval(kHangUpCheckMs);
    connect(&hangUpCheck_, &QTimer::timeout, this, &SerialComm::checkHangUp);
}

SerialComm::~SerialComm() = default;

void SerialComm::setPortNumber(qint16 port)
{
    if (port < 1)
        throw Error(QStringLiteral("there is no port %1: port numbers start at 1.").arg(port));
    if (isOpen())
        throw Error(
            cannotSet("CommPort", QString::number(port),
                      QStringLiteral("port %1 is already open; close it first").arg(portNumber_)));
    portNumber_ = port;
}

void SerialComm::setInputLength(qint16 length)
{
    if (length < 0)
        throw Error(
            cannotSet("InputLen", QString::number(length), QStringLiteral("it must be 0 or more")));
    inputLength_ = length;
    updateLeftoverMinimum();
}

void SerialComm::setReceiveThreshold(qint16 threshold)
{
    if (threshold < 0)
        throw Error(cannotSet("RThreshold", QString::number(threshold),
                              QStringLiteral("it must be 0 or more")));
    events_.setThreshold(threshold);
    updateLeftoverMinimum();
}

void SerialComm::setInputMode(InputMode mode)
{
    if (mode != InputMode::Text && mode != InputMode::Binary)
        throw Error(cannotSet("InputMode", QString::number(qint32(mode)),
                              QStringLiteral("it must be 0 (text) or 1 (binary)")));
    inputMode_ = mode;
    events_.setCharacterSize(mode == InputMode::Binary ? 2 : 1);
    updateLeftoverMinimum();
}

// A read that takes only part of the input leaves some for another event once a whole read's
// worth is waiting again.
void SerialComm::updateLeftoverMinimum()
{
    const qint64 threshold = receiveThreshold();
    events_.setLeftoverMinimum(inputLength_ == 0                 ? 0
                               : inputMode_ == InputMode::Binary ? std::max<qint64>(threshold, 2)
                                                                 : threshold);
}

void SerialComm::setSettings(const QString& settings)
{
    const LineSettings parsed = parseLineSettings(settings);
    if (isOpen()) {
        try {
            applySettings(parsed);
        } catch (const Error&) {
            // The device may have taken some of the new settings before refusing one: put back
            // the ones that settings() still reports.
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
                        .arg(portNumber_)
                        .arg(shownName(device_), quoted(toString(s)), why));
    }
    // Qt passes a byte with a parity or framing error on unchanged whenever it applies a parity,
    // where it could read as a digit or as the terminator. Marked, it is read as "?" instead.
    const QString why = terminal::markErrors(port_->handle());
    if (!why.isEmpty())
        throw Error(
            QStringLiteral("port %1 (%2) cannot mark characters received with parity errors: %3.")
                .arg(portNumber_)
                .arg(shownName(device_), why));
}

bool SerialComm::isOpen() const
{
    return port_->isOpen();
}

QString SerialComm::devicePath() const
{
    return isOpen() ? device_ : QString();
}

qint64 SerialComm::bytesWaiting() const
{
    return isOpen() ? input_.waiting() : 0;
}

void SerialComm::closeDevice()
{
    hangUpCheck_.stop();
    events_.setOpen(false);
    if (port_->isOpen())
        terminal::unlock(port_->handle());
    port_->close();
    input_.reset();
}

void SerialComm::setOpen(bool open)
{
    if (!open) {
        if (isOpen())
            closeDevice();
        return;
    }
    if (isOpen())
        throw Error(QStringLiteral("port %1 is already open.").arg(portNumber_));

    const QString path = ports::devicePath(portNumber_);
    if (path.isEmpty()) {
        const QString message =
            QStringLiteral("port %1 has no device: no entry com%1 in %2 names one. ")
                .arg(portNumber_)
                .arg(shownName(ports::portDirectory()));
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
    const ports::DeviceLook look(path);
    if (look.lockedElsewhere())
        failOpen(path, ports::inUse(path));
    if (!port_->open(QIODevice::ReadWrite)) {
        const QString reason =
            ports::openFailureReason(path, port_->error() == QSerialPort::PermissionError);
        const QString why = reason.isEmpty() ? port_->errorString() : reason;
        port_->clearError();
        failOpen(path, why);
    }
    // No one else reads the device while it is open here: programs that lock it (terminal
    // programs, ModemManager) are kept out by the lock, and all but root by the exclusive mode
    // that QSerialPort sets.
    if (!terminal::lock(port_->handle())) {
        port_->close();
        failOpen(path, ports::inUse(path));
    }
    events_.setOpen(true);
    hangUpCheck_.start();
    // The device may refuse a setting only now that it is open (an unusual baud rate, say).
    try {
        applySettings(settings_);
    } catch (...) {
        closeDevice();
        throw;
    }
}

void SerialComm::failOpen(const QString& path, const QString& reason) const
{
    const QString message = QStringLiteral("port %1 (%2) cannot be opened: %3. ")
                                .arg(portNumber_)
                                .arg(shownName(path), reason);
    throw Error(message + ports::presentDevices(), message + ports::presentDevices(kDevicesShown));
}

QVariant SerialComm::readInput()
{
    if (!isOpen())
        throw Error(QStringLiteral("Input cannot be read: port %1 is not open.").arg(portNumber_));
    if (inputMode_ == InputMode::Binary) // at least one whole character
        return input_.takeBinary(inputLength_ > 0 ? std::max(inputLength_ & ~1, 2) : 0);
    return input_.takeText(inputLength_);
}

void SerialComm::feedReceived(const QByteArray& bytes)
{
    if (!isOpen())
        throw Error(QStringLiteral("port %1 is not open.").arg(portNumber_));
    input_.feed(bytes);
    // Raised from the event loop, as for data from the device.
    QTimer::singleShot(0, &events_, &EventRaiser::received);
}

void SerialComm::onError(QSerialPort::SerialPortError error)
{
    // Failures while opening are reported by setOpen itself.
    if (!isOpen() || checkHangUp() || !isFatal(error))
        return;
    // After a hang-up Qt's error text may tell a stale errno, so a hang-up is named as such
    // above; any other failure by the system's reason.
    QString reason = port_->errorString();
    if (reason.isEmpty() || reason == u"Unknown error")
        reason = QStringLiteral("the device stopped answering");
    fail(reason);
}

bool SerialComm::checkHangUp()
{
    if (!isOpen() || !terminal::hungUp(port_->handle()))
        return false;
    fail(hangUpReason());
    return true;
}

void SerialComm::fail(const QString& reason)
{
    if (!events_.beginFailure())
        return;
    hangUpCheck_.stop();
    // Finish outside QSerialPort's own notification code, and only once: a hung-up device may
    // report the same error again at every turn of the event loop until it is closed.
    QTimer::singleShot(0, this, [this, reason, session = session_] {
        if (session == session_) // not a port closed and opened again meanwhile
            finishFailure(reason);
    });
}

void SerialComm::finishFailure(const QString& reason)
{
    if (!isOpen())
        return;
    failureMessage_ = QStringLiteral("Port %1 (%2) failed and was closed: %3. Press Close, "
                                     "reconnect the device and press Open.")
                          .arg(portNumber_)
                          .arg(shownName(device_), reason);
    // What arrived before the failure is delivered first.
    events_.finishFailure([this] {
        closeDevice();
        port_->clearError();
    });
}

} // namespace hexline
