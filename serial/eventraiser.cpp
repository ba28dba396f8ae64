#include "serial/eventraiser.h"

#include "serial/receivebuffer.h"

#include <QScopedValueRollback>
#include <QTimer>

#include <utility>

namespace hexline {

EventRaiser::EventRaiser(const ReceiveBuffer& input, QObject* parent)
    : QObject(parent), input_(input)
{
}

void EventRaiser::setOpen(bool open)
{
    open_ = open;
    raiseAgain_ = false; // nothing is due from a closed port, nor from an earlier opening
    if (open)
        failing_ = errorAgain_ = false;
}

bool EventRaiser::beginFailure()
{
    if (failing_)
        return false;
    failing_ = true;
    return true;
}

void EventRaiser::raise(CommEvent event)
{
    if (inEvent_) {
        (event == CommEvent::Receive ? raiseAgain_ : errorAgain_) = true;
        return;
    }
    const bool receive = event == CommEvent::Receive;
    if (receive && (threshold_ == 0 || !open_ || input_.waiting() < (failing_ ? 1 : threshold_)))
        return;
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
    if (std::exchange(raiseAgain_, false) ||
        (leftoverMinimum_ > 0 && input_.waiting() >= leftoverMinimum_))
        QTimer::singleShot(0, this, [this] { raise(CommEvent::Receive); });
}

} // namespace hexline
