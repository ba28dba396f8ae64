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
// changes.
class FrameClock : public QObject {
    Q_OBJECT
public:
    static constexpr int kIntervalMs = 16; // the screen's own rate

    FrameClock(QWidget& window, std::function<void()> catchUp);

    int intervalMs() const { return interval_; }
    // A frame is due: the last one is at least an interval old.
    bool due() const;
    // Something changed: the next frame paints it.
    void request();
    // The frame, now.
    void paint();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget& window_;
    std::function<void()> catchUp_;
    QTimer timer_; // runs only while a change waits for the next frame
    QElapsedTimer sincePaint_;
    bool inFrame_ = false;
    int interval_ = kIntervalMs;
};

} // namespace hexline
