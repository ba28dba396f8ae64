// Open and Close with real lists and component, against pseudo-terminals attached through the
// port directory.
#include "app/portcontrol.h"
#include "monitor/eventlist.h"
#include "monitor/livetails.h"
#include "monitor/pairedlists.h"
#include "monitor/receiveprocessor.h"
#include "serial/serialcomm.h"
#include "tests/support/ptypair.h"
#include "tests/support/testutil.h"

#include <QTest>

using namespace hexline;
using namespace Qt::StringLiterals;
using hexline::test::entries;

namespace {

const QString kOlder = u"older entry"_s;
const QString kMissingDevice = u"/nonexistent/ttyHX"_s;
const QString kTerm = u"Termination block set to :&H0D (13)"_s;
const QString kOpen1 = u"COMM 1 open."_s;

// The part of the window that Open and Close work on, in its design state.
struct Window : PortControls {
    QString portField = u"1"_s, setupField = u"9600,N,8,1"_s, modeField = u"t"_s,
            terminationField = u"0D"_s;
    bool openEnabled = true, closeEnabled = false; // the enabled states of Open and Close
    QString portText() const override { return portField; }
    QString setupText() const override { return setupField; }
    QString modeText() const override { return modeField; }
    QString terminationText() const override { return terminationField; }
    void setOpenEnabled(bool enabled) override { openEnabled = enabled; }
    void setCloseEnabled(bool enabled) override { closeEnabled = enabled; }
    EventList textList, valueList;
    struct : LiveTails {
        void showTails(const QString&, const QString&, bool) override {}
    } tails;
    ReceiveProcessor receiver{{textList, valueList}, tails};
    SerialComm serial;
    qint16 termValue = 0;

    PairedLists lists() { return {textList, valueList}; }
    // The operation's failure message, or an empty string when it ran through.
    QString open()
    {
        return run([this] { openPort(*this, serial, lists(), receiver, termValue); });
    }
    QString close()
    {
        return run([this] { closePort(*this, serial, lists()); });
    }
    static QString run(const std::function<void()>& op)
    {
        return test::failure(op).value_or(QString());
    }
    // The entries of both lists, newest first, when the lists agree.
    QStringList both() const
    {
        return entries(textList) == entries(valueList) ? entries(textList)
                                                       : QStringList{u"lists differ"_s};
    }
    bool closedButtons() const { return openEnabled && !closeEnabled; }
};

} // namespace

class TestPortControl : public QObject {
    Q_OBJECT

