#pragma once

#include <QString>

class QFile;

// What Log asks of the file system beyond QFile, per operating system. Each reports failure with
// the system's reason in why.
namespace hexline::logfile {

// The log file's place: c:\commlog.txt on Windows, commlog.txt in the home directory elsewhere.
QString defaultPath();

// One try at an exclusive lock on the open file: false while another program holds it. A file
// system without locks counts as locked.
bool tryLock(const QFile& file);

// Whether the open file is still the one at path.
bool isAtPath(const QFile& file, const QString& path);

// Cuts the open file back to size and makes that durable. Devices and pipes have nothing to cut.
bool truncate(QFile& file, qint64 size, QString& why);

// Makes what was written to the file durable, and a new file's directory entry.
bool sync(QFile& file, QString& why);
bool syncDirectory(const QString& path, QString& why);

} // namespace hexline::logfile
