#pragma once

#include <QString>

namespace hexline {

// Where receive processing shows the tail of the current line: the window's two live labels.
class LiveTails {
public:
    virtual ~LiveTails() = default;
    // Sets both captions and repaints both labels before returning.
    virtual void showTails(const QString& textTail, const QString& valueTail) = 0;
    // True when the screen is due a new frame: a long receive event shows the tails then, as
    // well as once it ends. Without a screen to keep live, only then.
    virtual bool frameDue() const { return false; }
};

} // namespace hexline
