#include "serial/serialcomm.h"

#include "errors/error.h"
#include "serial/portmap.h"
#include "serial/terminal.h"

#include <QSerialPort>
#include <QTimer>

namespace hexline {

namespace {

QString cannotSet(const char* name, const QString& value, const QString& why)
{
    return QStringLiteral("%1 cannot be set to %2: %3.").arg(QLatin1String(name), value, why);
}

// At most this many devices are named in a message box; standard error gets them all.
constexpr int kDevicesShown = 10;

} // namespace

SerialComm::SerialComm(QObject* parent) : QObject(parent), input_(reader_), events_(input_)
{
    input_.setDecodeMarks(terminal::marksErrors());
    connect(&reader_, &PortReader::arrived, this, &SerialComm::arrived);
    connect(&events_, &EventRaiser::raised, this, &SerialComm::commEvent);
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
    if (isOpen())
        reader_.call([&](QSerialPort& port) {
            try {
                applySettings(port, parsed);
            } catch (const Error&) {
                // The device may have taken some of the new settings before refusing one: put
                // back the ones that settings() still reports.
                try {
                    applySettings(port, settings_);
                } catch (const Error&) {
                }
                throw;
            }
        });
    settings_ = parsed;
}

void SerialComm::applySettings(QSerialPort& port, const LineSettings& s)
{
    const bool ok = port.setBaudRate(s.baudRate) && port.setParity(s.parity) &&
                    port.setDataBits(s.dataBits) && port.setStopBits(s.stopBits) &&
                    port.setFlowControl(QSerialPort::NoFlowControl);
    if (!ok) {
        const QString why = port.errorString();
        port.clearError();
        throw Error(QStringLiteral("port %1 (%2) does not accept the line settings %3: %4.")
                        .arg(portNumber_)
                        .arg(shownName(device_), quoted(toString(s)), why));
    }
    // Qt passes a byte with a parity or framing error on unchanged whenever it applies a parity,
    // where it could read as a digit or as the terminator. Marked, it is read as "?" instead.
    const QString why = terminal::markErrors(port.handle());
    if (!why.isEmpty())
        throw Error(
            QStringLiteral("port %1 (%2) cannot mark characters received with parity errors: %3.")
                .arg(portNumber_)
                .arg(shownName(device_), why));
}

bool SerialComm::isOpen() const
{
    return open_;
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
    events_.setOpen(false);
    reader_.call([](QSerialPort& port) {
        if (port.isOpen())
            terminal::unlock(port.handle());
        port.close();
        port.clearError();
    });
    open_ = false;
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

    device_ = path;
    reader_.call([&](QSerialPort& port) { openPort(port, path); });
    open_ = true;
    events_.setOpen(true);
}

void SerialComm::openPort(QSerialPort& port, const QString& path)
{
    port.setPortName(path);
    port.setBaudRate(settings_.baudRate);
    port.setParity(settings_.parity);
    port.setDataBits(settings_.dataBits);
    port.setStopBits(settings_.stopBits);
    port.setFlowControl(QSerialPort::NoFlowControl);
    port.clearError();
    const ports::DeviceLook look(path);
    if (look.lockedElsewhere())
        failOpen(path, ports::inUse(path));
    if (!port.open(QIODevice::ReadWrite)) {
        const QString reason =
            ports::openFailureReason(path, port.error() == QSerialPort::PermissionError);
        const QString why = reason.isEmpty() ? port.errorString() : reason;
        port.clearError();
        failOpen(path, why);
    }
    // No one else reads the device while it is open here: programs that lock it (terminal
    // programs, ModemManager) are kept out by the lock, and all but root by the exclusive mode
    // that QSerialPort sets.
    if (!terminal::lock(port.handle())) {
        port.close();
        failOpen(path, ports::inUse(path));
    }
    // The device may refuse a setting only now that it is open (an unusual baud rate, say).
    try {
        applySettings(port, settings_);
    } catch (...) {
        terminal::unlock(port.handle());
        port.close();
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

// The reader read something or found the device failing. Bytes read before a failure come first,
// in the failure's last receive event.
void SerialComm::arrived()
{
    if (!isOpen())
        return; // news from a port closed since
    const QString failure = reader_.takeFailure();
    if (failure.isEmpty())
        events_.received();
    else
        fail(failure);
}

void SerialComm::fail(const QString& reason)
{
    if (!events_.beginFailure())
        return;
    failureMessage_ = QStringLiteral("Port %1 (%2) failed and was closed: %3. Press Close, "
                                     "reconnect the device and press Open.")
                          .arg(portNumber_)
                          .arg(shownName(device_), reason);
    // What arrived before the failure is delivered first.
    events_.finishFailure([this] { closeDevice(); });
}

} // namespace hexline
