// The serial component against real pseudo-terminals attached through the port directory.
#include "serial/portmap.h"
#include "serial/serialcomm.h"
#include "tests/support/ptypair.h"
#include "tests/support/testutil.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <thread>

using namespace hexline;
using namespace Qt::StringLiterals;
using hexline::test::failure;

namespace {

constexpr qint16 kPort = 3; // the pseudo-terminal's port number in every test
// Input modes as the tables hold them.
constexpr int kText = int(SerialComm::InputMode::Text);
constexpr int kBinary = int(SerialComm::InputMode::Binary);

// Records every communication event as the window's handler would see it, reading Input once
// for each receive event, and notes whatever a handler must never see.
struct Recorder {
    SerialComm& comm;
    QList<CommEvent> events;
    QList<bool> openDuringEvent;
    QByteArray received; // Latin-1 of text input, or the bytes of binary input
    QStringList wrong;
    int depth = 0;
    std::function<void()> duringFirst; // runs inside the first receive event, after its read

    explicit Recorder(SerialComm& c) : comm(c)
    {
        QObject::connect(&comm, &SerialComm::commEvent, &comm, [this](CommEvent e) { onComm(e); });
    }
    void onComm(CommEvent event)
    {
        if (depth++ > 0)
            wrong << u"event raised inside a handler"_s;
        if (QThread::currentThread() != QCoreApplication::instance()->thread())
            wrong << u"event on another thread"_s;
        events << event;
        openDuringEvent << comm.isOpen();
        if (event == CommEvent::Receive) {
            const QVariant in = comm.readInput();
            const bool binary = comm.inputMode() == SerialComm::InputMode::Binary;
            if (in.typeId() != (binary ? QMetaType::QByteArray : QMetaType::QString))
                wrong << u"Input of the wrong type"_s;
            const QByteArray bytes = binary ? in.toByteArray() : in.toString().toLatin1();
            if (bytes.size() % 2 != 0 && binary)
                wrong << u"binary read of odd size"_s;
            received += bytes;
            if (events.size() == 1 && duringFirst)
                duringFirst();
        }
        --depth;
    }
};

} // namespace

class TestSerialComm : public QObject {
    Q_OBJECT

    test::PortDirectory dir_;
    std::unique_ptr<test::Pty> pty_;

    void open(SerialComm& comm, int mode = kText, const QString& settings = u"9600,N,8,1"_s)
    {
        comm.setInputMode(SerialComm::InputMode(mode));
        comm.setReceiveThreshold(1);
        comm.setSettings(settings);
        comm.setPortNumber(kPort);
        comm.setOpen(true);
    }
    QString device() const { return QFileInfo(pty_->slavePath()).canonicalFilePath(); }

private Q_SLOTS:
    void init()
    {
        pty_ = std::make_unique<test::Pty>();
        QVERIFY(dir_.isValid() && pty_->isValid() && dir_.attach(kPort, pty_->slavePath()));
    }
    void cleanup()
    {
        dir_.detach(kPort);
        pty_.reset();
    }

    // A pseudo-terminal keeps baud rate and stop bits but forces 8 data bits and no parity, so
    // it also plays a device that refuses a setting.
    void settingsReachTheDevice_data()
    {
        QTest::addColumn<QString>("atOpen");
        QTest::addColumn<QString>("whileOpen"); // empty: none
        QTest::addColumn<QString>("refused");   // empty: accepted
        QTest::addColumn<uint>("speed");
        QTest::addColumn<uint>("cflags"); // CSIZE | PARENB | CSTOPB bits
        // clang-format off
        QTest::newRow("defaults")           << "9600,N,8,1"         << "" << "" << uint(B9600)   << uint(CS8);
        QTest::newRow("two stop bits")      << "115200,N,8,2"       << "" << "" << uint(B115200) << uint(CS8 | CSTOPB);
        QTest::newRow("blanks, lower case") << " 1200 , n , 8 , 1 " << "" << "" << uint(B1200)   << uint(CS8);
        QTest::newRow("set while open")     << "300,N,8,1" << "19200,N,8,2" << "" << uint(B19200) << uint(CS8 | CSTOPB);
        QTest::newRow("refused at open")    << "4800,E,8,1" << "" << "4800,E,8,1" << 0u << 0u;
        QTest::newRow("refused while open, restored") << "300,N,8,2" << "57600,O,7,1"
            << "57600,O,7,1" << uint(B300) << uint(CS8 | CSTOPB);
        // clang-format on
    }

