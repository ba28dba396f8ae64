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
// changes. It also says how long the device's input may wait before it is handled (pace).
//
// The rhythm follows the lines ended a second (counted by linesEnded):
//  - few enough to read one by one: every change at the screen's rate;
//  - more than anyone reads, but some milliseconds apart: the input is handled every few
//    milliseconds, and a frame comes when the first line handled since the last frame is due,
//    so that no line waits more than 50 ms from its last byte; the captions alone wait longer;
//  - so many that lines end at nearly every handling: frames at a fixed, longer interval (a
//    terminal's jump scroll), short enough that a line ended just after one waits no more than
//    50 ms.
class FrameClock : public QObject {
    Q_OBJECT
public:
    static constexpr int kIntervalMs = 16; // the screen's own rate

    FrameClock(QWidget& window, std::function<void()> catchUp, std::function<qint64()> linesEnded);

    // How long input may wait in the device before it is handled, when no frame handles it
    // sooner.
    int paceMs() const;
    // A frame is due: what changed has waited long enough, and none is being painted.
    bool due() const;
    // Something other than the lists changed: the next frame paints it.
    void request();
    // The lists changed: a frame paints them in time for the lines' 50 ms.
    void requestLines();
    // The frame, now.
    void paint();

Q_SIGNALS:
    void paceChanged(int ms);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Rhythm { Screen, Lines, Jump };

    // How long a change other than a new line waits for its frame: in the Lines rhythm, the
    // captions' wait.
    int intervalMs() const;
    void schedule(qint64 ms);
    void framed();
    void countLines();

    QWidget& window_;
    std::function<void()> catchUp_;
    std::function<qint64()> linesEnded_;
    QTimer timer_; // runs only while a change waits for the next frame
    QElapsedTimer sincePaint_;
    QElapsedTimer sinceLines_; // the first change of the lists since the last frame
    bool inFrame_ = false;
    Rhythm rhythm_ = Rhythm::Screen;
    QElapsedTimer sinceCount_; // the lines ended since then decide the rhythm
    qint64 linesAtCount_ = 0;
};

} // namespace hexline
