#pragma once

#include <QByteArrayView>
#include <QString>

class QFile;

// What Log asks of the file system beyond QFile, per operating system. Each reports failure with
// the system's reason in why.
namespace hexline::logfile {

// The log file's place: c:\commlog.txt on Windows, commlog.txt in the home directory elsewhere.
QString defaultPath();

// Opens the file at file's name for appending, creating it when missing, without waiting for
// anything the path leads to: a FIFO that no program reads fails at once, as does a socket, and a
// device opens without waiting for a carrier. created tells whether this call made the file.
bool openForAppend(QFile& file, bool& created, QString& why);

// Writes all of data to the open file, waiting waitMs at most in all for a pipe's reader to take
// it. written grows by what reached the file, also when it fails.
bool write(QFile& file, QByteArrayView data, qint64& written, int waitMs, QString& why);

// One try at an exclusive lock on the open file: false while another program holds it. A file
// system without locks counts as locked.
bool tryLock(const QFile& file);

// Whether the open file is still the one at path.
bool isAtPath(const QFile& file, const QString& path);

// Cuts the open file back to size and makes that durable. Devices have nothing to cut; a pipe
// cannot take back what it has passed on to its reader, and fails.
bool truncate(QFile& file, qint64 size, QString& why);

// Makes what was written to the file durable, and a new file's directory entry.
bool sync(QFile& file, QString& why);
bool syncDirectory(const QString& path, QString& why);

} // namespace hexline::logfile
