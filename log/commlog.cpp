#include "log/commlog.h"

#include "errors/error.h"
#include "log/logfile.h"
#include "monitor/eventlist.h"
#include "monitor/pairedlists.h"
#include "text/visibletext.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace hexline {

namespace {

constexpr char kSeparator[] = "-------------------------------------------------"; // 49 hyphens
constexpr char kPairJoin[] = " ----- ";
constexpr char kLineEnd[] = "\r\n";
// Another window's Log holds the file for a few milliseconds; one that holds it longer is stuck.
// A pipe's reader gets as long to take a block: nothing the path leads to holds Log up longer.
constexpr int kLockWaitMs = 3000;

[[noreturn]] void fail(const QString& path, const QString& what, const QString& why)
{
    throw Error(QStringLiteral("%1 %2: %3. Both lists are unchanged.")
                    .arg(shownName(QDir::toNativeSeparators(path)), what, why));
}

// The system's reason for the file operation that just failed. QFile reports a short write
// (a disk that fills up halfway) as "Unknown error", so errno comes first.
QString reason(int error, const QFileDevice& file)
{
    return error != 0 ? QString::fromLocal8Bit(std::strerror(error)) : file.errorString();
}

// Holds an exclusive lock on the open file, so that two windows' blocks never interleave and a
// failed block's cut-back can never take another window's block with it. False when another
// program kept it locked for kLockWaitMs; a file system without locks is written unlocked.
bool lockFile(const QFile& file)
{
    QElapsedTimer waited;
    waited.start();
    while (!logfile::tryLock(file)) {
        if (waited.elapsed() >= kLockWaitMs)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Opens the file for appending, creating it when missing, and locks it. Returns whether this Log
// created it.
bool openLocked(QFile& file, const QString& path)
{
    for (int attempt = 1;; ++attempt) {
        bool created = false;
        QString why;
        if (!logfile::openForAppend(file, created, why))
            fail(path, QStringLiteral("cannot be opened for appending"), why);
        if (!lockFile(file)) {
            file.close();
            fail(path, QStringLiteral("cannot be locked"),
                 QStringLiteral("another program has held its lock for %1 seconds")
                     .arg(kLockWaitMs / 1000));
        }
        if (logfile::isAtPath(file, path))
            return created;
        file.close();
        if (attempt == 10)
            fail(path, QStringLiteral("cannot be opened for appending"),
                 QStringLiteral("it was removed or replaced each time this Log found it"));
    }
}

// Takes back what reached the file of a block that failed, so that the file holds whole blocks
// only and agrees with the lists, which stay unchanged. A file that this Log created goes again,
// so that the next Log finds it new. Only this block is ever cut: the file is still locked, or
// locked again and cut only while this block is still its end. Devices keep nothing to take
// back; a pipe cannot.
bool restoreSize(QFile& file, const QString& path, qint64 size, qint64 end, bool created,
                 QString& why)
{
    if (!file.isOpen()) {
        bool recreated = false;
        if (!logfile::openForAppend(file, recreated, why))
            return false;
        if (!lockFile(file) || !logfile::isAtPath(file, path) || file.size() != end) {
            why = QStringLiteral("another program wrote to the file after it");
            return false;
        }
    }
    if (created && size == 0 && QFile::remove(path))
        return true;
    if (end == size) // nothing of the block reached it
        return true;
    return logfile::truncate(file, size, why);
}

// The platform's 8-bit encoding, with "?" for a character it cannot represent. UTF-8 holds every
// character but a lone surrogate, which the encoder would turn into a three-byte U+FFFD.
QByteArray to8Bit(QString text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (text.at(i).isSurrogate())
            text[i] = u'?'; // the only write, so only such a text is copied
    }
    return text.toLocal8Bit();
}

} // namespace

QString defaultLogPath()
{
    return logfile::defaultPath();
}

QByteArray formatLogBlock(const QString& modeText, const QString& termText,
                          const PairedLists& lists)
{
    QByteArray block;
    const auto line = [&block](const QByteArray& text) {
        block += text;
        block += kLineEnd;
    };
    line(kSeparator);
    // Typed or pasted text may hold line ends and escapes: shown as in the lists, so a header
    // stays two lines of plain text.
    line("Mode:" + to8Bit(visibleText(modeText)));
    line("Term:" + to8Bit(visibleText(termText)));
    line(kSeparator);
    // The count is read once; entry i of the text list belongs to entry i of the value list.
    const int count = lists.text.count();
    for (int i = 0; i < count; ++i) {
        const QString value = i < lists.values.count() ? lists.values.entryAt(i) : QString();
        line(to8Bit(lists.text.entryAt(i)) + kPairJoin + to8Bit(value));
    }
    return block;
}

void appendLog(const QString& path, const QString& modeText, const QString& termText,
               PairedLists lists)
{
    QFile file(path);
    const bool created = openLocked(file, path);
    // Measured under the lock: no other Log can append between this and the end of this one.
    const qint64 sizeBefore = file.size();
    qint64 written = 0;

    // A failure from here on takes the block back out of the file.
    const auto failWritten = [&](const QString& what, QString why) {
        QString restoreWhy;
        if (!restoreSize(file, path, sizeBefore, sizeBefore + written, created, restoreWhy))
            why += QStringLiteral(", and what was written of the block cannot be taken back (%1), "
                                  "so %2 part of a block")
                       .arg(restoreWhy, file.isSequential()
                                            ? QStringLiteral("the program reading it may have had")
                                            : QStringLiteral("the file may now end with"));
        file.close();
        fail(path, what, why);
    };
    const QByteArray block = formatLogBlock(modeText, termText, lists);
    QString why;
    if (!logfile::write(file, block, written, kLockWaitMs, why))
        failWritten(QStringLiteral("cannot be written"), why);
    if (!logfile::sync(file, why))
        failWritten(QStringLiteral("cannot be synced to the disk"), why);
    // A new file survives a power cut only once its directory entry is on the disk too: synced
    // when the first block lands in it, also in a file that an earlier Log left empty.
    if (sizeBefore == 0 && !logfile::syncDirectory(path, why))
        failWritten(QStringLiteral("was written, but its folder cannot be synced to the disk"),
                    why);
    errno = 0;
    file.close(); // releases the lock
    if (file.error() != QFileDevice::NoError)
        failWritten(QStringLiteral("cannot be closed"), reason(errno, file));

    lists.clear();
}

} // namespace hexline
