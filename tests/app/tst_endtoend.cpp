// The road of one received line through the real program: a pseudo-terminal as port 1, the
// window with its defaults, Open, three characters from the device, Log into a real file.

#include "formmain.h"
#include "ptypair.h"
#include "testutil.h"

#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace hexline;
using namespace Qt::StringLiterals;

namespace {

// What a list view shows, top row first.
QStringList shown(const QListView* view)
{
    QStringList rows;
    for (int i = 0; i < view->model()->rowCount(); ++i)
        rows.append(view->model()->index(i, 0).data().toString());
    return rows;
}

} // namespace

class TstEndToEnd : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void oneLineOpenReceiveLog()
    {
        test::PortDirectory ports;
        test::Pty device;
        QTemporaryDir dir;
        QVERIFY(ports.isValid() && device.isValid() && dir.isValid());
        QVERIFY(ports.attach(1, device.slavePath()));
        FormMain w;
        w.setLogPath(dir.filePath(u"commlog.txt"_s));
        QSignalSpy failures(&w, &FormMain::failureShown);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));

        QTest::mouseClick(w.Command2, Qt::LeftButton);
        QVERIFY(w.Comm1.PortOpen());
        QVERIFY(device.write("1AD"));
        QTRY_COMPARE(w.textList().count(), 3);
        QCOMPARE(w.Label2->text() + w.Label3->text(), u"1A1 10 "_s);
        // The views catch up with the lists at the next frame.
        QTRY_COMPARE(shown(w.List1) + shown(w.List2), test::entries(w.textList()) + test::entries(w.valueList()));

        QTest::mouseClick(w.Command4, Qt::LeftButton);
        QCOMPARE(test::readFile(w.logPath()), test::readFile(QStringLiteral(GOLDEN_DIR "/example.txt")));
        // Log leaves the port, the buttons and the live labels alone; later lines land in the
        // emptied lists.
        QCOMPARE(w.textList().count() + w.valueList().count(), 0);
        QVERIFY(w.Comm1.PortOpen() && !w.Command2->isEnabled() && w.Command3->isEnabled());
        QCOMPARE(w.Label2->text(), u"1A"_s);
        QVERIFY(device.write("FD"));
        QTRY_COMPARE(w.textList().count(), 1);
        QCOMPARE(w.valueList().entryAt(0), u"15 "_s);
        QTRY_COMPARE(shown(w.List1) + shown(w.List2), (QStringList{u"F"_s, u"15 "_s}));
        QCOMPARE(failures.count(), 0);
    }
};

QTEST_MAIN(TstEndToEnd)
#include "tst_endtoend.moc"
