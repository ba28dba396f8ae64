#include "app/asciiglyphs.h"
#include "app/glyphstamps.h"

#include <QApplication>
#include <QGlyphRun>
#include <QLinearGradient>
#include <QPainter>
#include <QTest>

using namespace hexline;
using namespace Qt::StringLiterals;

class TstGlyphStamps : public QObject {
    Q_OBJECT

    // A line laid out as the lists and labels lay it out.
    static QGlyphRun run(const QString& text, const QFont& font)
    {
        AsciiGlyphs ascii;
        ascii.setFont(font);
        return ascii.layOut(text, 400, AsciiGlyphs::Clip);
    }

private Q_SLOTS:
    // The same pixels as Qt's own drawing, wherever a run starts within a pixel and whatever is
    // under it, once the first run has shown that the stamps draw as Qt does.
    void drawsAsQt_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QColor>("pen");
        QTest::addColumn<QImage::Format>("format");
        QTest::addColumn<qreal>("baselineFraction");
        QTest::newRow("values") << u"0 1 12 15 3 9 10"_s << QColor(Qt::black)
                                << QImage::Format_RGB32 << 0.0;
        QTest::newRow("kerned, touching glyphs")
            << u"AVAVA To Ty ff // W|W"_s << QColor(Qt::black) << QImage::Format_RGB32 << 0.4375;
        QTest::newRow("coloured pen, premultiplied image")
            << u"0123456789ABCDEF"_s << QColor(40, 90, 200) << QImage::Format_ARGB32_Premultiplied
            << 0.75;
        QTest::newRow("translucent pen")
            << u"7 E 0"_s << QColor(200, 0, 0, 120) << QImage::Format_RGB32 << 0.5;
    }

    void drawsAsQt()
    {
        QFETCH(QString, text);
        QFETCH(QColor, pen);
        QFETCH(QImage::Format, format);
        QFETCH(qreal, baselineFraction);
        QFont font = QApplication::font();
        font.setPointSize(9);
        const QGlyphRun glyphs = run(text, font);
        QImage byQt(420, 560, format);
        QLinearGradient under(0, 0, 420, 0);
        under.setColorAt(0, Qt::white);
        under.setColorAt(1, QColor(20, 60, 20));
        QPainter(&byQt).fillRect(byQt.rect(), under);
        QImage byStamps = byQt;
        GlyphStamps stamps;
        QPainter qt(&byQt), mine(&byStamps);
        for (QPainter* p : {&qt, &mine}) {
            p->setPen(pen);
            p->translate(2, 1); // as a widget inside a window is painted
        }
        int fromStamps = 0;
        for (int k = 0; k < 64; ++k) { // every 1/64 of a pixel along the line
            const QPointF origin(3 + k / 64.0 + (k % 2) * 200,
                                 14 + (k / 2) * 17 + baselineFraction);
            qt.drawGlyphRun(origin, glyphs);
            fromStamps += stamps.draw(mine, origin, glyphs);
        }
        qt.end();
        mine.end();
        QCOMPARE(byStamps, byQt);
        QCOMPARE(fromStamps, 63); // Qt draws the first, to check them against
    }

    // Where the stamps cannot match or cannot be checked, Qt draws.
    void leavesTheRestToQt()
    {
        const QGlyphRun glyphs = run(u"1 10 Ty"_s, QApplication::font());
        QImage image(200, 60, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter p(&image);
        GlyphStamps stamps;
        p.setClipRect(0, 0, 200, 10); // the first run is out of sight: nothing checked yet
        QVERIFY(!stamps.draw(p, {3, 30}, glyphs));
        p.setClipping(false);
        QVERIFY(!stamps.draw(p, {3, 30}, glyphs));
        QVERIFY(stamps.draw(p, {3, 30}, glyphs));
        p.scale(2, 2);
        QVERIFY(!stamps.draw(p, {3, 20}, glyphs));
        p.resetTransform();
        p.setOpacity(0.5);
        QVERIFY(!stamps.draw(p, {3, 30}, glyphs));
    }
};

QTEST_MAIN(TstGlyphStamps)
#include "tst_glyphstamps.moc"
