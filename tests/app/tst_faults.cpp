// What real users and devices do to the program: devices that vanish, ports held or forbidden
// by others, floods of input in one event, and absurd field contents. Each case checks that
// nothing was lost and that the program goes on.

#include "app/formmain.h"
#include "tests/app/windowfixture.h"
#include "tests/support/testutil.h"
#include "text/visibletext.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <grp.h>
#include <memory>
#include <sys/file.h>
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

// What holds the window's thread in nothingRefusedWhileBusy.
enum Busy { LockedLog, Resize, FailureBox };

// Paint times of a widget, in ms of the event thread's CPU time.
class PaintClock : public QObject {
public:
    explicit PaintClock(QWidget* w) { w->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            times << test::threadCpuMs();
        return false;
    }
    QList<qint64> times;
};

} // namespace

class TstFaults : public QObject, test::WindowFixture {
    Q_OBJECT

    bool open()
    {
        openButton()->click();
        return w_->serial().isOpen();
    }

    static bool canRunAsNobody()
    {
        return ::geteuid() == 0 && ::getgrnam("dialout") &&
               !QStandardPaths::findExecutable(u"setpriv"_s).isEmpty();
    }
    // Runs the port probe as the user nobody: its exit code and what it printed.
    std::pair<int, QString> probeAsNobody(const QStringList& arguments)
    {
        QTemporaryDir bin; // the build directory need not be open to nobody
        const QString probe = bin.filePath(u"portprobe"_s);
        if (!QFile::copy(QStringLiteral(PORTPROBE), probe))
            return {-1, u"cannot copy the probe"_s};
        ::chmod(QFile::encodeName(bin.path()).constData(), 0755);
        QProcess p;
        p.start(u"setpriv"_s,
                QStringList{u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s, probe} +
                    arguments);
        p.waitForFinished(10000);
        return {p.exitCode(), QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed()};
    }

private Q_SLOTS:
    void init() { QVERIFY(startWindow()); }
    void cleanup() { stopWindow(); }

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
        qint64 sent = 4;
        if (duringLongEvent) {
            // The device goes away while the handler is still walking a million characters.
            const QByteArray flood = lines(4000000);
            w_->serial().feedReceived(flood);
            sent = flood.size();
            std::thread unplug([this] {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                device_->hangUp();
            });
            QTRY_COMPARE_WITH_TIMEOUT(failures_->count(), 1, 20000);
            unplug.join();
        } else {
            QVERIFY(device_->write("12"));
            QTRY_COMPARE(textTail()->text(), u"12"_s);
            // More comes a moment later, and the device goes before its receive event is due:
            // the hang-up discards whatever the terminal still holds, so it must have been read.
            QVERIFY(device_->write("34"));
            const auto taken = [&] {
                return w_->receiver().charactersProcessed() - before + w_->serial().bytesWaiting();
            };
            // Hung up once the piece is read, which is before its event is due unless the
            // machine is very busy.
            QVERIFY(QTest::qWaitFor([&] { return taken() == 4; }));
            device_->hangUp();
            QTRY_COMPARE(failures_->count(), 1);
        }
        // Everything that arrived was processed, the port is closed, and the failure said once.
        QCOMPARE(w_->receiver().charactersProcessed() - before, sent);
        QVERIFY(!w_->serial().isOpen());
        QVERIFY2(
            failure(0).contains(u"failed and was closed: the device was removed or hung up."_s) &&
                failure(0).contains(u"Close"_s),
            qPrintable(failure(0)));
        const QPointer<QMessageBox> box = w_->findChild<QMessageBox*>();
        QCOMPARE(box->windowTitle(), u"Port failed"_s);
        QTest::qWait(100);
        QCOMPARE(failures_->count(), 1);
        QVERIFY(!openButton()->isEnabled() && closeButton()->isEnabled()); // the buttons stay

