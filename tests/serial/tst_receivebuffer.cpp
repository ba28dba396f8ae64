// The receive buffer with an in-memory device: what each read hands out, whatever pieces the
// device's bytes came in.
#include "serial/receivebuffer.h"

#include <QTest>

#include <cstring>

using namespace hexline;

namespace {

// Bytes as the port's reader holds them.
struct Source : ReceiveSource {
    QByteArray bytes;
    qint64 bytesAvailable() const override { return bytes.size(); }
    qint64 read(char* data, qint64 max) override
    {
        const qint64 n = std::min<qint64>(max, bytes.size());
        std::memcpy(data, bytes.constData(), size_t(n));
        bytes.remove(0, n);
        return n;
    }
};

} // namespace

class TstReceiveBuffer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void reads_data()
    {
        QTest::addColumn<bool>("binary");
        QTest::addColumn<bool>("marks");            // the device's bytes carry error marks
        QTest::addColumn<QByteArray>("fed");        // given before the device's bytes
        QTest::addColumn<QByteArrayList>("pieces"); // the device's bytes, one piece per read
        QTest::addColumn<int>("max");
        QTest::addColumn<QByteArrayList>("reads");
        QTest::addColumn<int>("left"); // still waiting at the end
        // clang-format off
        QTest::newRow("text, all at once")  << false << false << QByteArray() << QByteArrayList{"1A", "D"} << 0 << QByteArrayList{"1A", "D"} << 0;
        QTest::newRow("text, at most 2")    << false << false << QByteArray() << QByteArrayList{"12345"} << 2 << QByteArrayList{"12"} << 3;
        QTest::newRow("fed comes first")    << false << false << QByteArray("ab") << QByteArrayList{"c"} << 0 << QByteArrayList{"abc"} << 0;
        QTest::newRow("binary, an odd last byte waits for its partner")
            << true << false << QByteArray() << QByteArrayList{"abc", "d", "e"} << 0 << QByteArrayList{"ab", "cd", ""} << 1;
        QTest::newRow("binary, at most one pair")
            << true << false << QByteArray() << QByteArrayList{"abcdef"} << 2 << QByteArrayList{"ab"} << 4;
        QTest::newRow("marks decoded, one cut between reads")
            << false << true << QByteArray() << QByteArrayList{"1\xff", QByteArray("\0x2\xff\xff", 5)} << 0 << QByteArrayList{"1", "?2\xff"} << 0;
        QTest::newRow("marks left alone where not asked for")
            << false << false << QByteArray() << QByteArrayList{QByteArray("\xff\0x", 3)} << 0 << QByteArrayList{QByteArray("\xff\0x", 3)} << 0;
        QTest::newRow("binary, a decoded mark leaves an odd byte held")
            << true << true << QByteArray() << QByteArrayList{QByteArray("\xff\0xab", 5)} << 0 << QByteArrayList{"?a"} << 1;
        // clang-format on
    }

    void reads()
    {
        QFETCH(bool, binary);
        QFETCH(bool, marks);
        QFETCH(QByteArray, fed);
        QFETCH(QByteArrayList, pieces);
        QFETCH(int, max);
        QFETCH(QByteArrayList, reads);
        Source device;
        ReceiveBuffer input(device);
        input.setDecodeMarks(marks);
        input.feed(fed);
        qint64 arrived = fed.size();
        for (qsizetype i = 0; i < reads.size(); ++i) {
            device.bytes.append(pieces.value(i));
            arrived += pieces.value(i).size();
            const QByteArray got = binary ? input.takeBinary(max) : input.takeText(max).toLatin1();
            QCOMPARE(got, reads[i]);
            // Every byte that arrived is either taken or still waiting, marks and held bytes too.
            QCOMPARE(input.waiting() + input.taken(), arrived);
        }
        QTEST(int(input.waiting()), "left");
        input.reset();
        QCOMPARE(input.waiting(), device.bytesAvailable());
    }
};

QTEST_GUILESS_MAIN(TstReceiveBuffer)
#include "tst_receivebuffer.moc"
