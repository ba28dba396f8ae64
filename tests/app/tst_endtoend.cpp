// The road of one received line through the real program: a pseudo-terminal as port 1, the
// window with its defaults, Open, three characters from the device, Log into a real file.

#include "formmain.h"
#include "ptypair.h"

#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace hexline;
using namespace Qt::StringLiterals;

class TstEndToEnd : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void oneLineOpenReceiveLog();
};

void TstEndToEnd::oneLineOpenReceiveLog()
{
    test::PortDirectory ports;
    test::Pty device;
    QTemporaryDir dir;
    QVERIFY(ports.isValid() && device.isValid() && dir.isValid());
    QVERIFY(ports.attach(1, device.slavePath()));

    FormMain w;
    const QString logPath = dir.filePath(u"commlog.txt"_s);
    w.setLogPath(logPath);
    QSignalSpy failures(&w, &FormMain::failureShown);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    QTest::mouseClick(w.Command2, Qt::LeftButton);
    QVERIFY(w.Comm1.PortOpen());
    QCOMPARE(w.TermValue, qint16(13));

    QVERIFY(device.write("1AD"));
    QTRY_COMPARE(w.textList().count(), 3);
    QCOMPARE(w.textList().entryAt(0), u"1A"_s);
    QCOMPARE(w.valueList().entryAt(0), u"1 10 "_s);
    QCOMPARE(w.Label2->text(), u"1A"_s);
    QCOMPARE(w.Label3->text(), u"1 10 "_s);

    QTest::mouseClick(w.Command4, Qt::LeftButton);
    QFile log(logPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    QFile golden(QStringLiteral(GOLDEN_DIR "/example.txt"));
    QVERIFY(golden.open(QIODevice::ReadOnly));
    QCOMPARE(log.readAll(), golden.readAll());

    // Log leaves the port, the buttons and the live labels alone; later lines land in the emptied lists.
    QCOMPARE(w.textList().count(), 0);
    QCOMPARE(w.valueList().count(), 0);
    QVERIFY(w.Comm1.PortOpen() && !w.Command2->isEnabled() && w.Command3->isEnabled());
    QCOMPARE(w.Label2->text(), u"1A"_s);
    QVERIFY(device.write("FD"));
    QTRY_COMPARE(w.textList().count(), 1);
    QCOMPARE(w.valueList().entryAt(0), u"15 "_s);
    QCOMPARE(failures.count(), 0);
}

QTEST_MAIN(TstEndToEnd)
#include "tst_endtoend.moc"
