#pragma once

#include "linesettings.h"
#include "parmrkdecoder.h"
#include "readpause.h"

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QVariant>

class QTimer;

namespace hexline {

// The serial communications component: a port chosen by number, configured through a few
// properties, and one communication event. It wraps QSerialPort and never shows anything itself:
// a failing property set or read throws Error, and a device that fails while open is reported
// once through deviceFailed().
class SerialComm : public QObject {
    Q_OBJECT
public:
    static constexpr qint16 kReceiveEvent = 2;        // CommEvent: data received
    static constexpr qint16 kDeviceErrorEvent = 1010; // CommEvent: the device failed and was closed
    static constexpr qint32 kTextMode = 0;
    static constexpr qint32 kBinaryMode = 1;
    // The component's stored input buffer size. It sizes only the first reservation of the read
    // buffer; what is waiting is never cut to it, for the receive buffer grows as needed.
    static constexpr int kInBufferSize = 1024;

    explicit SerialComm(QObject* parent = nullptr);
    ~SerialComm() override;

    void setCommPort(qint16 port);
    qint16 CommPort() const { return commPort_; }
    void setInputLen(qint16 length);
    qint16 InputLen() const { return inputLen_; }
    void setPortOpen(bool open);
    bool PortOpen() const;
    void setRThreshold(qint16 threshold);
    qint16 RThreshold() const { return rThreshold_; }
    void setSettings(const QString& settings);
    QString Settings() const { return toString(settings_); }
    void setInputMode(qint32 mode);
    qint32 InputMode() const { return inputMode_; }
    // Takes the waiting input: a QString in text mode, an even-sized QByteArray in binary mode.
    // On Linux a byte received with a parity or framing error comes as "?".
    QVariant Input();
    qint16 CommEvent() const { return commEvent_; }

    // Bytes received and not yet taken by Input.
    qint64 bytesWaiting() const;
    // Ends a pacing interval early: the receive event for what came during it is raised before
    // this returns. The window calls it as it paints, so that one wake-up handles and paints.
    void catchUp();
    // How long a trickling device's receive event may wait: a little longer than a frame of the
    // screen, so that the frame (catchUp) is what ends the wait when the window has one coming.
    void setPaceInterval(int ms) { paceMs_ = ms; }

    // For tests, benchmarks and simulations only; the program itself never calls these.
    // The device of the port while it is open.
    QString devicePath() const;
    // Puts bytes into the receive buffer as if the device had sent them; the receive event
    // follows from the event loop. For more input waiting at once than a pseudo-terminal holds.
    void feedReceived(const QByteArray& bytes);

Q_SIGNALS:
    // The communication event: read CommEvent to see what happened. Raised on the thread of
    // the event loop, never while a handler of it is still running.
    void OnComm();
    // The open device failed or disappeared; the port has been closed.
    void deviceFailed(const QString& message);

private:
    void onReadyRead();
    void startPacing();
    void stopPacing();
    void endPacing();
    void onError(QSerialPort::SerialPortError error);
    void raise(qint16 event);
    qint64 arrivedDuringHandler(qint64 waitingBefore, qint64 takenBefore) const;
    void finishFailure(const QString& reason);
    QString openFailure(const QString& path) const;
    [[noreturn]] void failOpen(const QString& path, const QString& reason) const;
    void applySettings(const LineSettings& settings);
    void markErrors();
    qint64 take(char* out, qint64 n);
    void closeDevice();

    QSerialPort* port_;
    qint16 commPort_ = 1;
    qint16 inputLen_ = 0;
    qint16 rThreshold_ = 0;
    qint32 inputMode_ = kTextMode;
    LineSettings settings_;
    QString device_; // the full path opened (QSerialPort's portName drops "/dev/")
    qint16 commEvent_ = 0;
    bool inEvent_ = false;    // an OnComm handler is running
    bool raiseAgain_ = false; // a receive event came due while it ran
    qint64 taken_ = 0;        // bytes that Input has removed from bytesWaiting so far
    quint64 session_ = 0;     // counts openings, so that a stale failure finds its port gone
    bool failing_ = false;    // a device failure is being handled
    bool exclusive_ = false;  // TIOCEXCL set on the open device, to be cleared at close
    QByteArray scratch_;      // reused read buffer for text mode
    QByteArray fed_;          // input given by feedReceived, taken before the device's
    ParmrkDecoder marks_;     // the device's error marks, decoded as its bytes are read
    int held_ = -1;           // binary mode: a decoded byte whose partner has not come yet
    // A device that trickles (a few characters every millisecond) raises the receive event at
    // most once per pacing interval instead of at every read; its bytes are still read as they
    // come. A device that floods raises it at once.
    QTimer* pace_;
    ReadPause* reads_; // a paced event's bytes mostly wait in the terminal, read a few ms apart
    int paceMs_ = 20;
    bool paced_ = false;
};

} // namespace hexline
