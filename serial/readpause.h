#pragma once

#include <QObject>
#include <QPointer>
#include <QSerialPort>
#include <QTimer>

class QSocketNotifier;

namespace hexline {

class ReadPause;

// A serial port whose reading a ReadPause can hold off. A read that empties the port's buffer
// has QSerialPort turn reading on again (QIODevice calls readData for it), and every such switch
// wakes the event loop; while reading is held off, turning it on is left to the pause.
class PausablePort : public QSerialPort {
public:
    using QSerialPort::QSerialPort;

protected:
    qint64 readData(char* data, qint64 maxSize) override;

private:
    friend class ReadPause;
    const ReadPause* pause_ = nullptr; // a child of the port: it lasts as long as the port reads
};

// Lets the bytes of a trickling device wait in the terminal for a few milliseconds instead of
// waking the program for every piece the adapter hands over (one every millisecond, say), then
// reads them all at once. While paused, the program wakes only every kPauseMs. Only where the
// terminal can be asked what it holds; elsewhere pause does nothing.
class ReadPause : public QObject {
    Q_OBJECT
public:
    static constexpr int kPauseMs = 10;

    explicit ReadPause(PausablePort& port);

    // Stops reading as bytes come; in kPauseMs what came meanwhile is pulled and pulled() is
    // emitted. Unless pause is called again then, reading goes on as bytes come.
    void pause();
    // Reads what the terminal holds now; a pause goes on. The port's readyRead comes while
    // pulling() is true.
    void pull();
    // Ends a pause: reads as bytes come, starting with what waits.
    void resume();

    bool paused() const { return paused_; }
    bool pulling() const { return pulling_; }
    // Bytes the last pull found waiting in the terminal.
    qint64 lastPulled() const { return lastPulled_; }

Q_SIGNALS:
    void pulled();

private:
    bool setReading(bool on);

    PausablePort& port_;
    QPointer<QSocketNotifier> notifier_;
    QTimer timer_;
    qint64 lastPulled_ = 0;
    bool paused_ = false;
    bool pulling_ = false;
};

} // namespace hexline
