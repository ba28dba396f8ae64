// The serial component against real pseudo-terminals attached through the port directory.
#include "error.h"
#include "portmap.h"
#include "ptypair.h"
#include "serialcomm.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <functional>
#include <memory>
#include <sys/resource.h>

using namespace hexline;
using namespace Qt::StringLiterals;
using hexline::test::PortDirectory;
using hexline::test::Pty;

namespace {

constexpr qint16 kPort = 3; // the pseudo-terminal's port number in every test

QString failure(const std::function<void()>& step)
{
    try {
        step();
    } catch (const Error& e) {
        return e.message();
    }
    return u"<no failure>"_s;
}

double cpuSeconds()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Records every communication event as the window's handler would see it, reading Input once
// for each receive event.
struct Recorder {
    SerialComm& comm;
    QList<qint16> events;
    QList<bool> openDuringEvent;
    QByteArray received; // Latin-1 of text input, or the bytes of binary input
    QList<qsizetype> readSizes;
    bool typesRight = true;
    bool threadRight = true;
    int depth = 0;
    int maxDepth = 0;
    std::function<void()> duringFirst; // runs inside the first receive event, after its read

    explicit Recorder(SerialComm& c) : comm(c)
    {
        QObject::connect(&comm, &SerialComm::OnComm, &comm, [this] { onComm(); });
    }

