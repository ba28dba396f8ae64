#include "monitor/eventlist.h"
#include "monitor/livetails.h"
#include "monitor/receiveprocessor.h"
#include "tests/support/testutil.h"

#include <QElapsedTimer>
#include <QTest>

using namespace hexline;
using namespace Qt::StringLiterals;
using hexline::test::entries;
using L = QStringList;

namespace {

// Stands in for the two live labels: keeps every pair of captions it was asked to show, when,
// and whether the walk went on.
struct TailRecorder : LiveTails {
    QList<QStringList> shown;
    QList<qint64> nsAt;
    QList<bool> walking;
    QElapsedTimer clock;
    TailRecorder() { clock.start(); }
    void showTails(const QString& textTail, const QString& valueTail, bool walks) override
    {
        shown.append({textTail, valueTail});
        nsAt.append(clock.nsecsElapsed());
        walking.append(walks);
    }
};

struct Monitor {
    EventList text, values;
    TailRecorder tails;
    ReceiveProcessor processor{PairedLists{text, values}, tails};
};

} // namespace

class TstReceiveProcessor : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void events_data()
    {
        // QString: text mode, QByteArray: binary mode, an invalid QVariant: the port opened again.
        QTest::addColumn<QVariantList>("events");
        QTest::addColumn<int>("term");
        QTest::addColumn<L>("texts"); // newest first
        QTest::addColumn<L>("values");
        QTest::addColumn<int>("repaints");
        QTest::addColumn<L>("labels"); // the last captions shown
        const auto ev = [](auto... e) { return QVariantList{QVariant(e)...}; };
        const auto bin = [](const char* s, int n) { return QVariantList{QByteArray(s, n)}; };
        const L none;
        // clang-format off
        QTest::newRow("empty") << ev(u""_s) << 13 << none << none << 0 << none;
        QTest::newRow("1AD") << ev(u"1AD"_s) << 13 << L{u"1A"_s} << L{u"1 10 "_s} << 1 << L{u"1A"_s, u"1 10 "_s};
        QTest::newRow("D alone") << ev(u"D"_s) << 13 << L{u""_s} << L{u""_s} << 0 << none;
        // A line lives until it ends, across events; a new opening starts it afresh.
        QTest::newRow("12 then D") << ev(u"12"_s, u"D"_s) << 13 << L{u"12"_s} << L{u"1 2 "_s} << 1 << L{u"12"_s, u"1 2 "_s};
        QTest::newRow("one character per event") << ev(u"1"_s, u"A"_s, u"D"_s) << 13 << L{u"1A"_s} << L{u"1 10 "_s} << 2 << L{u"1A"_s, u"1 10 "_s};
        QTest::newRow("opened again") << ev(u"12"_s, QVariant(), u"3D"_s) << 13 << L{u"3"_s} << L{u"3 "_s} << 3 << L{u"3"_s, u"3 "_s};
        QTest::newRow("opened again, nothing since") << ev(u"12"_s, QVariant()) << 13 << none << none << 2 << L{u""_s, u""_s};
        QTest::newRow("lowercase d") << ev(u"fd"_s) << 13 << L{u"f"_s} << L{u"15 "_s} << 1 << L{u"f"_s, u"15 "_s};
        QTest::newRow("two lines and a tail") << ev(u"12D3d45"_s) << 13 << L{u"3"_s, u"12"_s}
            << L{u"3 "_s, u"1 2 "_s} << 1 << L{u"45"_s, u"4 5 "_s};
        // An ended line stays on the labels; terminators alone change no caption.
        QTest::newRow("ended line, then DD") << ev(u"1ADD"_s, u"DD"_s) << 13 << L{u""_s, u""_s, u""_s, u"1A"_s}
            << L{u""_s, u""_s, u""_s, u"1 10 "_s} << 1 << L{u"1A"_s, u"1 10 "_s};
        QTest::newRow("TermValue 0") << ev(u"00102"_s) << 0 << L{u"1"_s, u""_s, u""_s}
            << L{u"1 "_s, u""_s, u""_s} << 1 << L{u"2"_s, u"2 "_s};
        QTest::newRow("TermValue 255") << ev(u"0D0dFf"_s) << 255 << none << none << 1 << L{u"0D0dFf"_s, u"0 13 0 13 15 15 "_s};
        QTest::newRow("TermValue -1") << ev(u"0Fg"_s) << -1 << none << none << 1 << L{u"0Fg"_s, u"0 15 ? "_s};
        QTest::newRow("non-hex joins the line") << ev(u"1G z\u00e9-D"_s) << 13 << L{u"1G z\u00e9-"_s}
            << L{u"1 ? ? ? ? ? "_s} << 1 << L{u"1G z\u00e9-"_s, u"1 ? ? ? ? ? "_s};
        // CR is not the digit 13: only the character D or d ends a line. Byte AD is a soft hyphen,
        // which draws nothing.
        QTest::newRow("control characters") << ev(u"\u0000\t\r\n\u007f\u0085\u009f\u00ad"_s + QChar(0xD800) + u"A"_s)
            << 13 << none << none << 1
            << L{u"\u2400\u2409\u240d\u240a\u2421\ufffd\ufffd\ufffd\ufffdA"_s, u"? "_s.repeated(9) + u"10 "_s};
        // clang-format on
        const QString digits = u"0123456789ABCEF"_s; // no terminator
        QTest::newRow("35 characters")
            << ev(digits.repeated(3).left(35)) << 13 << none << none << 1
            << L{digits.repeated(3).mid(5, 30),
                 u"4 15 0 1 2 3 4 5 6 7 8 9 10 11 12 14 15 0 1 2 3 4 "_s};
        const QString line201 = u"7"_s.repeated(200) + u"A"_s;
        const L broken{u"-break- "_s + line201},
            brokenValues{u"-break- "_s + u"7 "_s.repeated(200) + u"10 "_s};
        const L tails201{u"7"_s.repeated(29) + u"A"_s, u" "_s + u"7 "_s.repeated(23) + u"10 "_s};
        QTest::newRow("201 characters")
            << ev(line201) << 13 << broken << brokenValues << 1 << tails201;
        QTest::newRow("201 characters in three events")
            << ev(line201.left(100), line201.mid(100, 100), line201.mid(200)) << 13 << broken
            << brokenValues << 3 << tails201;
        // A pair cut by the break: each half on its own shows as the replacement character.
        QTest::newRow("surrogate pair cut by the break")
            << ev(u"7"_s.repeated(200) + u"\U0001F600D"_s) << 13
            << L{u"\ufffd"_s, u"-break- "_s + u"7"_s.repeated(200) + u"\ufffd"_s}
            << L{u"? "_s, u"-break- "_s + u"7 "_s.repeated(200) + u"? "_s} << 1
            << L{u"\ufffd"_s, u"? "_s};
        QTest::newRow("201 characters, then D") << ev(line201 + u"D"_s) << 13 << L{u""_s} + broken
                                                << L{u""_s} + brokenValues << 1 << tails201;
        QTest::newRow("202 characters")
            << ev(line201 + u"5"_s) << 255 << broken << brokenValues << 1 << L{u"5"_s, u"5 "_s};
        QTest::newRow("non-hex counts toward the break")
            << ev(u"\r"_s.repeated(201)) << 13 << L{u"-break- "_s + u"\u240d"_s.repeated(201)}
            << L{u"-break- "_s + u"? "_s.repeated(201)} << 1
            << L{u"\u240d"_s.repeated(30), u"? "_s.repeated(25)};
        // Binary mode: byte pairs, low byte first.
        // clang-format off
        QTest::newRow("binary 1AD") << bin("1\0A\0D\0", 6) << 13 << L{u"1A"_s} << L{u"1 10 "_s} << 1 << L{u"1A"_s, u"1 10 "_s};
        // Pairs that would draw nothing, reverse or split the line: a right-to-left override, a
        // paragraph separator, a zero-width space and no-break space, a right-to-left letter.
        QTest::newRow("binary non-digit pairs") << bin("1\0A\1\r\0.\x20)\x20\x0b\x20\xff\xfe\xd0\x05" "D\0", 18) << 13
            << L{u"1\u0141\u240d\ufffd\ufffd\ufffd\ufffd\ufffd"_s} << L{u"1 ? ? ? ? ? ? ? "_s} << 1
            << L{u"1\u0141\u240d\ufffd\ufffd\ufffd\ufffd\ufffd"_s, u"1 ? ? ? ? ? ? ? "_s};
        // A tag character (U+E0041) draws nothing: a stand-in for each of its two characters.
        QTest::newRow("binary surrogates") << bin("\x3d\xd8\x00\xde\x40\xdb\x41\xdc\x00\xdc\x00\xd8", 12) << 13 << none << none
            << 1 << L{u"\U0001F600\ufffd\ufffd\ufffd\ufffd"_s, u"? ? ? ? ? ? "_s};
        // Marks that draw over their neighbours (acute, long stroke, the enclosing circle U+20DD),
        // braille blanks and the null notehead U+1D159, which draw nothing: one stand-in each. A
        // space, however wide, is itself.
        QTest::newRow("binary marks and blanks") << bin("a\0\x01\x03\x36\x03\x89\x04\xdd\x20\0\x28\0\x28\0\x28\0\x30\x34\xd8\x59\xdd" "D\0", 24) << 13
            << L{u"a\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\u3000\ufffd\ufffd"_s} << L{u"10 "_s + u"? "_s.repeated(10)} << 1
            << L{u"a\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd\u3000\ufffd\ufffd"_s, u"10 "_s + u"? "_s.repeated(10)};
        QTest::newRow("binary pair split between events") << QVariantList{QByteArray("\x3d\xd8", 2), QByteArray("\x00\xde" "D\0", 4)}
            << 13 << L{u"\U0001F600"_s} << L{u"? ? "_s} << 2 << L{u"\U0001F600"_s, u"? ? "_s};
        QTest::newRow("binary odd last byte") << bin("1\0D", 3) << 13 << none << none << 1 << L{u"1"_s, u"1 "_s};
        // clang-format on
    }

    void events()
    {
        QFETCH(QVariantList, events);
        QFETCH(int, term);
        QFETCH(int, repaints);
        Monitor m;
        for (const QVariant& received : events)
            if (received.isValid())
                m.processor.process(received, qint16(term));
            else
                m.processor.startLines();
        QTEST(entries(m.text), "texts");
        QTEST(entries(m.values), "values");
        QCOMPARE(m.tails.shown.size(), repaints);
        if (repaints > 0)
            QTEST(m.tails.shown.last(), "labels");
    }

    // A long burst must not repaint per character: repaints at least a frame apart however fast
    // or slow the walk, but for the last, which shows the line left open at the end and leaves
    // the painting to the event loop.
    void longInputRepaintsSparingly()
    {
        Monitor m;
        const QString received = u"0123456789"_s.repeated(201 * 200 + 4); // 2000 breaks, 40 left
        m.processor.process(QStringView(received), 255);
        QCOMPARE(m.text.count(), 500);
        QCOMPARE(m.text.entryAt(0), u"-break- "_s + received.mid(201 * 1999, 201));
        for (qsizetype i = 1; i + 1 < m.tails.nsAt.size(); ++i)
            QVERIFY2(m.tails.nsAt[i] - m.tails.nsAt[i - 1] >= LiveTails::kFrameMs * 1000000LL,
                     qPrintable(u"repaint %1 after %2 ns"_s.arg(i).arg(m.tails.nsAt[i] -
                                                                       m.tails.nsAt[i - 1])));
        QCOMPARE(m.tails.walking, QList<bool>(m.tails.shown.size() - 1, true) + QList{false});
        QCOMPARE(m.tails.shown.last(),
                 (L{received.right(30), u"5 6 7 8 9 "_s + u"0 1 2 3 4 5 6 7 8 9 "_s.repeated(2)}));
    }
};

QTEST_GUILESS_MAIN(TstReceiveProcessor)
#include "tst_receiveprocessor.moc"
