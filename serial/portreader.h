#pragma once

#include "serial/receivebuffer.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>

class QSerialPort;
class QSocketNotifier;
class QThread;

namespace hexline {

// Reads the device on a thread of its own, so that nothing the window's thread does (a Log
// waiting for a lock, a slow sync, a resize, a message box) holds up reading: a UART's receive
// buffer does not wait, it drops what it cannot hold. The QSerialPort lives wholly on that
// thread, which runs no event loop: the port only opens, configures and closes the device, and
// the reader reads the device's handle itself. The bytes wait here, as in a driver's input
// buffer, until the window's thread takes them; every handler still runs there, one at a time.
class PortReader : public QObject, public ReceiveSource {
    Q_OBJECT
public:
    explicit PortReader(QObject* parent = nullptr);
    ~PortReader() override;

    // Runs step with the port on the reader's thread and waits for it; what it throws is thrown
    // here. Closing the port through it discards what was read and not taken.
    void call(const std::function<void(QSerialPort&)>& step);

    // Bytes read and not yet taken, and taking them: for the window's thread.
    qint64 bytesAvailable() const override;
    qint64 read(char* data, qint64 max) override;

    // The least time from one arrived() to the next while bytes keep coming, as the window
    // chooses: how often it handles input, and so paints. Bytes that come after a quiet spell
    // longer than this are told at once.
    void setTellInterval(int ms) { tellMs_ = ms; }
    // Why the device failed, once, the first time after it failed; otherwise an empty string.
    QString takeFailure();

    // Reads of the device since the reader started, for tests of how often it reads.
    qint64 deviceReads() const { return deviceReads_; }

    // A trickling device is read this many ms apart; see run().
    static constexpr int kPauseMs = 10;
    // The most bytes held for the window's thread, as a driver's input buffer is bounded: a
    // device that sends faster than the window takes for longer than that waits in the terminal
    // (a UART drops what overflows it), rather than filling memory. 13 s at 1,200,000 chars/s.
    static constexpr qint64 kCapacity = qint64(16) << 20;
    static constexpr int kDefaultTellMs = 16;

Q_SIGNALS:
    // Bytes came since the last arrived(), or the device failed. Emitted on the thread that made
    // the reader, from its event loop.
    void arrived();

private:
    // The reader's loop, one per operating system: waits for the device and for calls.
    void run(QSerialPort& port);
    bool readDevice(int device, bool pausing, short revents, QDeadlineTimer& pause);
    // Wakes the loop for a call or to stop.
    void openWake();
    void wake();
    void closeWake();
    // Tells the thread that made the reader, from the reader's: through a descriptor it watches
    // (a stream of posted events would keep its timers from ever running under a flood).
    void notify();
    // Runs a waiting call, if any; false once the reader is to stop.
    bool runCall(QSerialPort& port);
    // Holds what was read for the window's thread; returns how much is held now.
    qint64 deliver(const char* data, qint64 n);
    // Tells of the bytes delivered since the last telling once the interval allows; the ms until
    // it does, or -1 when there is nothing to tell. Reader's thread only.
    int tellWhenDue();
    void fail(const QString& reason);

    mutable std::mutex mutex_;
    std::condition_variable called_;
    const std::function<void(QSerialPort&)>* step_ = nullptr; // the waiting call
    std::exception_ptr thrown_;
    bool stop_ = false;
    QByteArray bytes_;           // read and not yet taken
    qsizetype start_ = 0;        // bytes_ before this were taken
    bool untold_ = false;        // reader's thread only: bytes delivered since the last arrived()
    QDeadlineTimer nextTell_{0}; // reader's thread only
    std::atomic<int> tellMs_ = kDefaultTellMs;
    QString failure_; // why the device failed; empty while it has not
    bool failureTold_ = false;
    std::atomic<qint64> deviceReads_ = 0;
    int wakeFds_[2] = {-1, -1};   // where the system wakes the loop through a pipe
    int notifyFds_[2] = {-1, -1}; // and where the loop wakes the window's thread
    QSocketNotifier* notifier_ = nullptr;
    QThread* thread_;
};

} // namespace hexline