    void onComm()
    {
        maxDepth = std::max(maxDepth, ++depth);
        threadRight =
            threadRight && QThread::currentThread() == QCoreApplication::instance()->thread();
        events << comm.CommEvent();
        openDuringEvent << comm.PortOpen();
        if (comm.CommEvent() == SerialComm::kReceiveEvent) {
            const QVariant in = comm.Input();
            const bool binary = comm.InputMode() == SerialComm::kBinaryMode;
            typesRight =
                typesRight && in.typeId() == (binary ? QMetaType::QByteArray : QMetaType::QString);
            const QByteArray bytes = binary ? in.toByteArray() : in.toString().toLatin1();
            readSizes << bytes.size();
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

    PortDirectory dir_;
    std::unique_ptr<Pty> pty_;

    void open(SerialComm& comm, qint32 mode = SerialComm::kTextMode,
              const QString& settings = u"9600,N,8,1"_s)
    {
        comm.setInputMode(mode);
        comm.setRThreshold(1);
        comm.setSettings(settings);
        comm.setCommPort(kPort);
        comm.setPortOpen(true);
    }

private Q_SLOTS:
    void init()
    {
        QVERIFY(dir_.isValid());
        pty_ = std::make_unique<Pty>();
        QVERIFY(pty_->isValid());
        QVERIFY(dir_.attach(kPort, pty_->slavePath()));
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
        QTest::addColumn<QString>("refusal");   // empty: accepted
        QTest::addColumn<uint>("speed");
        QTest::addColumn<uint>("cflags"); // CSIZE | PARENB | CSTOPB bits
        const QString refused = u"does not accept the line settings "_s;
        // clang-format off
        QTest::newRow("defaults")           << "9600,N,8,1"         << "" << "" << uint(B9600)   << uint(CS8);
        QTest::newRow("two stop bits")      << "115200,N,8,2"       << "" << "" << uint(B115200) << uint(CS8 | CSTOPB);
        QTest::newRow("blanks, lower case") << " 1200 , n , 8 , 1 " << "" << "" << uint(B1200)   << uint(CS8);
        QTest::newRow("set while open")     << "300,N,8,1" << "19200,N,8,2" << "" << uint(B19200) << uint(CS8 | CSTOPB);
        QTest::newRow("refused at open")    << "4800,E,8,1" << "" << refused + u"\"4800,E,8,1\""_s << 0u << 0u;
        QTest::newRow("refused while open, restored") << "300,N,8,2" << "57600,O,7,1"
            << refused + u"\"57600,O,7,1\""_s << uint(B300) << uint(CS8 | CSTOPB);
        // clang-format on
    }

    void settingsReachTheDevice()
    {
        QFETCH(QString, atOpen);
        QFETCH(QString, whileOpen);
        QFETCH(QString, refusal);
        QFETCH(uint, speed);
        QFETCH(uint, cflags);
        SerialComm comm;
        const QString message = failure([&] {
            this->open(comm, SerialComm::kTextMode, atOpen);
            if (!whileOpen.isEmpty())
                comm.setSettings(whileOpen);
        });
        const QString device = QFileInfo(pty_->slavePath()).canonicalFilePath();
        if (refusal.isEmpty()) {
            QCOMPARE(message, u"<no failure>"_s);
        } else {
            QVERIFY2(message.contains(refusal), qPrintable(message));
            QVERIFY2(message.contains(u"port %1 (%2)"_s.arg(kPort).arg(device)),
                     qPrintable(message));
        }
        QCOMPARE(comm.PortOpen(), speed != 0);
        if (speed == 0) {
            SerialComm again; // the refused open released the device
            this->open(again);
            QVERIFY(again.PortOpen());
            return;
        }
        QCOMPARE(comm.devicePath(), device);
        const LineSettings expected =
            parseLineSettings(refusal.isEmpty() && !whileOpen.isEmpty() ? whileOpen : atOpen);
        QCOMPARE(comm.Settings(), toString(expected));
        const termios t = pty_->attributes();
        QCOMPARE(uint(cfgetispeed(&t)), speed);
        QCOMPARE(uint(cfgetospeed(&t)), speed);
        QCOMPARE(uint(t.c_cflag & (CSIZE | PARENB | CSTOPB)), cflags);
    }

    // Text mode: byte value = character code. Binary mode: reads of even size, an odd last byte
    // held back and delivered first with the next read.
    void receive_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArrayList>("chunks");
        QByteArray all(256, 0);
        for (int b = 0; b < 256; ++b)
            all[b] = char(b);
        const int text = SerialComm::kTextMode;
        const int binary = SerialComm::kBinaryMode;
        QTest::newRow("text, every byte value") << text << QByteArrayList{all};
        QTest::newRow("text, odd chunks") << text << QByteArrayList{"1A\r", "D"};
        QTest::newRow("binary, every byte value") << binary << QByteArrayList{all};
        QTest::newRow("binary, odd odd even")
            << binary << QByteArrayList{"\x01\x02\x03", "\x04\x05", "\x06"};
        QTest::newRow("binary, byte by byte") << binary << QByteArrayList{"a", "b", "c", "d", "e"};
        QTest::newRow("binary, high bytes")
            << binary << QByteArrayList{QByteArray("\xff\x00\x80", 3)};
    }

    void receive()
    {
        QFETCH(int, mode);
        QFETCH(QByteArrayList, chunks);
        SerialComm comm;
        Recorder r(comm);
        open(comm, mode);
        QByteArray written;
        for (const QByteArray& chunk : chunks) {
            QVERIFY(pty_->write(chunk));
            written += chunk;
            QTRY_COMPARE(qint64(r.received.size()) + comm.bytesWaiting(), qint64(written.size()));
        }
        const qint64 held = mode == SerialComm::kBinaryMode ? written.size() % 2 : 0;
        QCOMPARE(comm.bytesWaiting(), held);
        QCOMPARE(r.received, written.left(written.size() - held));
        QVERIFY(r.typesRight && r.threadRight);
        if (mode == SerialComm::kBinaryMode)
            QVERIFY(std::all_of(r.readSizes.begin(), r.readSizes.end(),
                                [](qsizetype n) { return n % 2 == 0; }));
        QCOMPARE(r.events, QList<qint16>(r.events.size(), SerialComm::kReceiveEvent));
    }

    // Input arriving while a handler runs (here one that spins the event loop) stays buffered
    // and raises the event again once the handler has returned.
    void eventNeverReentrant()
    {
        SerialComm comm;
        Recorder r(comm);
        r.duringFirst = [&] {
            pty_->write("B");
            QElapsedTimer t;
            t.start();
            while (comm.bytesWaiting() == 0 && t.elapsed() < 2000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        };
        open(comm);
        QVERIFY(pty_->write("A"));
        QTRY_COMPARE(r.received, QByteArray("AB"));
        QCOMPARE(r.events, (QList<qint16>{SerialComm::kReceiveEvent, SerialComm::kReceiveEvent}));
        QCOMPARE(r.maxDepth, 1);
        QVERIFY(r.threadRight);
    }

    void deviceRemoval_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("waiting"); // in the component when the device goes
        QTest::addColumn<QByteArray>("delivered");
        // clang-format off
        QTest::newRow("text")            << int(SerialComm::kTextMode)   << QByteArray("1A\rD")         << QByteArray("1A\rD");
        QTest::newRow("binary, odd byte has no partner")
                                         << int(SerialComm::kBinaryMode) << QByteArray("\x01\x02\x03") << QByteArray("\x01\x02");
        QTest::newRow("nothing waiting") << int(SerialComm::kTextMode)   << QByteArray()                << QByteArray();
        // clang-format on
    }

    void deviceRemoval()
    {
        QFETCH(int, mode);
        QFETCH(QByteArray, waiting);
        QFETCH(QByteArray, delivered);
        SerialComm comm;
        Recorder r(comm);
        QSignalSpy failed(&comm, &SerialComm::deviceFailed);
        open(comm, mode);
        comm.setRThreshold(100); // keep what arrives waiting in the component
        QVERIFY(pty_->write(waiting));
        QTRY_COMPARE(comm.bytesWaiting(), qint64(waiting.size()));

        auto* port = comm.findChild<QSerialPort*>();
        QVERIFY(port);
        int errors = 0;
        connect(port, &QSerialPort::errorOccurred, this, [&errors](QSerialPort::SerialPortError e) {
            if (e != QSerialPort::NoError)
                ++errors;
        });
        QElapsedTimer clock;
        clock.start();
        pty_->hangUp();
        QTRY_COMPARE(failed.count(), 1);
        const qint64 reportedAfter = clock.elapsed();
        const int errorsAtClose = errors;

        // The port is closed: the event loop idles.
        const double cpuBefore = cpuSeconds();
        QTest::qWait(300);
        const double cpuUsed = cpuSeconds() - cpuBefore;
        qInfo("removal reported after %lld ms, %d port errors until closed, %d after, %.1f ms CPU "
              "in 300 ms idle",
              reportedAfter, errorsAtClose, errors - errorsAtClose, cpuUsed * 1000);

        QCOMPARE(failed.count(), 1);
        QVERIFY(!comm.PortOpen());
        QCOMPARE(r.received, delivered);
        QList<qint16> expected;
        if (!delivered.isEmpty())
            expected << SerialComm::kReceiveEvent;
        expected << SerialComm::kDeviceErrorEvent;
        QCOMPARE(r.events, expected);
        QVERIFY(r.openDuringEvent.first() == !delivered.isEmpty());
        QVERIFY(!r.openDuringEvent.last()); // closed by the time the error event is raised
        QVERIFY(r.threadRight);
        const QString message = failed.first().first().toString();
        QVERIFY2(message.startsWith(u"Port %1 (/dev/"_s.arg(kPort)), qPrintable(message));
        QCOMPARE(errors, errorsAtClose);
        QVERIFY2(errorsAtClose <= 10, "the component must close on the first errors");
        QVERIFY2(cpuUsed < 0.1, "busy loop after the device went away");
    }

    void rejections()
    {
        const QString device = QFileInfo(pty_->slavePath()).canonicalFilePath();
        QVERIFY(dir_.attach(7, u"/nonexistent/ttyHX"_s));
        const QString present = u"port %1 (%2)"_s.arg(kPort).arg(device);
        SerialComm comm;
        SerialComm second;
        const auto openPort = [&](int port) {
            comm.setCommPort(qint16(port));
            comm.setPortOpen(true);
        };
        const QList<std::pair<QString, QStringList>> cases = {
            {failure([&] { comm.setCommPort(0); }), {u"port number must be 1 or more"_s}},
            {failure([&] { comm.setCommPort(-5); }), {u"port number must be 1 or more"_s}},
            {failure([&] { comm.Input(); }), {u"not open"_s}},
            {failure([&] { openPort(97); }), {u"port 97 has no device"_s, present}},
            {failure([&] { openPort(7); }),
             {u"port 7 (/nonexistent/ttyHX) cannot be opened: No such file or directory"_s,
              present}},
            {failure([&] { open(comm); }), {u"<no failure>"_s}},
            {failure([&] { comm.setCommPort(4); }), {u"already open"_s}},
            {failure([&] { open(second); }), {present + u" cannot be opened: it is in use"_s}},
        };
        for (const auto& [message, parts] : cases)
            for (const QString& part : parts)
                QVERIFY2(message.contains(part), qPrintable(message));
        QCOMPARE(comm.CommPort(), kPort);
        QVERIFY(comm.PortOpen());
        QVERIFY(!second.PortOpen());
        comm.setPortOpen(false);
        open(second); // released by the close
        QVERIFY(second.PortOpen());
    }

    void portNumbers_data()
    {
        QTest::addColumn<bool>("attached"); // port 1 leads to the pseudo-terminal
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("device"); // "pty" stands for the pseudo-terminal
        QTest::addColumn<int>("portForDevice");
        // clang-format off
        QTest::newRow("1") << false << 1 << "/dev/ttyS0" << 1;
        QTest::newRow("32") << false << 32 << "/dev/ttyS31" << 32;
        QTest::newRow("33") << false << 33 << "/dev/ttyUSB0" << 33;
        QTest::newRow("64") << false << 64 << "/dev/ttyUSB31" << 64;
        QTest::newRow("65") << false << 65 << "/dev/ttyACM0" << 65;
        QTest::newRow("96") << false << 96 << "/dev/ttyACM31" << 96;
        QTest::newRow("97 has none") << false << 97 << "" << 0;
        QTest::newRow("0 has none") << false << 0 << "" << 0;
        QTest::newRow("entry wins") << true << 1 << "pty" << 1;
        QTest::newRow("entry leaves others") << true << 2 << "/dev/ttyS1" << 2;
        QTest::newRow("built-in number taken") << true << 0 << "/dev/ttyS0" << 0;
        QTest::newRow("past a range") << false << 0 << "/dev/ttyUSB32" << 0;
        QTest::newRow("leading zero") << false << 0 << "/dev/ttyS01" << 0;
        QTest::newRow("unknown device") << false << 0 << "/dev/null" << 0;
        // clang-format on
    }

    void portNumbers()
    {
        QFETCH(bool, attached);
        QFETCH(int, port);
        QFETCH(QString, device);
        QFETCH(int, portForDevice);
        if (attached)
            QVERIFY(dir_.attach(1, pty_->slavePath()));
        else
            dir_.detach(1);
        if (device == u"pty")
            device = QFileInfo(pty_->slavePath()).canonicalFilePath();
        if (port != 0 || device.isEmpty())
            QCOMPARE(ports::devicePath(port), device);
        if (!device.isEmpty())
            QCOMPARE(ports::portForDevice(device), portForDevice);
        dir_.detach(1);
    }
};

QTEST_GUILESS_MAIN(TestSerialComm)
#include "tst_serialcomm.moc"
