// What real users and devices do to the program: devices that vanish, ports held or forbidden
// by others, floods of input in one event, and absurd field contents. Each case checks that
// nothing was lost and that the program goes on.

#include "formmain.h"
#include "ptypair.h"
#include "testutil.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <grp.h>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace hexline;
using namespace Qt::StringLiterals;

namespace {

// Hex-digit lines of 15 characters ended by D, n characters in all.
QByteArray lines(qsizetype n)
{
    QByteArray data;
    data.reserve(n);
    for (qsizetype i = 0; i < n; ++i)
        data += "0123456789ABCEFD"[i % 16];
    return data;
}

// Paint times of a widget, in ms of a running clock.
class PaintClock : public QObject {
public:
    explicit PaintClock(QWidget* w) { w->installEventFilter(this); clock.start(); }
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            times << clock.elapsed();
        return false;
    }
    QElapsedTimer clock;
    QList<qint64> times;
};

} // namespace

class TstFaults : public QObject {
    Q_OBJECT

    test::PortDirectory ports_;
    std::unique_ptr<test::Pty> device_;
    QTemporaryDir dir_;
    std::unique_ptr<FormMain> w_;
    std::unique_ptr<QSignalSpy> failures_;

    bool open()
    {
        w_->Command2->click();
        return w_->Comm1.PortOpen();
    }
    QString failure(int i) const { return failures_->at(i).at(0).toString(); }

private Q_SLOTS:
    void init()
    {
        device_ = std::make_unique<test::Pty>();
        QVERIFY(device_->isValid() && ports_.attach(1, device_->slavePath()));
        w_ = std::make_unique<FormMain>();
        w_->setLogPath(dir_.filePath(u"commlog.txt"_s));
        failures_ = std::make_unique<QSignalSpy>(w_.get(), &FormMain::failureShown);
        w_->show();
        QVERIFY(QTest::qWaitForWindowExposed(w_.get()));
    }
    void cleanup()
    {
        failures_.reset();
        w_.reset();
        device_.reset();
        ports_.detach(1);
    }

    void deviceRemoved_data()
    {
        QTest::addColumn<bool>("duringLongEvent");
        QTest::newRow("in the middle of a line") << false;
        QTest::newRow("in the middle of a long receive event") << true;
    }

    void deviceRemoved()
    {
        QFETCH(bool, duringLongEvent);
        QVERIFY(open());
        const qint64 before = w_->receiver().charactersProcessed();
        qint64 sent = 2;
        if (duringLongEvent) {
            // The device goes away while the handler is still walking a million characters.
            const QByteArray flood = lines(4000000);
            w_->Comm1.feedReceived(flood);
            sent = flood.size();
            std::thread unplug([this] {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                device_->hangUp();
            });
            QTRY_COMPARE_WITH_TIMEOUT(failures_->count(), 1, 20000);
            unplug.join();
        } else {
            QVERIFY(device_->write("12"));
            QTRY_COMPARE(w_->Label2->text(), u"12"_s);
            device_->hangUp();
            QTRY_COMPARE(failures_->count(), 1);
        }
        // Everything that arrived was processed, the port is closed, and the failure said once.
        QCOMPARE(w_->receiver().charactersProcessed() - before, sent);
        QVERIFY(!w_->Comm1.PortOpen());
        QVERIFY2(failure(0).contains(u"removed"_s) && failure(0).contains(u"Close"_s), qPrintable(failure(0)));
        QTest::qWait(100);
        QCOMPARE(failures_->count(), 1);
        QVERIFY(!w_->Command2->isEnabled() && w_->Command3->isEnabled()); // the buttons stay

        // Close finds the port closed and swaps the buttons; Open works again once the device is back.
        w_->Command3->click();
        QCOMPARE(w_->textList().entryAt(0), u"COMM 1 close."_s);
        QVERIFY(w_->Command2->isEnabled() && !w_->Command3->isEnabled());
        device_ = std::make_unique<test::Pty>();
        QVERIFY(ports_.attach(1, device_->slavePath()) && open());
        QVERIFY(device_->write("5AD"));
        QTRY_COMPARE(w_->textList().entryAt(0), u"5A"_s);
        QCOMPARE(failures_->count(), 1);
    }

