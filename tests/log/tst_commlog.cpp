#include "log/commlog.h"
#include "monitor/eventlist.h"
#include "monitor/pairedlists.h"
#include "tests/support/testutil.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>

using namespace hexline;
using namespace Qt::StringLiterals;
using hexline::test::readFile;

namespace {

QByteArray golden(const char* name)
{
    return readFile(QStringLiteral(GOLDEN_DIR "/") + QLatin1String(name));
}

// Both lists, filled from pairs given top first: text 0, value 0, text 1, value 1, ...
struct Lists {
    EventList text, values;
    PairedLists pair() { return {text, values}; }
    explicit Lists(const QStringList& pairs = {})
    {
        for (qsizetype i = pairs.size() - 2; i >= 0; i -= 2) {
            text.insertTop(pairs[i]);
            values.insertTop(pairs[i + 1]);
        }
    }
    QStringList contents() const { return test::entries(text) + test::entries(values); }
};

const QString kTerm = u"Termination block set to :&H0D (13)"_s;
const QString kOpen = u"COMM 1 open."_s;
const QStringList kExample = {u"1A"_s, u"1 10 "_s, kOpen, kOpen, kTerm, kTerm};

} // namespace

class TstCommLog : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QString path() const { return dir_.filePath(u"commlog.txt"_s); }

