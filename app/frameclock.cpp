#include "app/frameclock.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

#include <algorithm>

namespace hexline {

namespace {

// Lines a second that a person can still follow one by one; beyond them frames come less often.
constexpr int kReadableLinesPerSecond = 20;
// Beyond this many lines a second a line ends at nearly every handling of the input, and frames
// timed by the lines would come as often as at the jump interval, at the cost of the handlings.
constexpr int kTimedLinesPerSecond = 100;
// The stretch over which lines are counted to choose the rhythm.
constexpr int kCountMs = 250;

// A line is on the screen within 50 ms of its last byte. Of them, this much is kept for a timer
// that fires late on a busy machine and for the frame's own work before it paints.
constexpr int kLineLagMs = 50;
constexpr int kMarginMs = 14;
// Jump scroll: a line ended just after one frame's catch-up waits for the next.
constexpr int kJumpIntervalMs = kLineLagMs - kMarginMs;
// Lines timed: the input is handled this often, and a line, handled at most this long after its
// last byte, waits the rest for its frame. The captions alone wait longer: they change faster
// than anyone reads them, and a frame for each change is what timing by the lines saves.
constexpr int kHandleMs = 9;
constexpr int kLineWaitMs = kJumpIntervalMs - kHandleMs;
constexpr int kCaptionWaitMs = 100;
// Otherwise input waits a little longer than a frame, so that the frame, which ends the wait
// early, is what handles it.
constexpr int kPaceSlackMs = 4;

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

int FrameClock::intervalMs() const
{
    switch (rhythm_) {
    case Rhythm::Screen:
        return kIntervalMs;
    case Rhythm::Lines:
        return kCaptionWaitMs;
    case Rhythm::Jump:
        break;
    }
    return kJumpIntervalMs;
}

int FrameClock::paceMs() const
{
    return rhythm_ == Rhythm::Lines ? kHandleMs : intervalMs() + kPaceSlackMs;
}

bool FrameClock::due() const
{
    if (inFrame_)
        return false;
    if (!sincePaint_.isValid())
        return true;
    if (rhythm_ == Rhythm::Lines && sinceLines_.isValid() && sinceLines_.elapsed() >= kLineWaitMs)
        return true;
    return sincePaint_.elapsed() >= intervalMs();
}

void FrameClock::schedule(qint64 ms)
{
    ms = std::max<qint64>(0, ms);
    if (timer_.isActive() && timer_.remainingTime() <= ms)
        return; // an earlier frame paints this too
    timer_.start(int(ms));
}

void FrameClock::request()
{
    const qint64 since = sincePaint_.isValid() ? sincePaint_.elapsed() : intervalMs();
    schedule(intervalMs() - since);
}

void FrameClock::requestLines()
{
    if (!sinceLines_.isValid())
        sinceLines_.start();
    if (rhythm_ == Rhythm::Lines)
        schedule(kLineWaitMs - sinceLines_.elapsed());
    else
        request();
}

void FrameClock::framed()
{
    sincePaint_.start();
    sinceLines_.invalidate();
}

void FrameClock::paint()
{
    // The catch-up's own receive event finds a frame due: this frame paints what it changes.
    if (inFrame_)
        return;
    inFrame_ = true;
    // Frames are an interval apart from start to start, however long the catch-up takes: what
    // came just after one frame's catch-up waits no longer than an interval for the next.
    framed();
    catchUp_();
    sinceLines_.invalidate(); // the lines the catch-up added are painted now
    timer_.stop();            // and whatever it asked for
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
        framed();
    return false;
}

void FrameClock::countLines()
{
    const qint64 elapsed = sinceCount_.elapsed();
    if (elapsed < kCountMs)
        return;
    const qint64 lines = linesEnded_();
    const qint64 ended = (lines - linesAtCount_) * 1000;
    const Rhythm rhythm = ended <= kReadableLinesPerSecond * elapsed ? Rhythm::Screen
                          : ended <= kTimedLinesPerSecond * elapsed  ? Rhythm::Lines
                                                                     : Rhythm::Jump;
    linesAtCount_ = lines;
    sinceCount_.start();
    const int pace = paceMs();
    rhythm_ = rhythm;
    if (paceMs() != pace)
        Q_EMIT paceChanged(paceMs());
}

} // namespace hexline
