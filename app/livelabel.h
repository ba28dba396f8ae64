#pragma once

#include "app/asciiglyphs.h"

#include <QLabel>

namespace hexline {

// A label that shows a line as it is being received. It paints plain text at the top left as
// QLabel does, placing the glyphs itself when the line is printable ASCII: a caption that changes
// at every frame is not shaped anew each time, and a very long one costs only what is in sight.
class LiveLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    AsciiGlyphs ascii_;
};

} // namespace hexline
