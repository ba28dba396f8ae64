#pragma once

#include <QString>

namespace hexline {

// Where receive processing shows the tail of the current line: the window's two live labels.
class LiveTails {
public:
    virtual ~LiveTails() = default;
    // Sets both captions and repaints both labels before returning.
    virtual void showTails(const QString& textTail, const QString& valueTail) = 0;
};

} // namespace hexline