    void settingsReachTheDevice()
    {
        QFETCH(QString, atOpen);
        QFETCH(QString, whileOpen);
        QFETCH(QString, refused);
        QFETCH(uint, speed);
        SerialComm comm;
        const auto message = failure([&] {
            this->open(comm, kText, atOpen);
            if (!whileOpen.isEmpty())
                comm.setSettings(whileOpen);
        });
        QVERIFY2(
            refused.isEmpty()
                ? !message
                : message &&
                      message->contains(
                          u"port %1 (%2) does not accept the line settings \"%3\""_s.arg(kPort).arg(
                              device(), refused)),
            qPrintable(message.value_or(u"<no failure>"_s)));
        QCOMPARE(comm.isOpen(), speed != 0);
        if (speed == 0) {
            SerialComm again; // the refused open released the device
            this->open(again);
            QVERIFY(again.isOpen());
            return;
        }
        QCOMPARE(comm.devicePath(), device());
        const QString kept = refused.isEmpty() && !whileOpen.isEmpty() ? whileOpen : atOpen;
        QCOMPARE(comm.settings(), toString(parseLineSettings(kept)));
        const termios t = pty_->attributes();
        QCOMPARE(uint(cfgetispeed(&t)), speed);
        QCOMPARE(uint(cfgetospeed(&t)), speed);
        QTEST(uint(t.c_cflag & (CSIZE | PARENB | CSTOPB)), "cflags");
        // The terminal marks bytes with errors, also after Qt applied a parity again: it sends a
        // byte FF doubled, so that FF 00 41 arrives as itself, never as a marked "A" ("?").
        QVERIFY(pty_->write(QByteArray("\xff\0A", 3)));
        QString received;
        QTRY_VERIFY((received += comm.readInput().toString()).size() >= 3);
        QCOMPARE(received, QString::fromLatin1("\xff\0A", 3));
    }

