#include "log/logfile.h"

#include <QFile>

// Windows: the file is written unlocked, and QFile's own flush is all the syncing there is.
namespace hexline::logfile {

QString defaultPath()
{
    return QStringLiteral("c:\\commlog.txt");
}

bool openForAppend(QFile& file, bool& created, QString& why)
{
    created = file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered |
                        QIODevice::NewOnly);
    if (created || file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return true;
    why = file.errorString();
    return false;
}

bool write(QFile& file, QByteArrayView data, qint64& written, int, QString& why)
{
    for (qint64 at = 0; at < data.size();) {
        const qint64 n = file.write(data.data() + at, data.size() - at);
        if (n <= 0) {
            why = file.errorString();
            return false;
        }
        at += n;
        written += n;
    }
    return true;
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