    test::PortDirectory dir_;
    test::Pty pty1_; // port 1
    test::Pty pty2_; // ports 2 and 5; port 9 leads to a device that does not exist

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(dir_.isValid() && pty1_.isValid() && pty2_.isValid());
        QVERIFY(dir_.attach(1, pty1_.slavePath()) && dir_.attach(2, pty2_.slavePath()));
        QVERIFY(dir_.attach(5, pty2_.slavePath()) && dir_.attach(9, kMissingDevice));
    }

    void open_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("end");
        QTest::addColumn<QString>("error"); // part of the failure message; empty: Open runs through
        QTest::addColumn<int>("inputMode");
        QTest::addColumn<int>("commPort");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<int>("termValue");
        QTest::addColumn<QStringList>("added"); // new entries at the top, index 0 first

        // Before each Open: port 7, input length 5, settings "1200,N,8,2", termination value 99.
        const QString d = u"9600,N,8,1"_s;
        const QStringList none, opened{kOpen1, kTerm};
        const auto term = [](const char* t, int v) {
            return QStringList{
                kOpen1, u"Termination block set to :&H%1 (%2)"_s.arg(QLatin1String(t)).arg(v)};
        };
        // clang-format off
        QTest::newRow("defaults")    << "1"  << d << "t" << "0D" << "" << 0 << 1 << d << 13 << opened;
        QTest::newRow("port 01")     << "01" << d << "t" << "0D" << "" << 0 << 1 << d << 13 << opened;
        QTest::newRow("port 2, other settings") << " 2 " << "19200,n,8,2" << "t" << "0D" << "" << 0 << 2
            << "19200,N,8,2" << 13 << QStringList{u"COMM 2 open."_s, kTerm};
        for (const char* mode : {"T", "b", "", "text", " t"})
            QTest::addRow("mode \"%s\" is binary", mode) << "1" << d << mode << "0D" << "" << 1 << 1 << d << 13 << opened;
        QTest::newRow("termination d")    << "1" << d << "t" << "d"    << "" << 0 << 1 << d << 13  << term("d", 13);
        QTest::newRow("termination FF")   << "1" << d << "t" << "FF"   << "" << 0 << 1 << d << 255 << term("FF", 255);
        QTest::newRow("termination FFFF") << "1" << d << "t" << "FFFF" << "" << 0 << 1 << d << -1  << term("FFFF", -1);
        // Failing steps: what came before stays done, nothing after runs.
        QTest::newRow("settings rejected") << "1" << "9600,X,8,1" << "b" << "0D"
            << "\"9600,X,8,1\" is not a line setting" << 1 << 7 << "1200,N,8,2" << 99 << none;
        QTest::newRow("port abc")          << "abc" << d << "t" << "0D" << "\"abc\" is not a port number"     << 0 << 7 << d << 99 << none;
        QTest::newRow("port 0")            << "0"   << d << "t" << "0D" << "port numbers start at 1"          << 0 << 7 << d << 99 << none;
        QTest::newRow("termination 0G")    << "1"   << d << "t" << "0G" << "\"0G\" is not a termination value" << 0 << 1 << d << 99 << none;
        QTest::newRow("termination empty") << "1"   << d << "t" << ""   << "termination value is empty"       << 0 << 1 << d << 99 << none;
        QTest::newRow("port cannot be opened") << "9" << d << "t" << "0D"
            << u"port 9 (%1) cannot be opened"_s.arg(kMissingDevice) << 0 << 9 << d << 13 << QStringList{kTerm};
        // clang-format on
    }

    void open()
    {
        QFETCH(QString, port);
        QFETCH(QString, setup);
        QFETCH(QString, mode);
        QFETCH(QString, end);
        QFETCH(QString, error);
        QFETCH(QStringList, added);
        Window w;
        w.serial.setPortNumber(7);
        w.serial.setInputLength(5);
        w.serial.setSettings(u"1200,N,8,2"_s);
        w.termValue = 99;
        w.lists().insertPlain(kOlder);
        w.portField = port;
        w.setupField = setup;
        w.modeField = mode;
        w.terminationField = end;

        const QString message = w.open();
        QVERIFY2(error.isEmpty() ? message.isEmpty() : message.contains(error),
                 qPrintable(message));
        QTEST(int(w.serial.inputMode()), "inputMode");
        QCOMPARE(w.serial.receiveThreshold(), qint16(1));
        QCOMPARE(w.serial.inputLength(), qint16(0));
        QTEST(w.serial.settings(), "settings");
        QTEST(int(w.serial.portNumber()), "commPort");
        QTEST(int(w.termValue), "termValue");
        QCOMPARE(w.both(), added + QStringList{kOlder});
        QCOMPARE(w.serial.isOpen(), error.isEmpty());
        QCOMPARE(w.openEnabled, !error.isEmpty());
        QCOMPARE(w.closeEnabled, error.isEmpty());
    }

    void openFailsTwiceInARow()
    {
        Window w;
        w.portField = u"9"_s;
        QVERIFY(!w.open().isEmpty() && !w.open().isEmpty());
        QCOMPARE(w.both(), (QStringList{kTerm, kTerm}));
        QVERIFY(w.closedButtons());
        // A later Open that succeeds adds its entries above.
        w.portField = u"1"_s;
        QCOMPARE(w.open(), QString());
        QCOMPARE(w.both(), (QStringList{kOpen1, kTerm, kTerm, kTerm}));
    }

    void close_data()
    {
        QTest::addColumn<bool>("openFirst");
        QTest::addColumn<QString>("portAtClose");
        QTest::addColumn<QString>("added"); // empty: Close fails at its entry
        QTest::newRow("after Open") << true << "5"
                                    << "COMM 5 close.";
        QTest::newRow("port text changed") << true << "6"
                                           << "COMM 6 close.";
        QTest::newRow("already closed") << false << "5"
                                        << "COMM 5 close.";
        QTest::newRow("port text not a number") << true << "x"
                                                << "";
    }

    void close()
    {
        QFETCH(bool, openFirst);
        QFETCH(QString, portAtClose);
        QFETCH(QString, added);
        Window w;
        w.portField = u"5"_s;
        if (openFirst) {
            QCOMPARE(w.open(), QString());
        } else { // the buttons of Opened, the port closed
            w.openEnabled = false;
            w.closeEnabled = true;
        }
        const QStringList before = w.both();
        w.portField = portAtClose;

        QCOMPARE(w.close().isEmpty(), !added.isEmpty());
        QVERIFY(!w.serial.isOpen() && w.closedButtons());
        QCOMPARE(w.both(), added.isEmpty() ? before : QStringList{added} + before);
        QCOMPARE(w.serial.portNumber(), qint16(openFirst ? 5 : 1)); // Close sets nothing
        QCOMPARE(w.termValue, qint16(openFirst ? 13 : 0));
        SerialComm other; // the device is free again
        other.setPortNumber(5);
        other.setOpen(true);
        QVERIFY(other.isOpen());
    }

    void statusEntriesAreNotTrimmed()
    {
        Window w;
        for (int i = 0; i < PairedLists::kTrimThreshold; ++i)
            w.lists().insertPlain(QString::number(i));
        QCOMPARE(w.open(), QString());
        QCOMPARE(w.close(), QString());
        const QStringList all = w.both();
        QCOMPARE(all.size(), 503);
        QCOMPARE(all.first() + all.last(), u"COMM 1 close.0"_s);
    }
};

QTEST_GUILESS_MAIN(TestPortControl)
#include "tst_portcontrol.moc"
