#include "monitor/eventlist.h"
#include "monitor/eventlistmodel.h"
#include "monitor/pairedlists.h"
#include "tests/support/testutil.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

using namespace hexline;
using namespace Qt::StringLiterals;
using hexline::test::entries;

namespace {

// The rows a view of the model shows.
QStringList rows(const EventListModel& model)
{
    QStringList out;
    for (int i = 0; i < model.rowCount(); ++i)
        out.append(model.data(model.index(i)).toString());
    return out;
}

} // namespace

class TstPairedLists : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void trimmedInsertion_data()
    {
        QTest::addColumn<int>("filled");      // received lines already in both lists, e0 the newest
        QTest::addColumn<int>("early");       // received lines on top of them
        QTest::addColumn<int>("statusPairs"); // plain insertions on top of those
        QTest::addColumn<int>("count");       // after one trimmed insertion
        QTest::addColumn<QString>("gone");    // the entry it removed, if any
        QTest::addColumn<QString>("bottom");
        QTest::newRow("empty") << 0 << 0 << 0 << 1 << QString() << u"new"_s;
        QTest::newRow("499") << 499 << 0 << 0 << 500 << QString() << u"e498"_s;
        QTest::newRow("500") << 500 << 0 << 0 << 500 << u"e499"_s << u"e498"_s;
        // Two status entries lift the list to 502 for good; index 500 is dropped, not the oldest.
        QTest::newRow("502") << 500 << 0 << 2 << 502 << u"e497"_s << u"e499"_s;
        QTest::newRow("503") << 500 << 0 << 3 << 503 << u"e496"_s << u"e499"_s;
        // The views catch up in one batch: rows removed in two places, or all of them.
        QTest::newRow("a line, Open, a line") << 500 << 1 << 2 << 502 << u"e496"_s << u"e498"_s;
        QTest::newRow("600 lines") << 500 << 600 << 0 << 500 << u"e0"_s << u"early499"_s;
    }

    void trimmedInsertion()
    {
        QFETCH(int, filled);
        QFETCH(int, early);
        QFETCH(int, statusPairs);
        QFETCH(int, count);
        QFETCH(QString, gone);
        QFETCH(QString, bottom);
        EventList text, values;
        EventListModel textModel(text), valuesModel(values);
        QAbstractItemModelTester textTester(&textModel), valuesTester(&valuesModel);
        PairedLists lists{text, values};
        for (int i = filled - 1; i >= 0; --i)
            lists.insertTrimmed(u"e%1"_s.arg(i), u"e%1"_s.arg(i));
        textModel.sync();
        valuesModel.sync();
        QSignalSpy inserted(&textModel, &QAbstractItemModel::rowsInserted);
        QSignalSpy reset(&textModel, &QAbstractItemModel::modelReset); // all rows replaced
        for (int i = early; i > 0; --i)
            lists.insertTrimmed(u"early%1"_s.arg(i), u"early%1"_s.arg(i));
        for (int i = 0; i < statusPairs; ++i)
            lists.insertPlain(u"status"_s);
        lists.insertTrimmed(u"new"_s, u"new values"_s);

        const QStringList t = entries(text);
        QCOMPARE(t.size(), count);
        QCOMPARE(t.first(), u"new"_s);
        QCOMPARE(entries(values), QStringList{u"new values"_s} + t.mid(1));
        QCOMPARE(t.last(), bottom);
        QVERIFY(gone.isEmpty() || !t.contains(gone));
        if (filled > 0 && early < 500)
            QCOMPARE(t[statusPairs + early + 1], u"e0"_s);
        textModel.sync();
        valuesModel.sync();
        QCOMPARE(rows(textModel), t);
        QCOMPARE(rows(valuesModel), entries(values));
        QCOMPARE(inserted.count() + reset.count(), 1);
    }

    void clearThenInsert()
    {
        EventList text, values;
        EventListModel textModel(text);
        QAbstractItemModelTester tester(&textModel);
        PairedLists lists{text, values};
        lists.insertPlain(u"COMM 1 open."_s);
        lists.insertTrimmed(u""_s, u""_s); // an empty entry takes a row
        QCOMPARE(text.count(), 2);
        textModel.sync();
        lists.clear();
        QCOMPARE(text.count() + values.count(), 0);
        textModel.sync();
        QCOMPARE(textModel.rowCount(), 0);
        lists.insertTrimmed(u"1A"_s, u"1 10 "_s);
        QCOMPARE(entries(text) + entries(values), (QStringList{u"1A"_s, u"1 10 "_s}));
        textModel.sync();
        QCOMPARE(rows(textModel), QStringList{u"1A"_s});
    }
};

QTEST_GUILESS_MAIN(TstPairedLists)
#include "tst_pairedlists.moc"
