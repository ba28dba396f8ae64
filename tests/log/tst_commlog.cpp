#include "commlog.h"
#include "error.h"
#include "eventlist.h"
#include "pairedlists.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace hexline;
using namespace Qt::StringLiterals;

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

QByteArray golden(const char* name)
{
    return readAll(QStringLiteral(GOLDEN_DIR "/") + QLatin1String(name));
}

// Both lists, filled from pairs given top first: text 0, value 0, text 1, value 1, ...
struct Lists {
    EventList text, values;
    PairedLists pair() { return {text, values}; }
    void fill(const QStringList& pairs)
    {
        for (qsizetype i = pairs.size() - 2; i >= 0; i -= 2) {
            text.insertTop(pairs[i]);
            values.insertTop(pairs[i + 1]);
        }
    }
    QStringList contents() const
    {
        QStringList all;
        for (int i = 0; i < text.count(); ++i)
            all << text.entryAt(i) << values.entryAt(i);
        return all;
    }
};

const QString kTerm = u"Termination block set to :&H0D (13)"_s;
const QString kOpen = u"COMM 1 open."_s;
const QStringList kExample = {u"1A"_s, u"1 10 "_s, kOpen, kOpen, kTerm, kTerm};

// True while this process holds a descriptor on path.
bool heldOpen(const QString& path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    const QDir fds(u"/proc/self/fd"_s);
    for (const QString& fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        if (!target.isEmpty() && QFileInfo(fds.filePath(fd)).symLinkTarget() == target)
            return true;
    return false;
}

} // namespace

class TstCommLog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void block_data();
    void block();
    void twoLogsInARow();
    void moreThan500Entries();
    void failure_data();
    void failure();
};

void TstCommLog::block_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("term");
    QTest::addColumn<QStringList>("pairs");
    QTest::addColumn<QByteArray>("before"); // the file's content before Log; null: no file
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("example, new file") << u"t"_s << u"0D"_s << kExample << QByteArray() << golden("example.txt");
    // The block follows the last byte, even one that does not end a line.
    const QByteArray before("earlier block\r\nno line end");
    QTest::newRow("example, existing file") << u"t"_s << u"0D"_s << kExample << before << before + golden("example.txt");
    QTest::newRow("empty lists") << u"t"_s << u"0D"_s << QStringList() << QByteArray() << golden("header.txt");
    // Texts as typed, an empty pair, and characters the 8-bit encoding cannot hold.
    QTest::newRow("odd texts") << QString() << u"0G"_s
                               << QStringList{QString(), QString(), u"-break- 1"_s + QChar(0xD800),
                                              u"-break- 1 "_s + QChar(0xDC00) + u" "_s}
                               << QByteArray() << golden("oddtexts.txt");
}

void TstCommLog::block()
{
    QFETCH(QString, mode);
    QFETCH(QString, term);
    QFETCH(QStringList, pairs);
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, expected);

    QTemporaryDir dir;
    const QString path = dir.filePath(u"commlog.txt"_s);
    if (!before.isNull()) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(before);
    }
    Lists lists;
    lists.fill(pairs);
    QCOMPARE(formatLogBlock(mode, term, lists.pair()), expected.mid(before.size()));

    appendLog(path, mode, term, lists.pair());

    QCOMPARE(readAll(path), expected);
    QCOMPARE(lists.text.count(), 0);
    QCOMPARE(lists.values.count(), 0);
    QVERIFY(!heldOpen(path));
}

void TstCommLog::twoLogsInARow()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"commlog.txt"_s);
    Lists lists;
    lists.fill(kExample);
    appendLog(path, u"t"_s, u"0D"_s, lists.pair());
    appendLog(path, u"t"_s, u"0D"_s, lists.pair());
    QCOMPARE(readAll(path), golden("example.txt") + golden("header.txt"));
}

void TstCommLog::moreThan500Entries()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"commlog.txt"_s);
    Lists lists;
    constexpr int count = 1234;
    for (int i = 0; i < count; ++i)
        lists.pair().insertPlain(u"COMM %1 open."_s.arg(i));
    appendLog(path, u"b"_s, u"FFFF"_s, lists.pair());

    const QList<QByteArray> lines = readAll(path).split('\n');
    QCOMPARE(lines.size(), 4 + count + 1); // the last line end leaves an empty tail
    QVERIFY(lines.last().isEmpty());
    QCOMPARE(lines[2], "Term:FFFF\r");
    for (int i = 0; i < count; ++i) {
        const QByteArray entry = "COMM " + QByteArray::number(count - 1 - i) + " open.";
        QCOMPARE(lines[4 + i], entry + " ----- " + entry + "\r");
    }
    QCOMPARE(lists.text.count(), 0);
}

void TstCommLog::failure_data()
{
    QTest::addColumn<QString>("path"); // relative paths are inside a temporary directory
    QTest::addColumn<QString>("reason");

    QTest::newRow("full disk") << u"/dev/full"_s << u"cannot be written"_s;
    QTest::newRow("missing directory") << u"no/such/commlog.txt"_s << u"cannot be opened for appending"_s;
    QTest::newRow("path is a directory") << u"."_s << u"cannot be opened for appending"_s;
}

void TstCommLog::failure()
{
    QFETCH(QString, path);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    if (QDir::isRelativePath(path))
        path = QDir::cleanPath(dir.filePath(path));
    Lists lists;
    lists.fill(kExample);

    try {
        appendLog(path, u"t"_s, u"0D"_s, lists.pair());
        QFAIL("Log did not fail");
    } catch (const Error& e) {
        QVERIFY2(e.message().startsWith(path + u" "_s + reason + u": "_s), qPrintable(e.message()));
        QVERIFY2(e.message().endsWith(u". Both lists are unchanged."_s), qPrintable(e.message()));
    }
    QCOMPARE(lists.contents(), kExample);
    QVERIFY(!heldOpen(path));

    // The file was released and nothing was lost: the next Log to a good file writes it all.
    const QString good = dir.filePath(u"commlog.txt"_s);
    appendLog(good, u"t"_s, u"0D"_s, lists.pair());
    QCOMPARE(readAll(good), golden("example.txt"));
    QCOMPARE(lists.text.count(), 0);
}

QTEST_GUILESS_MAIN(TstCommLog)
#include "tst_commlog.moc"
