#pragma once

#include <QImage>
#include <QRawFont>
#include <QRgb>

#include <array>
#include <unordered_map>
#include <vector>

class QGlyphRun;
class QPainter;
class QPointF;

namespace hexline {

// Draws runs of glyphs as Qt's raster engine draws text antialiased in grey, for a fraction of
// its cost: Qt blends glyph by glyph through its whole text machinery, and a busy line's rows and
// captions are nothing but short runs. The first time a glyph is needed, Qt draws it at each
// sub-pixel place, apart, and what it leaves is kept as the glyph's coverage there; a run is
// composed from these stamps and blended as one image.
// The first time a pen colour is used on a kind of image, Qt draws the run and the stamps are
// trusted with that colour only if they give the very same pixels. Where they do not (sub-pixel
// antialiasing, gamma-corrected blending) or that cannot be checked (a transform that scales, a
// translucent painter, a device that is not an image), Qt draws.
class GlyphStamps {
public:
    // As QPainter::drawGlyphRun. True when the run was drawn from stamps.
    bool draw(QPainter& painter, const QPointF& origin, const QGlyphRun& run);

private:
    struct Stamp {
        qint16 x = 0, y = 0; // top left, from the glyph's whole-pixel place
        quint16 width = 0, height = 0;
        quint32 at = 0; // in coverage_
    };
    struct Placed {
        const Stamp* stamp;
        int x, y; // on the device
    };

    static constexpr int kPlaces = 64; // sub-pixel places across a pixel, as Qt takes positions
    using Places = std::array<Stamp, kPlaces>;

    const Stamp& stamp(quint32 glyph, int xFraction, int yFraction);
    Places capture(quint32 glyph, int yFraction);
    void compose(const std::vector<Placed>& placed, QRect bounds, QRgb color);

    QRawFont font_;
    std::unordered_map<quint64, Places> stamps_; // by glyph and vertical place, in 1/64 pixel
    std::vector<uchar> coverage_;
    QImage scratch_;  // where Qt draws a glyph to be captured
    QImage composed_; // a run, premultiplied in the pen's colour
    QRgb tableColor_ = 0;
    bool tabled_ = false;
    quint32 colored_[256] = {}; // the pen's colour at each coverage
    // Whether stamps drew as Qt, by colour and image format.
    std::unordered_map<quint64, bool> trusted_;
};

} // namespace hexline
