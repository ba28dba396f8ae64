#include "serial/eventraiser.h"

#include "serial/receivebuffer.h"

#include <QScopedValueRollback>

#include <utility>

namespace hexline {

namespace {

// Receive events that take less than this start a pacing interval: a little longer than a frame
// of the screen, whose painting ends it early (catchUp) when the window has something to show,
// so that what the window shows is no older than it would be otherwise.
constexpr qint64 kPaceBelow = 2048;

} // namespace

EventRaiser::EventRaiser(const ReceiveBuffer& input, QObject* parent)
    : QObject(parent), input_(input)
{
    pace_.setSingleShot(true);
    pace_.setTimerType(Qt::PreciseTimer);
    connect(&pace_, &QTimer::timeout, this, &EventRaiser::endPacing);
}

void EventRaiser::setOpen(bool open)
{
    open_ = open;
    stopPacing();
    raiseAgain_ = false; // nothing is due from a closed port, nor from an earlier opening
    if (open)
        failing_ = errorAgain_ = false;
}

void EventRaiser::setPaceInterval(int ms)
{
    paceMs_ = ms;
    // The window wants to know of input sooner: what came during the running interval is not
    // held for the rest of it.
    if (pace_.isActive() && pace_.remainingTime() > ms)
        pace_.start(ms);
    if (paced_ && paceEnd_.remainingTime() > ms)
        paceEnd_ = QDeadlineTimer(ms, Qt::PreciseTimer);
}

// An interval's timer runs only while an event waits for its end: an interval that nothing came
// in ends without waking the program.
bool EventRaiser::pacing() const
{
    return paced_ && (pace_.isActive() || !paceEnd_.hasExpired());
}

bool EventRaiser::beginFailure()
{
    if (failing_)
        return false;
    failing_ = true;
    return true;
}

// Input that came while a handler ran: what is waiting now, less what was waiting before and
// the handler did not take. Input that came while a handler ran without an event loop of its
// own is told once the handler has returned, or is found by this count.
qint64 EventRaiser::arrivedDuringHandler(qint64 waitingBefore, qint64 takenBefore) const
{
    return input_.waiting() - (waitingBefore - (input_.taken() - takenBefore));
}

void EventRaiser::raise(CommEvent event)
{
    if (inEvent_) {
        (event == CommEvent::Receive ? raiseAgain_ : errorAgain_) = true;
        return;
    }
    const bool receive = event == CommEvent::Receive;
    if (receive && pacing() && !failing_) {
        if (!pace_.isActive())
            pace_.start(std::max<qint64>(paceEnd_.remainingTime(), 0));
        return;
    }
    if (receive && (threshold_ == 0 || !open_ || input_.waiting() < (failing_ ? 1 : threshold_)))
        return;
    const qint64 waitingBefore = input_.waiting();
    const qint64 takenBefore = input_.taken();
    {
        // A handler that throws is the window's to report; the flag comes down all the same.
        const QScopedValueRollback inHandler(inEvent_, true);
        Q_EMIT raised(event);
    }
    if (std::exchange(errorAgain_, false)) {
        raise(CommEvent::DeviceError);
        return;
    }
    if (!receive || !open_ || failing_)
        return;
    if (input_.taken() - takenBefore < kPaceBelow && !characterWaiting()) {
        paced_ = true;
        paceEnd_ = QDeadlineTimer(paceMs_, Qt::PreciseTimer);
    }
    if (raiseAgain_ || arrivedDuringHandler(waitingBefore, takenBefore) > 0 ||
        (leftoverMinimum_ > 0 && input_.waiting() >= leftoverMinimum_)) {
        raiseAgain_ = false;
        QTimer::singleShot(0, this, [this] { raise(CommEvent::Receive); });
    }
}

bool EventRaiser::characterWaiting() const
{
    return input_.waiting() >= characterSize_;
}

void EventRaiser::stopPacing()
{
    paced_ = false;
    pace_.stop();
}

void EventRaiser::catchUp()
{
    if (pacing() && !inEvent_)
        endPacing();
}

void EventRaiser::endPacing()
{
    stopPacing();
    if (open_ && characterWaiting())
        raise(CommEvent::Receive);
    Q_EMIT paceEnded();
}

} // namespace hexline
