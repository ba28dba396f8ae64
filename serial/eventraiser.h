#pragma once

#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>

namespace hexline {

class ReceiveBuffer;

// What the serial component reports through its communication event.
enum class CommEvent : qint16 {
    Receive = 2,       // data received
    DeviceError = 1010 // the device failed and was closed
};

// Decides when the serial component raises its communication event:
//  - Never while a handler of it runs. An event due meanwhile is noted and raised once the
//    handler has returned.
//  - A receive event when at least the receive threshold of bytes is waiting; never with a
//    threshold of 0. A failing device hands out whatever it delivered in one last event, below
//    the threshold too.
//  - After a receive event's handler, once more from the event loop when input is still due:
//    noted during the handler, arrived during it, or left because a read took only part.
//  - A device error event once, after the failing device was closed.
//  - A device that trickles raises it in pacing intervals: a handler that took little and left
//    no whole character waiting starts one (whether an odd binary byte waits depends only on
//    where the stream started), and a receive event due within it waits for its end, which
//    catchUp brings forward. Meanwhile the port's reader reads on without waking this thread
//    for each piece (PortReader).
class EventRaiser : public QObject {
    Q_OBJECT
public:
    explicit EventRaiser(const ReceiveBuffer& input, QObject* parent = nullptr);

    qint16 threshold() const { return threshold_; }
    void setThreshold(qint16 threshold) { threshold_ = threshold; }
    // Bytes of one received character: 2 in binary mode, where an odd byte alone waits for its
    // partner and is no reason to raise an event or to end pacing.
    void setCharacterSize(int bytes) { characterSize_ = bytes; }
    // Input left after a handler's read that is worth another event: 0 when a read takes all.
    void setLeftoverMinimum(qint64 minimum) { leftoverMinimum_ = minimum; }

    // How long a pacing interval lasts, as the window chooses: a little longer than a frame of
    // the screen, so that the frame (catchUp) ends it, or a few milliseconds. A shorter one
    // shortens the interval running too.
    void setPaceInterval(int ms);

    // The port opened (nothing is failing yet) or closed (nothing more is due from it).
    void setOpen(bool open);
    bool isOpen() const { return open_; }

    // Data came from the device, or was fed.
    void received() { raise(CommEvent::Receive); }
    // Ends a pacing interval early: the receive event for what came during it is raised before
    // this returns.
    void catchUp();

    // A device failure: true the first time, false while one is being handled already.
    bool beginFailure();
    // The failing device's last delivery, then close, then the device error event.
    template <typename Close> void finishFailure(const Close& close)
    {
        raise(CommEvent::Receive);
        close();
        raise(CommEvent::DeviceError);
    }

    // A pacing interval runs: news of input can wait for its end.
    bool paced() const { return pacing(); }

Q_SIGNALS:
    void raised(hexline::CommEvent event);
    // A pacing interval ended, after the receive event it let wait.
    void paceEnded();

private:
    void raise(CommEvent event);
    bool pacing() const;
    qint64 arrivedDuringHandler(qint64 waitingBefore, qint64 takenBefore) const;
    bool characterWaiting() const;
    void stopPacing();
    void endPacing();

    const ReceiveBuffer& input_;
    qint16 threshold_ = 0;
    qint64 leftoverMinimum_ = 0;
    int characterSize_ = 1;
    bool open_ = false;
    bool failing_ = false;
    bool inEvent_ = false;    // a handler is running
    bool raiseAgain_ = false; // a receive event came due while it ran
    bool errorAgain_ = false; // a device error event came due while it ran
    QTimer pace_;             // runs while an event waits for the interval's end
    QDeadlineTimer paceEnd_;
    int paceMs_ = 20;
    bool paced_ = false;
};

} // namespace hexline
