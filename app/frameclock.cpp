#include "app/frameclock.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

#include <algorithm>

namespace hexline {

namespace {

// Lines a second that a person can still follow one by one; beyond them frames come less often.
constexpr int kReadableLinesPerSecond = 20;
// The stretch over which lines are counted to choose the interval.
constexpr int kCountMs = 250;

} // namespace

FrameClock::FrameClock(QWidget& window, std::function<void()> catchUp,
                       std::function<qint64()> linesEnded)
    : window_(window), catchUp_(std::move(catchUp)), linesEnded_(std::move(linesEnded))
{
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &FrameClock::paint);
    sinceCount_.start();
    window_.installEventFilter(this);
}

bool FrameClock::due() const
{
    return !inFrame_ && (!sincePaint_.isValid() || sincePaint_.elapsed() >= interval_);
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
    // The catch-up's own receive event finds a frame due: this frame paints what it changes.
    if (inFrame_)
        return;
    inFrame_ = true;
    // Frames are an interval apart from start to start, however long the catch-up takes: what
    // came just after one frame's catch-up waits no longer than an interval for the next.
    sincePaint_.start();
    catchUp_();
    timer_.stop(); // whatever the catch-up asked for is painted now
    countLines();
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
    if (!inFrame_)
        sincePaint_.start();
    return false;
}

void FrameClock::countLines()
{
    const qint64 elapsed = sinceCount_.elapsed();
    if (elapsed < kCountMs)
        return;
    const qint64 lines = linesEnded_();
    const int interval = (lines - linesAtCount_) * 1000 > kReadableLinesPerSecond * elapsed
                             ? kJumpIntervalMs
                             : kIntervalMs;
    linesAtCount_ = lines;
    sinceCount_.start();
    if (interval != interval_) {
        interval_ = interval;
        Q_EMIT intervalChanged(interval_);
    }
}

} // namespace hexline
