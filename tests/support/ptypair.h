#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <termios.h>

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