private Q_SLOTS:
    // Log's only words on standard error are its own: Qt's warnings about seeking in a device or
    // a pipe are none of them.
    void init() { QTest::failOnWarning(QRegularExpression(u"."_s)); }
    void cleanup()
    {
        QFile::remove(path());
        QFile::remove(dir_.filePath(u"limited.txt"_s));
        QFile::remove(dir_.filePath(u"pipe"_s));
    }

    void block_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("term");
        QTest::addColumn<QStringList>("pairs");
        QTest::addColumn<QByteArray>("before"); // the file's content before Log; null: no file
        QTest::addColumn<QByteArray>("expected");
        const QByteArray example = golden("example.txt");
        QTest::newRow("example, new file")
            << u"t"_s << u"0D"_s << kExample << QByteArray() << example;
        // The block follows the last byte, even one that does not end a line.
        const QByteArray before("earlier block\r\nno line end");
        QTest::newRow("example, existing file")
            << u"t"_s << u"0D"_s << kExample << before << before + example;
        QTest::newRow("empty lists")
            << u"t"_s << u"0D"_s << QStringList() << QByteArray() << golden("header.txt");
        // Texts as typed, an empty pair, and characters the 8-bit encoding cannot hold.
        QTest::newRow("odd texts")
            << QString() << u"0G"_s
            << QStringList{QString(), QString(), u"-break- 1"_s + QChar(0xD800),
                           u"-break- 1 "_s + QChar(0xDC00) + u" "_s}
            << QByteArray() << golden("oddtexts.txt");
        // Line ends, escapes and characters that draw nothing or reverse the line, pasted into
        // the fields, must not split a header line, reach a terminal or hide in a viewer.
        QTest::newRow("control characters in the fields")
            << u"t\r\n\x1b[31m\u202e"_s << u"0D\t\x7f\u0085\u00e9\u00ad\U000E0041"_s
            << QStringList() << QByteArray() << golden("controls.txt");
    }

    void block()
    {
        QFETCH(QString, mode);
        QFETCH(QString, term);
        QFETCH(QStringList, pairs);
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, expected);
        if (!before.isNull()) {
            QFile f(path());
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(before) == before.size());
        }
        Lists lists(pairs);
        QCOMPARE(formatLogBlock(mode, term, lists.pair()), expected.mid(before.size()));
        appendLog(path(), mode, term, lists.pair());
        QCOMPARE(readFile(path()), expected);
        QCOMPARE(lists.text.count() + lists.values.count(), 0);
    }

    void moreThan500Entries()
    {
        Lists lists;
        constexpr int count = 1234;
        for (int i = 0; i < count; ++i)
            lists.pair().insertPlain(u"COMM %1 open."_s.arg(i));
        appendLog(path(), u"b"_s, u"FFFF"_s, lists.pair());
        const QList<QByteArray> lines = readFile(path()).split('\n');
        QCOMPARE(lines.size(), 4 + count + 1); // the last line end leaves an empty tail
        QVERIFY(lines.last().isEmpty());
        QCOMPARE(lines[2], "Term:FFFF\r");
        for (int i = 0; i < count; ++i) {
            const QByteArray entry = "COMM " + QByteArray::number(count - 1 - i) + " open.";
            QCOMPARE(lines[4 + i], entry + " ----- " + entry + "\r");
        }
    }

    // A device takes a block as a file does. A FIFO's reader gets what a file would; one that stops
    // taking it fails Log within the bound of Log's waits, and one that has gone fails it at once,
    // without the signal that would end the program. A pipe cannot take back what it passed on:
    // its reader has part of a block, then the whole one once Log is pressed again.
    void devicesAndPipes()
    {
        Lists example(kExample);
        appendLog(u"/dev/null"_s, u"t"_s, u"0D"_s, example.pair());
        QCOMPARE(example.text.count() + example.values.count(), 0);

        const QString fifo = dir_.filePath(u"pipe"_s);
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(reader >= 0);
        Lists lists;
        for (int i = 0; i < 4000; ++i) // more than a pipe holds
            lists.pair().insertPlain(u"COMM %1 open."_s.arg(i));
        const QStringList contents = lists.contents();
        const QByteArray block = formatLogBlock(u"t"_s, u"0D"_s, lists.pair());
        QElapsedTimer took;
        took.start();
        QCOMPARE(test::failure([&] { appendLog(fifo, u"t"_s, u"0D"_s, lists.pair()); }),
                 fifo + u" cannot be written: the program reading the pipe did not take the block "
                        u"within 3 seconds, and what was written of the block cannot be taken back "
                        u"(a pipe passes on at once what it is given), so the program reading it "
                        u"may have had part of a block. Both lists are unchanged."_s);
        QVERIFY2(took.elapsed() >= 2900 && took.elapsed() < 5000,
                 qPrintable(u"%1 ms"_s.arg(took.elapsed())));
        QCOMPARE(lists.contents(), contents);

        // A writer of the test's own keeps the reader from an end of file between the two Logs.
        const int holder = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
        QVERIFY(holder >= 0);
        QByteArray received;
        std::thread reading([&] {
            ::fcntl(reader, F_SETFL, O_RDONLY); // waits for more until the writers close
            char buffer[4096];
            for (ssize_t n; (n = ::read(reader, buffer, sizeof buffer)) > 0;)
                received.append(buffer, n);
        });
        const auto again = test::failure([&] { appendLog(fifo, u"t"_s, u"0D"_s, lists.pair()); });
        ::close(holder);
        reading.join();
        ::close(reader);
        QVERIFY2(!again, qPrintable(again.value_or(QString())));
        const QByteArray part = received.chopped(block.size());
        QVERIFY(!part.isEmpty() && block.startsWith(part) && received.endsWith(block));
        QCOMPARE(lists.text.count() + lists.values.count(), 0);

        // The reader goes while Log waits for it to take more.
        const int second = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(second >= 0);
        Lists more;
        for (int i = 0; i < 4000; ++i)
            more.pair().insertPlain(u"COMM %1 open."_s.arg(i));
        std::thread leaving([second] { // once the pipe is full
            const int capacity = ::fcntl(second, F_GETPIPE_SZ);
            for (int held = 0, i = 0;
                 i < 10000 && ::ioctl(second, FIONREAD, &held) == 0 && held < capacity; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ::close(second);
        });
        took.restart();
        const auto gone = test::failure([&] { appendLog(fifo, u"t"_s, u"0D"_s, more.pair()); });
        leaving.join();
        QVERIFY2(
            gone.value_or(QString()).startsWith(
                fifo + u" cannot be written: the program reading the pipe stopped reading it, "_s),
            qPrintable(gone.value_or(u"<no failure>"_s)));
        QVERIFY(took.elapsed() < 2000);
        QCOMPARE(more.contents(), contents);
    }

    void failure_data()
    {
        QTest::addColumn<QString>("target");    // relative paths are inside the temporary directory
        QTest::addColumn<QByteArray>("before"); // the target's content before Log; null: none
        QTest::addColumn<qint64>("sizeLimit");  // how large a file may grow (RLIMIT_FSIZE); 0: any
        QTest::addColumn<QString>("reason");
        // A device that takes nothing: the failure is told, and there is nothing to take back.
        QTest::newRow("device that is always full")
            << u"/dev/full"_s << QByteArray() << qint64(0) << u"cannot be written"_s;
        // A file that can grow only part of the way: what reached it of the block is taken back
        // out, and a file that the failed Log created is gone again.
        QTest::newRow("file size limit, existing file")
            << u"limited.txt"_s << QByteArray("earlier block\r\n") << qint64(100)
            << u"cannot be written"_s;
        QTest::newRow("file size limit, new file")
            << u"limited.txt"_s << QByteArray() << qint64(100) << u"cannot be written"_s;
        QTest::newRow("missing directory") << u"no/such/commlog.txt"_s << QByteArray() << qint64(0)
                                           << u"cannot be opened for appending"_s;
        QTest::newRow("path is a directory")
            << u"."_s << QByteArray() << qint64(0) << u"cannot be opened for appending"_s;
        // Opening it would wait for a reader.
        QTest::newRow("FIFO that no program reads")
            << u"pipe"_s << QByteArray() << qint64(0)
            << u"cannot be opened for appending: it is a pipe (FIFO) that no program is reading."_s;
    }

    void failure()
    {
        QFETCH(QString, target);
        QFETCH(QByteArray, before);
        QFETCH(qint64, sizeLimit);
        QFETCH(QString, reason);
        if (QDir::isRelativePath(target))
            target = QDir::cleanPath(dir_.filePath(target));
        if (!before.isNull()) {
            QFile f(target);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(before) == before.size());
        }
        if (target.endsWith(u"/pipe"_s))
            QVERIFY(::mkfifo(QFile::encodeName(target).constData(), 0600) == 0);
        Lists lists(kExample);
        rlimit unlimited{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &unlimited) == 0);
        const rlimit limited{rlim_t(sizeLimit), unlimited.rlim_max};
        if (sizeLimit > 0) // a write past the limit then fails with EFBIG instead of a signal
            QVERIFY(std::signal(SIGXFSZ, SIG_IGN) != SIG_ERR &&
                    ::setrlimit(RLIMIT_FSIZE, &limited) == 0);
        QElapsedTimer took;
        took.start();
        const std::optional<QString> failed =
            test::failure([&] { appendLog(target, u"t"_s, u"0D"_s, lists.pair()); });
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &unlimited) == 0);
        QVERIFY2(took.elapsed() < 2000, qPrintable(u"%1 ms"_s.arg(took.elapsed()))); // at once
        const QString message = failed.value_or(u"<no failure>"_s);
        QVERIFY2(message.startsWith(target + u" "_s + reason), qPrintable(message));
        QVERIFY2(message.endsWith(u". Both lists are unchanged."_s), qPrintable(message));
        QCOMPARE(lists.contents(), Lists(kExample).contents());
        if (sizeLimit > 0) {
            QCOMPARE(QFile::exists(target), !before.isNull());
            QCOMPARE(readFile(target), before.isNull() ? QByteArray("<unreadable>") : before);
        }

        // Nothing was lost: the next Log to a good file writes it all,
        // and a second Log in a row adds a block of the emptied lists.
        appendLog(path(), u"t"_s, u"0D"_s, lists.pair());
        appendLog(path(), u"t"_s, u"0D"_s, lists.pair());
        QCOMPARE(readFile(path()), golden("example.txt") + golden("header.txt"));
    }

    // A disk that fills up in the middle of a block: the file keeps whole blocks only, the lists
    // stay, and once there is room the next Log writes the block once. The test runs itself
    // again in a mount namespace of its own, where it mounts a small tmpfs.
    void fullDisk()
    {
        const QByteArray inside = qgetenv("HEXLINE_FULL_DISK");
        if (inside.isEmpty()) {
            if (::geteuid() != 0 || QStandardPaths::findExecutable(u"unshare"_s).isEmpty())
                QSKIP(
                    "needs root and unshare (util-linux), to mount a small file system of its own");
            QProcess self;
            self.setProcessChannelMode(QProcess::MergedChannels);
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(u"HEXLINE_FULL_DISK"_s, u"1"_s);
            self.setProcessEnvironment(env);
            self.start(u"unshare"_s, {u"--mount"_s, u"--propagation"_s, u"private"_s,
                                      QCoreApplication::applicationFilePath(), u"fullDisk"_s});
            QVERIFY(self.waitForFinished(60000));
            const QString out = QString::fromLocal8Bit(self.readAll());
            if (out.startsWith(u"unshare:"_s) || out.contains(u"SKIP   :"_s))
                QSKIP(qPrintable(u"no mount namespace with a small file system here: "_s +
                                 out.trimmed()));
            QVERIFY2(self.exitStatus() == QProcess::NormalExit && self.exitCode() == 0,
                     qPrintable(out));
            for (const QString& line : out.split(u'\n'))
                if (line.startsWith(u"QINFO"_s))
                    qInfo("%s", qPrintable(line.mid(line.indexOf(u") "_s) + 2)));
            return;
        }

        const QString mountPoint = dir_.filePath(u"small"_s);
        QVERIFY(QDir().mkpath(mountPoint));
        const QByteArray where = QFile::encodeName(mountPoint);
        if (::mount("tmpfs", where.constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP(qPrintable(u"cannot mount a tmpfs: "_s +
                             QString::fromLocal8Bit(std::strerror(errno))));
        struct Unmount {
            QByteArray where;
            ~Unmount() { ::umount(where.constData()); }
        } unmount{where};
        const QString log = mountPoint + u"/commlog.txt"_s;
        Lists example(kExample);
        appendLog(log, u"t"_s, u"0D"_s, example.pair());
        const QByteArray before = readFile(log);

        // Fill the file system, then free one page: the next block fits only in part.
        QFile filler(mountPoint + u"/filler"_s);
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray page(4096, 'x');
        while (filler.write(page) == page.size()) {
        }
        QVERIFY(filler.resize(filler.size() / page.size() * page.size() - page.size()));
        filler.close();
        struct statvfs fs {};
        QVERIFY(::statvfs(where.constData(), &fs) == 0);
        const qint64 room = qint64(fs.f_bavail) * qint64(fs.f_bsize);

        Lists lists;
        for (int i = 0; i < 400; ++i)
            lists.pair().insertPlain(u"COMM %1 open."_s.arg(i));
        const QStringList contents = lists.contents();
        const QByteArray block = formatLogBlock(u"t"_s, u"0D"_s, lists.pair());
        QVERIFY(block.size() > room + page.size());
        const auto message = test::failure([&] { appendLog(log, u"t"_s, u"0D"_s, lists.pair()); });
        QCOMPARE(
            message.value_or(QString()),
            u"%1 cannot be written: No space left on device. Both lists are unchanged."_s.arg(log));
        const QByteArray afterFailure = readFile(log);
        QCOMPARE(afterFailure, before);
        QCOMPARE(lists.contents(), contents);

        QVERIFY(filler.remove());
        appendLog(log, u"t"_s, u"0D"_s, lists.pair());
        QCOMPARE(readFile(log), before + block);
        QCOMPARE(lists.text.count() + lists.values.count(), 0);
        qInfo("log file %lld bytes before a block of %lld bytes with %lld bytes free; %lld bytes "
              "after "
              "the failed Log, %lld after the next one",
              qint64(before.size()), qint64(block.size()), room, qint64(afterFailure.size()),
              qint64(QFileInfo(log).size()));

        // Two windows Log into the file at the same time while the disk fills up, round after
        // round: one keeps failing with a block bigger than the room left, the other presses Log
        // after each new line. Every block reported as written is in the file, whole and once,
        // and nothing else is.
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        while (filler.write(page) == page.size()) {
        }
        QVERIFY(filler.resize(filler.size() / page.size() * page.size() - 2 * page.size()));
        filler.close();
        const QByteArray base = readFile(log);
        for (int i = 0; i < 400; ++i)
            lists.pair().insertPlain(u"COMM %1 open."_s.arg(i));
        std::atomic<int> bigWritten = 0, bigFailed = 0;
        int written = 0, failed = 0;
        for (int round = 0; round < 20; ++round) {
            std::atomic<bool> done = false;
            std::thread big([&] {
                for (; !done; std::this_thread::sleep_for(std::chrono::microseconds(200)))
                    ++(test::failure([&] { appendLog(log, u"t"_s, u"0D"_s, lists.pair()); })
                           ? bigFailed
                           : bigWritten);
            });
            QByteArray expected = base;
            Lists small;
            for (int i = 0; i < 80; ++i) {
                small.pair().insertTrimmed(u"line %1"_s.arg(i), u"%1 "_s.arg(i));
                const QByteArray smallBlock = formatLogBlock(u"t"_s, u"0D"_s, small.pair());
                const bool ok =
                    !test::failure([&] { appendLog(log, u"t"_s, u"0D"_s, small.pair()); });
                (ok ? written : failed)++;
                expected += ok ? smallBlock : QByteArray();
            }
            done = true;
            big.join();
            QCOMPARE(readFile(log), expected);
            QVERIFY(QFile::resize(log, base.size()));
        }
        QCOMPARE(bigWritten.load(), 0);
        QVERIFY(written > 0 && failed > 0 && bigFailed > 0);
        qInfo("two writers: %d small blocks written and %d failed, %d big blocks failed", written,
              failed, bigFailed.load());
    }
};

QTEST_GUILESS_MAIN(TstCommLog)
#include "tst_commlog.moc"
