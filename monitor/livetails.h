#pragma once

#include <QString>

namespace hexline {

// Where receive processing shows the tail of the current line: the window's two live labels.
class LiveTails {
public:
    // A walk shows the tails at its end, and every frame's length while a long one goes on.
    static constexpr int kFrameMs = 16;

    virtual ~LiveTails() = default;
    // Sets both captions. walking: the walk goes on without returning to the event loop, so the
    // labels are repainted before this returns; otherwise they are painted with the rest.
    virtual void showTails(const QString& textTail, const QString& valueTail, bool walking) = 0;
};

} // namespace hexline
