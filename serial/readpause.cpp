#include "serial/readpause.h"

#include "serial/terminal.h"

#include <QSerialPort>
#include <QSocketNotifier>

namespace hexline {

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
    if (!port_.isOpen() || terminal::bytesHeld(port_.handle()) < 0)
        return; // without that count, resume could not tell when it has read everything
    paused_ = true;
    setReading(false);
    timer_.start(kPauseMs);
}

void ReadPause::resume()
{
    if (!paused_)
        return;
    paused_ = false;
    timer_.stop();
    setReading(true);
    pulling_ = true;
    const auto held = [this] { return port_.isOpen() ? terminal::bytesHeld(port_.handle()) : 0; };
    lastPulled_ = held();
    while (held() > 0 && port_.waitForReadyRead(0)) {
    }
    pulling_ = false;
}

} // namespace hexline
