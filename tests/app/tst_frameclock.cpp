// The frame clock on a plain widget, fed a steady count of ended lines: the rhythm that count
// chooses, how often input is then handled, and how long a change waits for its frame.

#include "app/frameclock.h"

#include <QElapsedTimer>
#include <QTest>
#include <QWidget>

using namespace hexline;

class TstFrameClock : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A change of the captions alone waits at least an interval for its frame. A line waits no
    // longer, and much less while frames are timed by the lines, so that it is on the screen
    // within 50 ms of its last byte however long the captions wait.
    void rhythm_data()
    {
        QTest::addColumn<int>("linesPerSecond");
        QTest::addColumn<int>("paceMs");    // how long input may wait to be handled
        QTest::addColumn<int>("captionMs"); // the least a caption change alone waits
        QTest::addColumn<int>("lineMs");    // the least a line waits
        QTest::newRow("read one by one") << 10 << 20 << 16 << 16;
        QTest::newRow("timed by the lines") << 60 << 9 << 100 << 27;
        QTest::newRow("jump scroll") << 400 << 40 << 36 << 36;
    }

    void rhythm()
    {
        QFETCH(int, linesPerSecond);
        QFETCH(int, paceMs);
        QFETCH(int, captionMs);
        QFETCH(int, lineMs);
        QWidget window;
        QElapsedTimer running;
        running.start();
        int frames = 0;
        FrameClock clock(
            window, [&] { ++frames; },
            [&] { return qint64(linesPerSecond) * running.elapsed() / 1000; });
        QTest::qWait(300); // lines counted over a stretch choose the rhythm at the next frame
        clock.paint();
        QCOMPARE(clock.paceMs(), paceMs);

        // Ms from a frame to the next, a change asked for just after the first; -1: none came.
        const auto nextFrame = [&](bool line) -> qint64 {
            clock.paint();
            QElapsedTimer since;
            since.start();
            const int before = frames;
            clock.request();
            if (line)
                clock.requestLines();
            if (!QTest::qWaitFor([&] { return frames > before; }, 1000))
                return -1;
            return since.nsecsElapsed() / 1000000;
        };
        // No timer fires early however busy the machine; one that fires late is let off twice.
        const qint64 caption = nextFrame(false);
        QVERIFY2(caption >= captionMs - 1, qPrintable(QString::number(caption)));
        const bool sooner = lineMs < captionMs;
        qint64 line = nextFrame(true);
        for (int retry = 0; retry < 2 && sooner && line >= captionMs; ++retry)
            line = nextFrame(true);
        QVERIFY2(line >= lineMs - 1 && (!sooner || line < captionMs),
                 qPrintable(QString::number(line)));
    }
};

QTEST_MAIN(TstFrameClock)
#include "tst_frameclock.moc"