    void millionCharactersInOneEvent()
    {
        QVERIFY(open());
        PaintClock paints(w_->Label2);
        QSignalSpy events(&w_->Comm1, &SerialComm::OnComm);
        qint64 end = -1; // when the handler returned
        connect(&w_->Comm1, &SerialComm::OnComm, this, [&] { end = paints.clock.elapsed(); });
        // Long enough to take many frames, however fast the walk; lines of 17 characters, so that
        // the captions differ from one look at the clock to the next.
        const QByteArray flood = QByteArray("0123456789ABCEF1D").repeated(500000) + "123";
        w_->Comm1.feedReceived(flood);
        const qint64 start = paints.clock.elapsed();
        QTRY_VERIFY_WITH_TIMEOUT(w_->receiver().charactersProcessed() == flood.size(), 30000);
        QCOMPARE(events.count(), 1);
        QCOMPARE(w_->textList().count(), 500);
        QCOMPARE(w_->textList().entryAt(0), u"0123456789ABCEF1"_s);
        QCOMPARE(w_->Label2->text() + w_->Label3->text(), u"1231 2 3 "_s);
        // The labels stayed live: no gap of more than 100 ms between their repaints, from the start
        // of the event to its end.
        QList<qint64> t = paints.times;
        t.prepend(start);
        t.append(end);
        for (qsizetype i = 1; i < t.size(); ++i)
            QVERIFY2(t[i] - t[i - 1] <= 100, qPrintable(u"%1 ms without a repaint"_s.arg(t[i] - t[i - 1])));
        qInfo("one event of %lld characters took %lld ms with %lld repaints", qint64(flood.size()),
              end - start, qint64(paints.times.size()));
    }

    void portHeldByAnotherProcess()
    {
        QProcess holder;
        holder.start(QStringLiteral(PORTPROBE), {u"hold"_s, u"1"_s});
        QVERIFY(holder.waitForReadyRead(10000));
        QCOMPARE(holder.readLine().trimmed(), QByteArray("holding"));
        QVERIFY(!open());
        QCOMPARE(failures_->count(), 1);
        QVERIFY2(failure(0).startsWith(u"Open failed: port 1 ("_s) &&
                     failure(0).contains(u"in use by another program"_s), qPrintable(failure(0)));
        QCOMPARE(w_->textList().count(), 1); // the termination entry, no open entry
        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(10000));
        QVERIFY(open());
    }

    void portWithoutPermission()
    {
        if (::geteuid() != 0)
            QSKIP("needs root, to run the open as an unprivileged user with setpriv");
        const struct group* dialout = ::getgrnam("dialout");
        if (!dialout || QStandardPaths::findExecutable(u"setpriv"_s).isEmpty())
            QSKIP("needs the group dialout and setpriv (util-linux)");
        // The device as a real serial port is: root:dialout, 0660. The unprivileged user must be
        // able to read the port directory and run the probe.
        const QByteArray slave = QFile::encodeName(device_->slavePath());
        QVERIFY(::chown(slave.constData(), 0, dialout->gr_gid) == 0 && ::chmod(slave.constData(), 0660) == 0);
        for (QDir d(ports_.path()); d.path() != QDir::tempPath() && d.path() != u"/"_s; d.cdUp())
            ::chmod(QFile::encodeName(d.path()).constData(), 0755);
        QTemporaryDir bin;
        const QString probe = bin.filePath(u"portprobe"_s);
        QVERIFY(QFile::copy(QStringLiteral(PORTPROBE), probe));
        ::chmod(QFile::encodeName(bin.path()).constData(), 0755);

        QProcess p;
        p.start(u"setpriv"_s, {u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s, probe, u"open"_s, u"1"_s});
        QVERIFY(p.waitForFinished(10000));
        const QString message = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
        QCOMPARE(p.exitCode(), 1);
        QVERIFY2(message.contains(u"Permission denied"_s) && message.contains(u"dialout"_s) &&
                     message.contains(u"usermod"_s), qPrintable(message));
    }

    void absurdFields_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        for (const char* field : {"txtPORT", "txtSETUP", "txtMODE", "txtEND"}) {
            const QString name = QString::fromLatin1(field);
            QTest::addRow("%s, 100000 characters", field) << name << QString(100000, u'7');
            QTest::addRow("%s, control characters", field) << name << u"\t\r\n\x01\x1b\x7f"_s;
            QTest::addRow("%s, beyond 8 bits", field) << name << u"\u20ac\u6f22\U0001F600\xff"_s;
        }
    }

    void absurdFields()
    {
        QFETCH(QString, field);
        QFETCH(QString, text);
        w_->findChild<QLineEdit*>(field)->setText(text);
        if (open())
            w_->Command3->click();
        w_->Command4->click();
        // Each failure is one readable line, none of Log; Log wrote and emptied the lists.
        for (int i = 0; i < failures_->count(); ++i)
            QVERIFY2(!failure(i).contains(u'\n') && !failure(i).contains(u'\r') && failure(i).size() < 1000 &&
                         !failure(i).startsWith(u"Log failed"_s), qPrintable(failure(i).left(200)));
        QCOMPARE(w_->textList().count() + w_->valueList().count(), 0);
        QVERIFY(test::readFile(w_->logPath()).startsWith("-------------------------------------------------\r\nMode:"));
        QVERIFY(w_->isVisible());
    }
};

QTEST_MAIN(TstFaults)
#include "tst_faults.moc"
