#pragma once

#include "app/asciiglyphs.h"
#include "app/laidline.h"

#include <QLabel>

namespace hexline {

// A label that shows a line as it is being received. It paints plain text at the top left as
// QLabel does, placing the glyphs itself when the line is printable ASCII: a caption that changes
// at every frame is not shaped anew each time, and a very long one costs only what is in sight.
// Any caption stands on the font's baseline, so that a character from a taller fallback font does
// not make the line jump.
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
