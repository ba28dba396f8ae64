#include "eventlist.h"
#include "pairedlists.h"
#include "testutil.h"

#include <QAbstractItemModelTester>
#include <QTest>

using namespace hexline;
using namespace Qt::StringLiterals;
using hexline::test::entries;

class TstPairedLists : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void trimmedInsertion_data()
    {
        QTest::addColumn<int>("filled");      // received lines already in both lists, e0 the newest
        QTest::addColumn<int>("statusPairs"); // plain insertions on top of them
        QTest::addColumn<int>("count");       // after one trimmed insertion
        QTest::addColumn<QString>("gone");    // the entry it removed, if any
        QTest::addColumn<QString>("bottom");
        QTest::newRow("empty") << 0 << 0 << 1 << QString() << u"new"_s;
        QTest::newRow("499") << 499 << 0 << 500 << QString() << u"e498"_s;
        QTest::newRow("500") << 500 << 0 << 500 << u"e499"_s << u"e498"_s;
        // Two status entries lift the list to 502 for good; index 500 is dropped, not the oldest.
        QTest::newRow("502") << 500 << 2 << 502 << u"e497"_s << u"e499"_s;
        QTest::newRow("503") << 500 << 3 << 503 << u"e496"_s << u"e499"_s;
    }

    void trimmedInsertion()
    {
        QFETCH(int, filled);
        QFETCH(int, statusPairs);
        QFETCH(int, count);
        QFETCH(QString, gone);
        QFETCH(QString, bottom);
        EventList text, values;
        QAbstractItemModelTester textTester(&text), valuesTester(&values);
        PairedLists lists{text, values};
        for (int i = filled - 1; i >= 0; --i)
            lists.insertTrimmed(u"e%1"_s.arg(i), u"e%1"_s.arg(i));
        for (int i = 0; i < statusPairs; ++i)
            lists.insertPlain(u"status"_s);
        lists.insertTrimmed(u"new"_s, u"new values"_s);

        const QStringList t = entries(text);
        QCOMPARE(t.size(), count);
        QCOMPARE(t.first(), u"new"_s);
        QCOMPARE(entries(values), QStringList{u"new values"_s} + t.mid(1));
        QCOMPARE(t.last(), bottom);
        QVERIFY(gone.isEmpty() || !t.contains(gone));
        if (filled > 0)
            QCOMPARE(t[statusPairs + 1], u"e0"_s);
        QCOMPARE(text.data(text.index(count - 1)).toString(), bottom);
    }

    void clearThenInsert()
    {
        EventList text, values;
        PairedLists lists{text, values};
        lists.insertPlain(u"COMM 1 open."_s);
        lists.insertTrimmed(u""_s, u""_s); // an empty entry takes a row
        QCOMPARE(text.count(), 2);
        lists.clear();
        QCOMPARE(text.rowCount() + values.rowCount(), 0);
        lists.insertTrimmed(u"1A"_s, u"1 10 "_s);
        QCOMPARE(entries(text) + entries(values), (QStringList{u"1A"_s, u"1 10 "_s}));
    }
};

QTEST_GUILESS_MAIN(TstPairedLists)
#include "tst_pairedlists.moc"
