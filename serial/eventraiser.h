#pragma once

#include <QObject>

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
//    noted during the handler, or left because a read took only part. Input that arrives while a
//    handler runs is told by the port's reader once the handler has returned.
//  - A device error event once, after the failing device was closed.
class EventRaiser : public QObject {
    Q_OBJECT
public:
    explicit EventRaiser(const ReceiveBuffer& input, QObject* parent = nullptr);

    qint16 threshold() const { return threshold_; }
    void setThreshold(qint16 threshold) { threshold_ = threshold; }
    // Input left after a handler's read that is worth another event: 0 when a read takes all.
    void setLeftoverMinimum(qint64 minimum) { leftoverMinimum_ = minimum; }

    // The port opened (nothing is failing yet) or closed (nothing more is due from it).
    void setOpen(bool open);
    bool isOpen() const { return open_; }

    // Data came from the device, or was fed.
    void received() { raise(CommEvent::Receive); }

    // A device failure: true the first time, false while one is being handled already.
    bool beginFailure();
    // The failing device's last delivery, then close, then the device error event.
    template <typename Close> void finishFailure(const Close& close)
    {
        raise(CommEvent::Receive);
        close();
        raise(CommEvent::DeviceError);
    }

Q_SIGNALS:
    void raised(hexline::CommEvent event);

private:
    void raise(CommEvent event);

    const ReceiveBuffer& input_;
    qint16 threshold_ = 0;
    qint64 leftoverMinimum_ = 0;
    bool open_ = false;
    bool failing_ = false;
    bool inEvent_ = false;    // a handler is running
    bool raiseAgain_ = false; // a receive event came due while it ran
    bool errorAgain_ = false; // a device error event came due while it ran
};

} // namespace hexline
