// EventList's summary of changes, checked against a plain list: a view that applies each batch
// must hold exactly what the list holds, whatever mix of insertions, removals and clears came.
#include "monitor/eventlist.h"

#include <QRandomGenerator>
#include <QTest>

using namespace hexline;

namespace {

// A view's rows brought up to date by one batch; false when the batch cannot apply.
bool catchUp(QStringList& view, EventList& list, int& reloads)
{
    const EventList::Changes c = list.takeChanges();
    if (c.reload) {
        ++reloads;
        view = list.entries();
        return true;
    }
    for (auto run = c.removed.crbegin(); run != c.removed.crend(); ++run) {
        if (run->first < 0 || run->first + run->count > view.size())
            return false;
        view.remove(run->first, run->count);
    }
    view = list.entries().mid(0, c.inserted) + view;
    return true;
}

} // namespace

class TstEventList : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Operations: i insert, t trimmed insert (the receive rule), r remove at a random row,
    // c clear, s the view catches up. Scripts end with a catch-up.
    void viewFollows_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("fill"); // entries in list and view before the script
        QTest::addColumn<int>("reloads");
        QTest::newRow("inserts only") << "iiis" << 0 << 0;
        QTest::newRow("trimming a full list") << "tttttts" << 500 << 0;
        QTest::newRow("status entries, then trimming") << "iitttis" << 500 << 0;
        QTest::newRow("removing a row not yet seen") << "iirrs" << 0 << 0;
        QTest::newRow("clear, then inserts") << "icii" << 5 << 1;
        QTest::newRow("removals in many places reload") << "rrrrrrrrrrrrrrrrs" << 400 << 1;
        QTest::newRow("a flood replacing every row reloads") << QString(501, u't') << 500 << 1;
    }

    void viewFollows()
    {
        QFETCH(QString, script);
        QFETCH(int, fill);
        for (quint32 seed = 1; seed <= 20; ++seed) {
            QRandomGenerator random(seed);
            EventList list;
            for (int i = 0; i < fill; ++i)
                list.insertTop(QString::number(i));
            QStringList view = list.entries();
            list.takeChanges();
            int reloads = 0, next = fill;
            for (QChar op : script + u's') {
                const QString entry = QString::number(next++);
                if (op == u'i' || op == u't')
                    list.insertTop(entry);
                if (op == u't' && list.count() > 500)
                    list.removeAt(500);
                if (op == u'r' && list.count() > 0)
                    list.removeAt(random.bounded(list.count()));
                if (op == u'c')
                    list.clear();
                if (op == u's')
                    QVERIFY(catchUp(view, list, reloads));
                QVERIFY(op != u's' || view == list.entries());
            }
            QTEST(reloads, "reloads");
        }
    }

    // Random mixes, with catch-ups at random points.
    void randomOperations()
    {
        for (quint32 seed = 1; seed <= 200; ++seed) {
            QRandomGenerator random(seed);
            EventList list;
            QStringList view;
            int reloads = 0;
            for (int step = 0; step < 2000; ++step) {
                const int op = random.bounded(100);
                if (op < 60) {
                    list.insertTop(QString::number(step));
                    if (op < 50 && list.count() > 500)
                        list.removeAt(500);
                } else if (op < 90 && list.count() > 0) {
                    list.removeAt(random.bounded(list.count()));
                } else if (op < 91) {
                    list.clear();
                } else {
                    QVERIFY(catchUp(view, list, reloads));
                    QCOMPARE(view, list.entries());
                }
            }
        }
    }
};

QTEST_GUILESS_MAIN(TstEventList)
#include "tst_eventlist.moc"