    // Text mode: byte value = character code. Binary mode: reads of even size, an odd last byte
    // held back and delivered first with the next read. Input arriving while a handler runs
    // (one that spins the event loop) stays buffered and raises the event again afterwards. A
    // device that trickles raises the event once per interval, not at every read.
    void receive_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArrayList>("chunks");
        QTest::addColumn<bool>("spin"); // the first handler writes the second chunk and spins
        QTest::addColumn<int>("inputLen");
        QTest::addColumn<bool>("trickle"); // a chunk every millisecond, not one per event
        QByteArray all(256, 0);
        for (int b = 0; b < 256; ++b)
            all[b] = char(b);
        const int text = kText, binary = kBinary;
        QTest::newRow("text, every byte value")
            << text << QByteArrayList{all} << false << 0 << false;
        QTest::newRow("text, odd chunks")
            << text << QByteArrayList{"1A\r", "D"} << false << 0 << false;
        // The terminal doubles a received \377 to tell it from an error mark.
        QTest::newRow("text, \\377 alone")
            << text << QByteArrayList{"\xff", "1\xff"} << false << 0 << false;
        QTest::newRow("text, input during a handler")
            << text << QByteArrayList{"A", "B"} << true << 0 << false;
        QTest::newRow("binary, every byte value")
            << binary << QByteArrayList{all} << false << 0 << false;
        QTest::newRow("binary, odd odd even")
            << binary << QByteArrayList{"\x01\x02\x03", "\x04\x05", "\x06"} << false << 0 << false;
        QTest::newRow("binary, byte by byte")
            << binary << QByteArrayList{"a", "b", "c", "d", "e"} << false << 0 << false;
        QTest::newRow("binary, high bytes")
            << binary << QByteArrayList{QByteArray("\xff\x00\x80", 3)} << false << 0 << false;
        // InputLen 1 still takes one whole character, a byte pair, at a time.
        QTest::newRow("binary, InputLen 1")
            << binary << QByteArrayList{"abcd"} << false << 1 << false;
        // An odd byte waiting for its partner does not make the events come sooner.
        QTest::newRow("text, a trickle") << text << QByteArrayList(100, "12") << false << 0 << true;
        QTest::newRow("binary, a trickle after an odd byte")
            << binary << QByteArrayList{"1"} + QByteArrayList(100, "23") << false << 0 << true;
    }

    void receive()
    {
        QFETCH(int, mode);
        QFETCH(QByteArrayList, chunks);
        QFETCH(bool, spin);
        QFETCH(int, inputLen);
        QFETCH(bool, trickle);
        SerialComm comm;
        Recorder r(comm);
        if (spin)
            r.duringFirst = [&] {
                pty_->write(chunks[1]);
                QElapsedTimer t;
                t.start();
                while (comm.bytesWaiting() == 0 && t.elapsed() < 2000)
                    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            };
        open(comm, mode);
        comm.setInputLength(qint16(inputLen));
        const qint64 readsBefore = comm.deviceReads();
        QByteArray written = spin ? chunks.join() : QByteArray();
        QElapsedTimer clock;
        clock.start();
        for (const QByteArray& chunk : spin ? chunks.mid(0, 1) : chunks) {
            QVERIFY(pty_->write(chunk));
            written += spin ? QByteArray() : chunk;
            if (trickle)
                QTest::qWait(1);
            else
                QTRY_COMPARE(qint64(r.received.size()) + comm.bytesWaiting(),
                             qint64(written.size()));
        }
        QTRY_COMPARE(qint64(r.received.size()) + comm.bytesWaiting(), qint64(written.size()));
        if (spin) // the second chunk was already counted as waiting: wait for its own event
            QTRY_COMPARE(r.events.size(), 2);
        const qint64 held = mode == kBinary ? written.size() % 2 : 0;
        QTRY_COMPARE(comm.bytesWaiting(),
                     held); // a trickle is told an interval after the last telling
        // Events at most every 15 ms (the interval is 16), a bound that a slow machine only
        // loosens (writes that come further apart take longer); one event per read breaks it. Reads
        // come a few ms apart too: reading at every chunk breaks that.
        const qint64 elapsed = clock.elapsed();
        if (trickle) {
            QVERIFY2(r.events.size() <= elapsed / 15 + 2,
                     qPrintable(u"%1 events in %2 ms"_s.arg(r.events.size()).arg(elapsed)));
            const qint64 reads = comm.deviceReads() - readsBefore;
            QVERIFY2(reads <= elapsed / 5 + 5,
                     qPrintable(u"%1 reads in %2 ms"_s.arg(reads).arg(elapsed)));
        }
        QCOMPARE(r.received, written.left(written.size() - held));
        QCOMPARE(r.wrong, QStringList());
        QCOMPARE(r.events, QList<CommEvent>(r.events.size(), CommEvent::Receive));
    }

    // Reading goes on while the window's thread is held (a Log waiting for another program's
    // lock, a slow sync): a device that drops what the terminal will not take, as a UART's
    // receive buffer overflows, loses nothing in 2 s at 11,520 chars/s.
    void readsWhileWindowHeld()
    {
        SerialComm comm;
        Recorder r(comm);
        open(comm, kText, u"115200,N,8,1"_s);
        test::DroppingDevice device(*pty_, 11520, 3000);
        QTest::qWait(500);
        QThread::msleep(2000); // the window's thread does nothing else meanwhile
        device.wait();
        QCOMPARE(device.refused(), 0);
        QTRY_COMPARE(qint64(r.received.size()), device.accepted());
        QCOMPARE(r.received,
                 test::DroppingDevice::kLine
                     .repeated(device.accepted() / test::DroppingDevice::kLine.size() + 1)
                     .left(device.accepted()));
    }

    // A device faster than the window's thread takes its input fills the reader only up to its
    // bound, then waits in the terminal, rather than filling memory; nothing is lost once the
    // window takes it.
    void boundedWhileWindowHeld()
    {
        SerialComm comm;
        Recorder r(comm);
        open(comm, kText);
        std::atomic<bool> stop = false;
        std::atomic<qint64> sent = 0;
        const QByteArray chunk(65536, '7');
        std::thread device([&] {
            while (!stop)
                sent += std::max<qsizetype>(0, pty_->writeSome(chunk.data(), chunk.size(), 20));
        });
        QThread::msleep(2000); // the window's thread takes nothing meanwhile
        const qint64 held = comm.bytesWaiting();
        stop = true;
        device.join();
        QVERIFY2(held <= PortReader::kCapacity + chunk.size(), qPrintable(QString::number(held)));
        QTRY_COMPARE_WITH_TIMEOUT(qint64(r.received.size()), sent.load(), 20000);
    }

    void deviceRemoval_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("waiting"); // in the component when the device goes
        QTest::addColumn<QByteArray>("delivered");
        // clang-format off
        QTest::newRow("text")            << kText   << QByteArray("1A\rD")         << QByteArray("1A\rD");
        QTest::newRow("binary, odd byte has no partner")
                                         << kBinary << QByteArray("\x01\x02\x03") << QByteArray("\x01\x02");
        QTest::newRow("nothing waiting") << kText   << QByteArray()                << QByteArray();
        // clang-format on
    }

    void deviceRemoval()
    {
        QFETCH(int, mode);
        QFETCH(QByteArray, waiting);
        QFETCH(QByteArray, delivered);
        SerialComm comm;
        Recorder r(comm);
        open(comm, mode);
        comm.setReceiveThreshold(100); // keep what arrives waiting in the component
        QVERIFY(pty_->write(waiting));
        QTRY_COMPARE(comm.bytesWaiting(), qint64(waiting.size()));
        pty_->hangUp();
        QTRY_COMPARE(r.events.count(CommEvent::DeviceError), 1);
        // The port is closed: the whole process idles, using a small share of the time that
        // passes however busy the machine is, where a busy loop would use most of it.
        const qint64 cpuBefore = test::processCpuMs();
        QElapsedTimer idle;
        idle.start();
        QTest::qWait(300);
        QVERIFY2(test::processCpuMs() - cpuBefore < idle.elapsed() / 2,
                 "busy loop after the device went away");
        QCOMPARE(r.events.count(CommEvent::DeviceError), 1);

        QVERIFY(!comm.isOpen());
        QCOMPARE(r.received, delivered);
        QCOMPARE(r.events, QList<CommEvent>(delivered.isEmpty() ? 0 : 1, CommEvent::Receive)
                               << CommEvent::DeviceError);
        QCOMPARE(r.openDuringEvent.first(), !delivered.isEmpty());
        QVERIFY(!r.openDuringEvent.last()); // closed by the time the error event is raised
        QCOMPARE(r.wrong, QStringList());
        const QString message = comm.failureMessage();
        QVERIFY2(message.startsWith(u"Port %1 (/dev/"_s.arg(kPort)), qPrintable(message));
    }

    void rejections()
    {
        QVERIFY(dir_.attach(7, u"/nonexistent/ttyHX"_s));
        // Entries that lead to no terminal are never listed as serial devices present, and
        // opening one says what it is not.
        QTemporaryDir fifoDir;
        const QString fifo = fifoDir.filePath(u"fifo"_s);
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        const QStringList notTerminals{u"/dev/null"_s, QCoreApplication::applicationFilePath(),
                                       QDir::tempPath(), fifo};
        for (int i = 0; i < notTerminals.size(); ++i)
            QVERIFY(dir_.attach(8 + i, notTerminals[i]));
        const QString present = u"port %1 (%2)"_s.arg(kPort).arg(device());
        SerialComm comm, second;
        const auto openPort = [&](int port) {
            comm.setPortNumber(qint16(port));
            comm.setOpen(true);
        };
        // Each step's failure, and what its message says; no parts: it runs through.
        const QList<std::pair<std::optional<QString>, QStringList>> cases = {
            {failure([&] { comm.setPortNumber(0); }),
             {u"there is no port 0: port numbers start at 1."_s}},
            {failure([&] { comm.setPortNumber(-5); }),
             {u"there is no port -5: port numbers start at 1."_s}},
            {failure([&] { comm.readInput(); }), {u"not open"_s}},
            {failure([&] { openPort(97); }), {u"port 97 has no device"_s, present}},
            {failure([&] { openPort(8); }),
             {u"port 8 (/dev/null) cannot be opened: it is not a serial device."_s, present}},
            {failure([&] { openPort(9); }), {u"cannot be opened: it is not a serial device."_s}},
            {failure([&] { openPort(10); }), {u"cannot be opened: it is not a serial device."_s}},
            {failure([&] { openPort(11); }), {u"cannot be opened: it is not a serial device."_s}},
            {failure([&] { openPort(7); }),
             {u"port 7 (/nonexistent/ttyHX) cannot be opened: No such file or directory"_s,
              present}},
            {failure([&] { open(comm); }), {}},
            {failure([&] { comm.setPortNumber(4); }), {u"already open"_s}},
            {failure([&] { open(second); }), {present + u" cannot be opened: it is in use"_s}},
        };
        for (const auto& [message, parts] : cases) {
            QVERIFY2(message.has_value() == !parts.isEmpty(),
                     qPrintable(message.value_or(u"<no failure>"_s)));
            for (const QString& part : parts)
                QVERIFY2(message->contains(part), qPrintable(message.value_or(QString())));
            const QString listed = message.value_or(QString()).section(u"present: "_s, 1);
            for (const QString& path : notTerminals)
                QVERIFY2(!listed.contains(path + u')'), qPrintable(listed));
        }
        QCOMPARE(comm.portNumber(), kPort);
        QVERIFY(comm.isOpen() && !second.isOpen());
        comm.setOpen(false);
        open(second); // released by the close
        QVERIFY(second.isOpen());
        for (int port = 7; port <= 11; ++port)
            dir_.detach(port);
    }

    // The port number that names a device (in messages, say) is the one that opens it; an entry
    // in the port directory takes its number from the built-in device.
    void portNumbers_data()
    {
        QTest::addColumn<bool>("attached");  // port 1 leads to the pseudo-terminal
        QTest::addColumn<QString>("device"); // empty: the pseudo-terminal
        QTest::addColumn<bool>("numbered");  // some port number opens it
        // clang-format off
        QTest::newRow("serial port")            << false << "/dev/ttyS5"    << true;
        QTest::newRow("USB adapter")            << false << "/dev/ttyUSB31" << true;
        QTest::newRow("ACM device")             << false << "/dev/ttyACM0"  << true;
        QTest::newRow("entry")                  << true  << ""              << true;
        QTest::newRow("built-in number taken")  << true  << "/dev/ttyS0"    << false;
        QTest::newRow("past a range")           << false << "/dev/ttyUSB32" << false;
        QTest::newRow("leading zero")           << false << "/dev/ttyS01"   << false;
        QTest::newRow("unknown device")         << false << "/dev/null"     << false;
        // clang-format on
    }

    void portNumbers()
    {
        QFETCH(bool, attached);
        QFETCH(QString, device);
        QFETCH(bool, numbered);
        dir_.detach(1);
        if (attached)
            QVERIFY(dir_.attach(1, pty_->slavePath()));
        if (device.isEmpty())
            device = this->device();
        const int port = ports::portForDevice(device);
        QCOMPARE(port != 0, numbered);
        if (numbered)
            QCOMPARE(ports::devicePath(port), device);
        dir_.detach(1);
    }
};

QTEST_GUILESS_MAIN(TestSerialComm)
#include "tst_serialcomm.moc"
