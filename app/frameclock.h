#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

class QWidget;

namespace hexline {

// The rhythm in which a window is painted: whatever changes between two frames is painted
// together at the next one, and a paint asked for sooner waits for it. Before each frame it runs
// the catch-up, which handles what the device sent meanwhile and tells the views of the lists'
// changes. While more lines arrive than anyone can read (counted by linesEnded),
// frames come less often (a terminal's jump scroll), never so seldom that a line ended just after
// one waits for more than 50 ms.
class FrameClock : public QObject {
    Q_OBJECT
public:
    static constexpr int kIntervalMs = 16;     // the screen's own rate
    static constexpr int kJumpIntervalMs = 36; // lines faster than anyone reads them

    FrameClock(QWidget& window, std::function<void()> catchUp, std::function<qint64()> linesEnded);

    int intervalMs() const { return interval_; }
    // A frame is due: the last one is at least an interval old, and none is being painted.
    bool due() const;
    // Something changed: the next frame paints it.
    void request();
    // The frame, now.
    void paint();

Q_SIGNALS:
    void intervalChanged(int ms);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void countLines();

    QWidget& window_;
    std::function<void()> catchUp_;
    std::function<qint64()> linesEnded_;
    QTimer timer_; // runs only while a change waits for the next frame
    QElapsedTimer sincePaint_;
    bool inFrame_ = false;
    int interval_ = kIntervalMs;
    QElapsedTimer sinceCount_; // the lines ended since then decide the interval
    qint64 linesAtCount_ = 0;
};

} // namespace hexline
