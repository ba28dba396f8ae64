#include "serial/readpause.h"

#include "serial/terminal.h"

#include <QSerialPort>
#include <QSocketNotifier>

namespace hexline {

qint64 PausablePort::readData(char* data, qint64 maxSize)
{
    // The bytes come into the buffer as the device sends them; this only turns reading on again.
    return pause_ && pause_->paused() ? 0 : QSerialPort::readData(data, maxSize);
}

ReadPause::ReadPause(PausablePort& port) : QObject(&port), port_(port)
{
    port_.pause_ = this;
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] {
        pull();
        Q_EMIT pulled();
        if (!timer_.isActive()) // not paused again
            resume();
    });
}

// QSerialPort reads the device when its read notifier, a child of the port made when it opens,
// fires; disabled, the bytes stay in the terminal. Switching it wakes the event loop: it is
// switched only when a pause begins or ends, never between two steps of one, and the port holds
// off from switching it meanwhile.
bool ReadPause::setReading(bool on)
{
    if (!notifier_) {
        const auto notifiers = port_.findChildren<QSocketNotifier*>(Qt::FindDirectChildrenOnly);
        for (QSocketNotifier* n : notifiers)
            if (n->type() == QSocketNotifier::Read)
                notifier_ = n;
    }
    if (notifier_)
        notifier_->setEnabled(on);
    return notifier_ != nullptr;
}

void ReadPause::pause()
{
    if (!port_.isOpen())
        return;
    // Without the count, pull could not tell that something waits without waiting for it.
    if (!paused_ && terminal::bytesHeld(port_.handle()) < 0)
        return;
    if (!setReading(false))
        return;
    paused_ = true;
    timer_.start(kPauseMs);
}

void ReadPause::pull()
{
    lastPulled_ = 0;
    if (!port_.isOpen() || terminal::bytesHeld(port_.handle()) <= 0)
        return; // a hang-up with nothing waiting is found once reading goes on
    pulling_ = true;
    const qint64 before = port_.bytesAvailable();
    // One read takes what a pause lets wait, many times over.
    if (port_.waitForReadyRead(0))
        lastPulled_ = port_.bytesAvailable() - before;
    pulling_ = false;
}

void ReadPause::resume()
{
    if (!paused_)
        return;
    paused_ = false;
    timer_.stop();
    // What waits in the terminal wakes the read notifier at once.
    if (port_.isOpen())
        setReading(true);
}

} // namespace hexline
