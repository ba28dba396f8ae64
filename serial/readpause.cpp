#include "readpause.h"

#include <QSerialPort>
#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#endif

namespace hexline {

namespace {

// Bytes the terminal holds, not yet read.
qint64 inTerminal(QSerialPort& port)
{
#ifdef Q_OS_UNIX
    int n = 0;
    return port.isOpen() && ::ioctl(int(port.handle()), FIONREAD, &n) == 0 ? n : 0;
#else
    Q_UNUSED(port);
    return 0;
#endif
}

} // namespace

ReadPause::ReadPause(QSerialPort& port) : QObject(&port), port_(port)
{
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] {
        resume();
        Q_EMIT resumed();
    });
}

// QSerialPort reads the device when its read notifier, a child of the port, fires; disabled, the
// bytes stay in the terminal. The port enables it again itself whenever it wants more.
void ReadPause::setReading(bool on)
{
    const auto notifiers = port_.findChildren<QSocketNotifier*>(Qt::FindDirectChildrenOnly);
    for (QSocketNotifier* n : notifiers)
        if (n->type() == QSocketNotifier::Read)
            n->setEnabled(on);
}

void ReadPause::pause()
{
#ifdef Q_OS_UNIX
    paused_ = true;
    setReading(false);
    timer_.start(kPauseMs);
#endif
}

void ReadPause::resume()
{
    if (!paused_)
        return;
    paused_ = false;
    timer_.stop();
    setReading(true);
    pulling_ = true;
    lastPulled_ = inTerminal(port_);
    while (inTerminal(port_) > 0 && port_.waitForReadyRead(0)) {
    }
    pulling_ = false;
}

} // namespace hexline
