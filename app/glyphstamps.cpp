#include "app/glyphstamps.h"

#include <QGlyphRun>
#include <QPaintEngine>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace hexline {

namespace {

// A premultiplied pixel times an alpha, rounded as Qt's raster engine rounds it.
quint32 byteMul(quint32 x, quint32 a)
{
    quint32 t = (x & 0xff00ff) * a;
    t = ((t + ((t >> 8) & 0xff00ff) + 0x800080) >> 8) & 0xff00ff;
    x = ((x >> 8) & 0xff00ff) * a;
    x = (x + ((x >> 8) & 0xff00ff) + 0x800080) & 0xff00ff00;
    return x | t;
}

constexpr int kCaptureMargin = 3;       // pixels around a glyph's box where its edge may be drawn
constexpr int kCheckMargin = 2;         // pixels around a checked run that Qt must leave alone
constexpr qsizetype kLargest = 1 << 20; // pixels a composed run may cover; Qt draws larger ones

bool whole(qreal v)
{
    return v == std::floor(v);
}

} // namespace

const GlyphStamps::Stamp& GlyphStamps::stamp(quint32 glyph, int xFraction, int yFraction)
{
    const quint64 key = quint64(glyph) << 6 | quint64(yFraction);
    auto it = stamps_.find(key);
    if (it == stamps_.end())
        it = stamps_.emplace(key, capture(glyph, yFraction)).first;
    return it->second[std::size_t(xFraction)];
}

// Qt places a glyph by the whole pixel its position falls in and draws it for the fraction, so a
// glyph drawn here lands where it would anywhere else, offset by whole pixels. All 64 places are
// drawn in one run, each in a cell of its own: the glyph's box with room for the antialiased edge.
// Neighbouring places mostly look alike (Qt itself keeps a few), and share their coverage.
GlyphStamps::Places GlyphStamps::capture(quint32 glyph, int yFraction)
{
    const QRectF box = font_.boundingRect(glyph);
    const int originX = kCaptureMargin - int(std::floor(box.left()));
    const int originY = kCaptureMargin - int(std::floor(box.top()));
    const QSize cell(int(std::ceil(box.width())) + 2 * kCaptureMargin + 2,
                     int(std::ceil(box.height())) + 2 * kCaptureMargin + 2);
    constexpr int kColumns = 8;
    const QSize size(cell.width() * kColumns, cell.height() * kPlaces / kColumns);
    if (scratch_.width() < size.width() || scratch_.height() < size.height())
        scratch_ = QImage(size.expandedTo(scratch_.size()), QImage::Format_ARGB32_Premultiplied);
    scratch_.fill(0);
    const auto cellAt = [&](int place) {
        return QPoint(place % kColumns * cell.width(), place / kColumns * cell.height());
    };
    QList<QPointF> positions;
    for (int place = 0; place < kPlaces; ++place)
        positions.append(QPointF(cellAt(place) + QPoint(originX, originY)) +
                         QPointF(place / 64.0, yFraction / 64.0));
    QGlyphRun all;
    all.setRawFont(font_);
    all.setGlyphIndexes(QList<quint32>(kPlaces, glyph));
    all.setPositions(positions);
    QPainter painter(&scratch_);
    painter.setPen(Qt::black); // opaque: the alpha drawn is the coverage
    painter.drawGlyphRun(QPointF(), all);
    painter.end();

    Places places;
    for (int place = 0; place < kPlaces; ++place) {
        const QPoint corner = cellAt(place);
        int left = cell.width(), top = cell.height(), right = -1, bottom = -1;
        for (int y = 0; y < cell.height(); ++y) {
            const auto* line =
                reinterpret_cast<const QRgb*>(scratch_.constScanLine(corner.y() + y)) + corner.x();
            for (int x = 0; x < cell.width(); ++x) {
                if (qAlpha(line[x]) != 0) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                    top = std::min(top, y);
                    bottom = y;
                }
            }
        }
        if (right < 0)
            continue; // nothing drawn: a blank
        Stamp& s = places[std::size_t(place)];
        s = {qint16(left - originX), qint16(top - originY), quint16(right - left + 1),
             quint16(bottom - top + 1), quint32(coverage_.size())};
        for (int y = top; y <= bottom; ++y) {
            const auto* line =
                reinterpret_cast<const QRgb*>(scratch_.constScanLine(corner.y() + y)) + corner.x();
            for (int x = left; x <= right; ++x)
                coverage_.push_back(uchar(qAlpha(line[x])));
        }
        if (place > 0) { // the same as the place before: keep one copy
            const Stamp& before = places[std::size_t(place - 1)];
            const std::size_t n = std::size_t(s.width) * s.height;
            if (before.x == s.x && before.y == s.y && before.width == s.width &&
                before.height == s.height &&
                std::equal(coverage_.begin() + s.at, coverage_.end(),
                           coverage_.begin() + before.at)) {
                coverage_.resize(coverage_.size() - n);
                s.at = before.at;
            }
        }
    }
    return places;
}

