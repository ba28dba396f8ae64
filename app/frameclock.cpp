#include "frameclock.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

#include <algorithm>

namespace hexline {

FrameClock::FrameClock(QWidget& window, std::function<void()> catchUp)
    : QObject(&window), window_(window), catchUp_(std::move(catchUp))
{
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &FrameClock::paint);
    window_.installEventFilter(this);
}

bool FrameClock::due() const
{
    return !sincePaint_.isValid() || sincePaint_.elapsed() >= interval_;
}

void FrameClock::request()
{
    if (timer_.isActive())
        return;
    const qint64 since = sincePaint_.isValid() ? sincePaint_.elapsed() : interval_;
    timer_.start(int(std::max<qint64>(0, interval_ - since)));
}

void FrameClock::paint()
{
    timer_.stop();
    catchUp_();
    inFrame_ = true;
    QEvent paint(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(&window_, &paint);
    inFrame_ = false;
}

bool FrameClock::eventFilter(QObject* watched, QEvent* event)
{
    // The window is painted at most once per frame: a paint asked for sooner waits for the next
    // frame. Exposures do not come this way and are painted at once.
    if (watched != &window_ || event->type() != QEvent::UpdateRequest)
        return false;
    if (!inFrame_ && !due()) {
        request();
        return true;
    }
    sincePaint_.start();
    return false;
}

} // namespace hexline
