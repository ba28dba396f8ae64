#pragma once

#include "serial/eventraiser.h"
#include "serial/linesettings.h"
#include "serial/portreader.h"
#include "serial/receivebuffer.h"

#include <QObject>
#include <QVariant>

namespace hexline {

// The serial communications component: a port chosen by number, configured through a few
// properties, and one communication event. It wraps QSerialPort and never shows anything itself:
// a failing property set or read throws Error, and a device that fails while open is closed and
// reported once, by a device error event whose message failureMessage() holds. The device is
// read on a thread of its own (PortReader); everything else, the event included, happens on the
// thread that made the component.
class SerialComm : public QObject {
    Q_OBJECT
public:
    enum class InputMode : qint32 { Text = 0, Binary = 1 };

    explicit SerialComm(QObject* parent = nullptr);
    ~SerialComm() override;

    qint16 portNumber() const { return portNumber_; }
    void setPortNumber(qint16 port);
    // How many characters one read of input takes at most; 0 takes all that is waiting.
    qint16 inputLength() const { return inputLength_; }
    void setInputLength(qint16 length);
    // How many characters must be waiting before a receive event is raised; 0 raises none.
    qint16 receiveThreshold() const { return events_.threshold(); }
    void setReceiveThreshold(qint16 threshold);
    // Line settings as text, e.g. "9600,N,8,1"; applied at once to an open port.
    QString settings() const { return toString(settings_); }
    void setSettings(const QString& settings);
    InputMode inputMode() const { return inputMode_; }
    void setInputMode(InputMode mode);
    bool isOpen() const;
    // Opens the port with the current settings, or closes it.
    void setOpen(bool open);

    // Takes the waiting input: a QString in text mode, an even-sized QByteArray in binary mode.
    // Where the terminal marks them, a byte received with a parity or framing error comes as "?".
    QVariant readInput();
    // Bytes received and not yet taken by readInput.
    qint64 bytesWaiting() const;
    // Why the device failed, for the device error event.
    const QString& failureMessage() const { return failureMessage_; }
    // While input keeps coming, the receive event is raised at most every ms milliseconds: the
    // window's choice, as often as it paints. Input after a quiet spell raises it at once.
    void setPaceInterval(int ms) { reader_.setTellInterval(ms); }

    // For tests, benchmarks and simulations only; the program itself never calls these.
    // The device of the port while it is open.
    QString devicePath() const;
    // Puts bytes into the receive buffer as if the device had sent them; the receive event
    // follows from the event loop. For more input waiting at once than a pseudo-terminal holds.
    void feedReceived(const QByteArray& bytes);
    // Reads of the device so far.
    qint64 deviceReads() const { return reader_.deviceReads(); }

Q_SIGNALS:
    // The communication event, on the thread of the event loop, never while a handler of it is
    // still running.
    void commEvent(hexline::CommEvent event);

private:
    void arrived();
    void fail(const QString& reason);
    // On the reader's thread, while the caller waits:
    void openPort(QSerialPort& port, const QString& path);
    [[noreturn]] void failOpen(const QString& path, const QString& reason) const;
    void applySettings(QSerialPort& port, const LineSettings& settings);

    void updateLeftoverMinimum();
    void closeDevice();

    PortReader reader_;
    ReceiveBuffer input_;
    EventRaiser events_;
    bool open_ = false;
    qint16 portNumber_ = 1;
    qint16 inputLength_ = 0;
    InputMode inputMode_ = InputMode::Text;
    LineSettings settings_;
    QString device_; // the full path opened (QSerialPort's portName drops "/dev/")
    QString failureMessage_;
};

} // namespace hexline