        // Close finds the port closed and swaps the buttons; Open works again once the device is
        // back.
        closeButton()->click();
        QCOMPARE(w_->textList().entryAt(0), u"COMM 1 close."_s);
        QVERIFY(openButton()->isEnabled() && !closeButton()->isEnabled());
        device_ = std::make_unique<test::Pty>();
        QVERIFY(ports_.attach(1, device_->slavePath()) && open());
        QVERIFY(!box || !box->isVisible()); // the port works again: its failure is no longer news
        QVERIFY(device_->write("5AD"));
        QTRY_COMPARE(w_->textList().entryAt(0), u"5A"_s);
        QCOMPARE(failures_->count(), 1);
    }

    void millionCharactersInOneEvent()
    {
        QVERIFY(open());
        PaintClock paints(textTail());
        QSignalSpy events(&w_->serial(), &SerialComm::commEvent);
        qint64 end = -1; // when the handler returned
        connect(&w_->serial(), &SerialComm::commEvent, this, [&] { end = test::threadCpuMs(); });
        // Long enough to take many frames, however fast the walk; lines of 17 characters, so that
        // the captions differ from one look at the clock to the next.
        const QByteArray flood = QByteArray("0123456789ABCEF1D").repeated(1500000) + "123";
        w_->serial().feedReceived(flood);
        const qint64 start = test::threadCpuMs();
        QTRY_VERIFY_WITH_TIMEOUT(w_->receiver().charactersProcessed() == flood.size(), 30000);
        QCOMPARE(events.count(), 1);
        QCOMPARE(w_->textList().count(), 500);
        QCOMPARE(w_->textList().entryAt(0), u"0123456789ABCEF1"_s);
        QCOMPARE(textTail()->text() + valueTail()->text(), u"1231 2 3 "_s);
        // The labels stayed live: repainted again and again while the handler walked, and never
        // more than 100 ms of its own work apart, up to its end. Time the machine gave to others
        // does not count, nor the reading of all the input at once before the walk.
        QList<qint64> t = paints.times;
        t.append(end);
        QVERIFY2(paints.times.size() >= 3, qPrintable(u"%1 repaints"_s.arg(paints.times.size())));
        for (qsizetype i = 1; i < t.size(); ++i)
            QVERIFY2(t[i] - t[i - 1] <= 100,
                     qPrintable(u"%1 ms without a repaint"_s.arg(t[i] - t[i - 1])));
        qInfo("one event of %lld characters took %lld ms of CPU time with %lld repaints",
              qint64(flood.size()), end - start, qint64(paints.times.size()));
    }

    // A real line's sender never waits: while the window's thread is held, the device must still
    // be read, or the terminal's buffer fills (about 20 KiB on a Linux pty: 1.8 s at 11520
    // characters a second) and what it refuses is lost.
    void nothingRefusedWhileBusy_data()
    {
        QTest::addColumn<int>("busy");
        QTest::newRow("Log waits 2 s for another program's lock") << int(LockedLog);
        QTest::newRow("the window is resized") << int(Resize);
        QTest::newRow("a failure box opens") << int(FailureBox);
    }

    void nothingRefusedWhileBusy()
    {
        QFETCH(int, busy);
        QVERIFY(open());
        const qint64 before = w_->receiver().charactersProcessed();
        test::DroppingDevice device(*device_, 11520, 3500);
        QTest::qWait(1000); // the lists full, so that painting them costs what it can
        switch (busy) {
        case LockedLog: {
            // A lock through another open file description holds Log up as another program's.
            QFile other(w_->logPath());
            QVERIFY(other.open(QIODevice::Append) && ::flock(other.handle(), LOCK_EX) == 0);
            std::thread release([&other] {
                std::this_thread::sleep_for(std::chrono::seconds(2));
                ::flock(other.handle(), LOCK_UN);
            });
            logButton()->click();
            release.join();
            QCOMPARE(failures_->count(), 0);
            break;
        }
        case Resize: {
            // No user can drag the fixed-size window, so its limit is lifted and the size set
            // from here: out and back in steps, each laid out and painted as a drag's resize
            // events are, with the event loop running between them. A window manager that holds
            // the thread in a resize loop of its own is not covered.
            const QSize size = w_->size();
            w_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
            for (int i = 1; i <= 40; ++i) {
                const int step = i <= 20 ? i : 40 - i;
                w_->resize(size + QSize(8 * step, 6 * step));
                QTRY_COMPARE(w_->size(), size + QSize(8 * step, 6 * step));
                w_->repaint();
                QCoreApplication::processEvents();
            }
            w_->setFixedSize(size);
            break;
        }
        case FailureBox:
            w_->setLogPath(dir_.path()); // a folder: Log fails at once, and the port stays open
            logButton()->click();
            QCOMPARE(failures_->count(), 1);
            QTRY_VERIFY(w_->findChild<QMessageBox*>()->isVisible());
            break;
        }
        QVERIFY(w_->serial().isOpen());
        QTRY_VERIFY_WITH_TIMEOUT(device.isDone(), 10000);
        QVERIFY2(device.refused() == 0,
                 qPrintable(
                     u"%1 characters refused, %2 taken, %3 processed by now"_s.arg(device.refused())
                         .arg(device.accepted())
                         .arg(w_->receiver().charactersProcessed() - before)));
        QTRY_COMPARE(w_->receiver().charactersProcessed() - before, device.accepted());
    }

    void portHeldByAnotherProcess_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("name"); // as /proc shows it
        QTest::newRow("another monitor")
            << QStringLiteral(PORTPROBE) << QStringList{u"hold"_s, u"1"_s} << u"hexline_portpro"_s;
        // Terminal programs lock the device with flock and set TIOCEXCL, as the probe does here.
        QTest::newRow("a terminal program")
            << QStringLiteral(PORTPROBE) << QStringList{u"lock"_s, u"DEVICE"_s}
            << u"hexline_portpro"_s;
        // A program names itself: a line end and a direction override in its name are shown.
        QTest::newRow("a program named with a line end")
            << QStringLiteral(PORTPROBE) << QStringList{u"lock"_s, u"DEVICE"_s, u"evil\n\u202eX"_s}
            << u"evil\u240a\ufffdX"_s;
    }

    void portHeldByAnotherProcess()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(QString, name);
        arguments.replaceInStrings(u"DEVICE"_s, device_->slavePath());
        QProcess holder;
        holder.start(program, arguments);
        QVERIFY(holder.waitForReadyRead(10000));
        QCOMPARE(holder.readLine().trimmed(), QByteArray("holding"));
        QVERIFY(!open());
        QCOMPARE(failures_->count(), 1);
        QVERIFY2(failure(0).startsWith(u"Open failed: port 1 ("_s) &&
                     failure(0).contains(
                         u"it is in use by another program (%1, pid %2)."_s.arg(name).arg(
                             holder.processId())),
                 qPrintable(failure(0)));
        QCOMPARE(w_->textList().count(), 1); // the termination entry, no open entry
        // The holder keeps the device to itself: its exclusive mode is left alone.
        if (canRunAsNobody() &&
            ::chmod(QFile::encodeName(device_->slavePath()).constData(), 0666) == 0)
            QCOMPARE(probeAsNobody({u"device"_s, device_->slavePath()}).second,
                     QString::fromLocal8Bit(std::strerror(EBUSY)));
        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(10000));
        QVERIFY(open());
    }

    void portWithoutPermission_data()
    {
        QTest::addColumn<bool>("dialout"); // the device's group, else root
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("advice");
        // As a real serial port is: the group that users join to open it.
        QTest::newRow("root:dialout 0660")
            << true << 0660
            << u"the device belongs to the group dialout; add your user to it with \"sudo "
               u"usermod -aG dialout $USER\" and log in again"_s;
        // Joining the group root, or a group that may not open the device, is never the advice.
        const QString onlyRoot = u"only root can open the device; a udev rule"_s;
        QTest::newRow("root:root 0600") << false << 0600 << onlyRoot;
        QTest::newRow("root:dialout 0600") << true << 0600 << onlyRoot;
    }

    void portWithoutPermission()
    {
        QFETCH(bool, dialout);
        QFETCH(int, mode);
        QFETCH(QString, advice);
        if (!canRunAsNobody())
            QSKIP("needs root, the group dialout and setpriv (util-linux), to open as an "
                  "unprivileged user");
        // The unprivileged user must be able to read the port directory.
        const QByteArray slave = QFile::encodeName(device_->slavePath());
        QVERIFY(::chown(slave.constData(), 0, dialout ? ::getgrnam("dialout")->gr_gid : 0) == 0 &&
                ::chmod(slave.constData(), mode_t(mode)) == 0);
        for (QDir d(ports_.path()); d.path() != QDir::tempPath() && d.path() != u"/"_s; d.cdUp())
            ::chmod(QFile::encodeName(d.path()).constData(), 0755);
        const auto [exitCode, message] = probeAsNobody({u"open"_s, u"1"_s});
        QCOMPARE(exitCode, 1);
        QVERIFY2(message.contains(u"Permission denied ("_s + advice), qPrintable(message));
        QVERIFY2(!message.contains(u"-aG root"_s), qPrintable(message));
    }

    // While the port is open here, no other program gets the device: not one that locks it,
    // and not one that is not root even if it does not lock. Both may once the port is closed.
    void portKeptFromOthers()
    {
        if (!canRunAsNobody())
            QSKIP("needs root, the group dialout and setpriv (util-linux), to open as an "
                  "unprivileged user");
        QVERIFY(::chmod(QFile::encodeName(device_->slavePath()).constData(), 0666) == 0);
        const auto tryOthers = [this] {
            const QStringList lock{u"--nonblock"_s, u"--conflict-exit-code"_s, u"9"_s,
                                   device_->slavePath(), u"true"_s};
            return QStringList{probeAsNobody({u"device"_s, device_->slavePath()}).second,
                               QString::number(QProcess::execute(u"flock"_s, lock))};
        };
        QVERIFY(open());
        QCOMPARE(tryOthers(), (QStringList{QString::fromLocal8Bit(std::strerror(EBUSY)), u"9"_s}));
        closeButton()->click();
        QCOMPARE(tryOthers(), (QStringList{u"opened"_s, u"0"_s}));
    }

    // A logout (SIGHUP), Ctrl+C (SIGINT) or SIGTERM ends the program as closing its window does,
    // by returning from main, which closes an open port and releases its lock.
    void endsOnSignals_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }

    void endsOnSignals()
    {
        QFETCH(int, signal);
        QProcess program;
        // Started as from a terminal, whatever this test inherited.
        program.setChildProcessModifier([signal] { ::signal(signal, SIG_DFL); });
        program.start(QStringLiteral(HEXLINE_BIN), {});
        QVERIFY(program.waitForStarted());
        // Sent once the program has set up its handlers, which /proc shows as signals caught.
        const auto catches = [&program, signal] {
            const QByteArray status = test::readFile(u"/proc/%1/status"_s.arg(program.processId()));
            const qsizetype at = status.indexOf("SigCgt:");
            return at >= 0 &&
                   (status.mid(at + 7, 17).trimmed().toULongLong(nullptr, 16) >> (signal - 1)) & 1;
        };
        QTRY_VERIFY_WITH_TIMEOUT(catches(), 10000);
        QVERIFY(::kill(pid_t(program.processId()), signal) == 0);
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
    }

    // Without a display to open the program says so in one line of its own, naming what to
    // check, and exits with status 1, where Qt would abort with advice to reinstall it.
    void withoutDisplay_data()
    {
        QTest::addColumn<QString>("variable");
        QTest::addColumn<QString>("value"); // empty: none of the three is set
        QTest::newRow("none named") << QString() << QString();
        QTest::newRow("a display that is not there") << u"DISPLAY"_s << u":65000"_s;
        QTest::newRow("a platform that is not there") << u"QT_QPA_PLATFORM"_s << u"nonesuch"_s;
    }

    void withoutDisplay()
    {
        QFETCH(QString, variable);
        QFETCH(QString, value);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString& name : {u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s, u"QT_QPA_PLATFORM"_s})
            env.remove(name);
        if (!variable.isEmpty())
            env.insert(variable, value);
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(HEXLINE_BIN), {});
        QVERIFY(program.waitForFinished(10000));
        const QString err = QString::fromLocal8Bit(program.readAllStandardError());
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 1);
        QVERIFY2(err.startsWith(u"hexline: no display could be opened: check that DISPLAY or "
                                u"WAYLAND_DISPLAY names a running display server, or that "
                                u"QT_QPA_PLATFORM names an installed platform ("_s) &&
                     err.count(u'\n') == 1 && err.endsWith(u").\n"_s),
                 qPrintable(err));
        if (!variable.isEmpty())
            QVERIFY2(err.contains(u"%1 is \"%2\""_s.arg(variable, value)), qPrintable(err));
    }

    void absurdFields_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("step"); // why Open fails on the long text; empty: it opens
        const QMap<QString, QString> steps{{u"txtPORT"_s, u"is not a port number"_s},
                                           {u"txtSETUP"_s, u"is not a line setting"_s},
                                           {u"txtMODE"_s, QString()},
                                           {u"txtEND"_s, u"is not a termination value"_s}};
        for (auto s = steps.begin(); s != steps.end(); ++s) {
            const QByteArray field = s.key().toLatin1();
            QTest::addRow("%s, 100000 characters", field.constData())
                << s.key() << QString(100000, u'7') << s.value();
            QTest::addRow("%s, control characters", field.constData())
                << s.key() << u"\t\r\n\x01\x1b\x7f"_s << QString();
            QTest::addRow("%s, beyond 8 bits", field.constData())
                << s.key() << u"\u20ac\u6f22\U0001F600\xff"_s << QString();
        }
    }

    void absurdFields()
    {
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(QString, step);
        QLineEdit* edit = w_->findChild<QLineEdit*>(field);
        edit->setText(text);
        QCOMPARE(edit->text(), text); // no length limit cuts it
        const bool opened = open();
        if (text.size() == 100000) {
            // The long text fails its own step, and the whole of it is counted; the steps before
            // it add nothing to the lists.
            QCOMPARE(opened, step.isEmpty());
            if (!opened) {
                QCOMPARE(failures_->count(), 1);
                const QString shown = u"Open failed: \""_s + QString(40, u'7') +
                                      u"\u2026 (100000 characters)\" "_s + step;
                QVERIFY2(failure(0).startsWith(shown), qPrintable(failure(0)));
                QCOMPARE(w_->textList().count() + w_->valueList().count(), 0);
            }
        }
        if (opened)
            closeButton()->click();
        logButton()->click();
        // Each failure is one readable line, none of Log; Log wrote and emptied the lists.
        for (int i = 0; i < failures_->count(); ++i)
            QVERIFY2(!failure(i).contains(u'\n') && !failure(i).contains(u'\r') &&
                         failure(i).size() < 1000 && !failure(i).startsWith(u"Log failed"_s),
                     qPrintable(failure(i).left(200)));
        QCOMPARE(w_->textList().count() + w_->valueList().count(), 0);
        const QList<QByteArray> log = test::readFile(w_->logPath()).split('\n');
        QVERIFY(log.size() > 4);
        QCOMPARE(log[0], QByteArray(49, '-') + '\r');
        QCOMPARE(log[1], "Mode:" + visibleText(modeEdit()->text()).toUtf8() + '\r');
        QCOMPARE(log[2], "Term:" + visibleText(terminationEdit()->text()).toUtf8() + '\r');
        QVERIFY(w_->isVisible());
    }
};

QTEST_MAIN(TstFaults)
#include "tst_faults.moc"