// Each glyph blended over the ones before it, as Qt blends them one by one onto the device; a
// glyph clear of all before it (most are) is only copied.
void GlyphStamps::compose(const std::vector<Placed>& placed, QRect bounds, QRgb color)
{
    if (!tabled_ || color != tableColor_) {
        tabled_ = true;
        tableColor_ = color;
        for (quint32 a = 0; a < 256; ++a)
            colored_[a] = byteMul(color, a);
    }
    if (composed_.width() < bounds.width() || composed_.height() < bounds.height())
        composed_ = QImage(std::max(bounds.width(), composed_.width()),
                           std::max(bounds.height(), composed_.height()),
                           QImage::Format_ARGB32_Premultiplied);
    uchar* bits = composed_.bits();
    const qsizetype stride = composed_.bytesPerLine();
    for (int y = 0; y < bounds.height(); ++y)
        std::memset(bits + y * stride, 0, std::size_t(bounds.width()) * 4);
    int clearFrom = bounds.left();
    for (const Placed& p : placed) {
        const Stamp& s = *p.stamp;
        const uchar* coverage = coverage_.data() + s.at;
        uchar* line = bits + (p.y - bounds.top()) * stride + (p.x - bounds.left()) * 4;
        const bool clear = p.x >= clearFrom;
        for (int y = 0; y < s.height; ++y, line += stride, coverage += s.width) {
            auto* out = reinterpret_cast<quint32*>(line);
            if (clear) {
                for (int x = 0; x < s.width; ++x)
                    out[x] = colored_[coverage[x]];
                continue;
            }
            for (int x = 0; x < s.width; ++x) {
                const quint32 src = colored_[coverage[x]];
                if (out[x] == 0 || qAlpha(src) == 255)
                    out[x] = src;
                else if (src != 0)
                    out[x] = src + byteMul(out[x], 255 - qAlpha(src));
            }
        }
        clearFrom = std::max(clearFrom, p.x + s.width);
    }
}

bool GlyphStamps::draw(QPainter& painter, const QPointF& origin, const QGlyphRun& run)
{
    QPaintEngine* engine = painter.paintEngine();
    const QTransform t = painter.deviceTransform();
    const QPen pen = painter.pen();
    QPaintDevice* device = engine ? engine->paintDevice() : nullptr;
    const bool plain =
        engine && engine->type() == QPaintEngine::Raster && device &&
        device->devType() == QInternal::Image && t.type() <= QTransform::TxTranslate &&
        whole(t.dx()) && whole(t.dy()) &&
        painter.compositionMode() == QPainter::CompositionMode_SourceOver &&
        painter.opacity() == 1 && painter.testRenderHint(QPainter::TextAntialiasing) &&
        pen.style() != Qt::NoPen && pen.brush().style() == Qt::SolidPattern && !run.overline() &&
        !run.underline() && !run.strikeOut() && run.rawFont().isValid();
    if (!plain) {
        painter.drawGlyphRun(origin, run);
        return false;
    }
    if (run.rawFont() != font_) {
        font_ = run.rawFont();
        stamps_.clear();
        coverage_.clear();
        scratch_ = QImage();
        trusted_.clear();
    }

    const auto* image = static_cast<const QImage*>(device);
    const QRgb color = pen.color().rgba64().premultiplied().toArgb32();
    const quint64 kind = quint64(color) << 8 | quint64(image->format());
    const auto verdict = trusted_.find(kind);
    if (verdict != trusted_.end() && !verdict->second) {
        painter.drawGlyphRun(origin, run);
        return false;
    }

    // Where Qt puts each glyph: its position in 1/64 pixel, as Qt takes it, split into the whole
    // pixel and the fraction the glyph is drawn for.
    const int dx = int(t.dx()), dy = int(t.dy());
    const QList<quint32> glyphs = run.glyphIndexes();
    const QList<QPointF> positions = run.positions();
    std::vector<Placed> placed;
    placed.reserve(std::size_t(glyphs.size()));
    QRect bounds;
    for (qsizetype i = 0; i < glyphs.size() && i < positions.size(); ++i) {
        const QPointF at = origin + positions[i];
        const auto x = qint64(at.x() * 64), y = qint64(at.y() * 64);
        const Stamp& s = stamp(glyphs[i], int(x & 63), int(y & 63));
        if (s.width == 0)
            continue;
        placed.push_back({&s, int(x >> 6) + dx + s.x, int(y >> 6) + dy + s.y});
        bounds |= QRect(placed.back().x, placed.back().y, s.width, s.height);
    }
    if (qsizetype(bounds.width()) * bounds.height() > kLargest) {
        painter.drawGlyphRun(origin, run);
        return false;
    }
    if (!placed.empty())
        compose(placed, bounds, color);
    if (verdict != trusted_.end()) {
        if (!placed.empty())
            painter.drawImage(bounds.topLeft() - QPoint(dx, dy), composed_,
                              QRect(QPoint(), bounds.size()));
        return true;
    }

    // Not yet known for this colour: Qt draws, and the stamps, clipped alike, must give the same
    // pixels on what was there before, and leave alone what Qt leaves around them.
    const QRect area =
        bounds.adjusted(-kCheckMargin, -kCheckMargin, kCheckMargin, kCheckMargin) & image->rect();
    QRegion clip = engine->systemClip();
    if (clip.isEmpty())
        clip = image->rect();
    if (painter.hasClipping())
        clip &= painter.clipRegion().translated(dx, dy);
    const bool checkable = !placed.empty() && clip.intersects(bounds);
    QImage mine = checkable ? image->copy(area) : QImage();
    painter.drawGlyphRun(origin, run);
    if (checkable) {
        QPainter onCopy(&mine);
        onCopy.setClipRegion(clip.translated(-area.topLeft()));
        onCopy.drawImage(bounds.topLeft() - area.topLeft(), composed_,
                         QRect(QPoint(), bounds.size()));
        onCopy.end();
        trusted_[kind] = mine == image->copy(area);
    }
    return false;
}

} // namespace hexline
