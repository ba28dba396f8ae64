#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <atomic>
#include <termios.h>
#include <thread>

namespace hexline::test {

// A pseudo-terminal pair standing in for a serial device: the program opens the slave side as a
// port, the test plays the device on the master side.
class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool isValid() const { return master_ >= 0; }
    const QString& slavePath() const { return slavePath_; }
    // Writes everything, waiting while the terminal's buffer is full.
    bool write(const QByteArray& bytes);
    // Writes what fits, waiting at most timeoutMs for room: the count written, 0 when the
    // terminal stayed full, -1 on a failure.
    qsizetype writeSome(const char* data, qsizetype size, int timeoutMs);
    // Closes the master side: the device hangs up, as an unplugged adapter does.
    void hangUp();
    // The line settings of the terminal as the program left them (all zero when invalid).
    termios attributes() const;

private:
    int master_ = -1;
    int slave_ = -1; // held open so that the slave stays usable until the program opens it
    QString slavePath_;
};

// Plays a device on a real serial line, whose sender never waits: from a thread of its own,
// every millisecond, it writes what is due of ratePerSecond characters of lines "0123456789ABCEF"
// ended by "D", for durationMs, without waiting. What the terminal refuses is lost, as a UART's
// receiver loses what overflows it; the pty's own writer would wait instead and hide the loss.
class DroppingDevice {
public:
    // The line written again and again; with nothing refused, the stream is its repetition.
    static inline const QByteArray kLine = QByteArrayLiteral("0123456789ABCEFD");

    DroppingDevice(Pty& device, double ratePerSecond, int durationMs);
    ~DroppingDevice() { wait(); }
    DroppingDevice(const DroppingDevice&) = delete;
    DroppingDevice& operator=(const DroppingDevice&) = delete;

    void wait(); // until the duration is over
    bool isDone() const { return done_; }
    qint64 accepted() const { return accepted_; }
    qint64 refused() const { return refused_; }

private:
    std::atomic<qint64> accepted_{0};
    std::atomic<qint64> refused_{0};
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// A configuration directory of its own for the test (XDG_CONFIG_HOME), holding the port
// directory, so that port N can be attached to any device.
class PortDirectory {
public:
    PortDirectory();
    bool isValid() const { return dir_.isValid(); }
    // Makes port N open device (a symbolic link comN); replaces an earlier link.
    bool attach(int port, const QString& device);
    void detach(int port);
    QString path() const;

private:
    QTemporaryDir dir_;
};

} // namespace hexline::test
