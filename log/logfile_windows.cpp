#include "log/logfile.h"

#include <QFile>

// Windows: the file is written unlocked, and QFile's own flush is all the syncing there is.
namespace hexline::logfile {

QString defaultPath()
{
    return QStringLiteral("c:\\commlog.txt");
}

bool tryLock(const QFile&)
{
    return true;
}

bool isAtPath(const QFile&, const QString&)
{
    return true;
}

bool truncate(QFile& file, qint64 size, QString& why)
{
    if (file.isSequential() || file.resize(size))
        return true;
    why = file.errorString();
    return false;
}

bool sync(QFile&, QString&)
{
    return true;
}

bool syncDirectory(const QString&, QString&)
{
    return true;
}

} // namespace hexline::logfile
