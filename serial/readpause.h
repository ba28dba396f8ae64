#pragma once

#include <QObject>
#include <QTimer>

class QSerialPort;

namespace hexline {

// Lets the bytes of a trickling device wait in the terminal for a few milliseconds instead of
// waking the program for every piece the adapter hands over (one every millisecond, say), then
// reads them all at once. Only where the terminal can be asked what it holds; elsewhere pause
// does nothing.
class ReadPause : public QObject {
    Q_OBJECT
public:
    static constexpr int kPauseMs = 10;

    explicit ReadPause(QSerialPort& port);

    // Stops reading until kPauseMs have passed or resume is called.
    void pause();
    // Reads what the terminal holds now (the port's readyRead comes while pulling() is true), and
    // goes on reading as bytes come.
    void resume();
    // Bytes the last resume found waiting in the terminal.
    qint64 lastPulled() const { return lastPulled_; }
    bool pulling() const { return pulling_; }

Q_SIGNALS:
    // A pause ran out and what came during it was read.
    void resumed();

private:
    void setReading(bool on);

    QSerialPort& port_;
    QTimer timer_;
    qint64 lastPulled_ = 0;
    bool paused_ = false;
    bool pulling_ = false;
};

} // namespace hexline
