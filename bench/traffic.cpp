#include "bench/traffic.h"

#include <QDir>
#include <QFile>
#include <QList>

#include <random>
#include <unistd.h>

namespace hexline::bench {

QByteArray makeTraffic(std::size_t size)
{
    static const char nonTerminating[] = "0123456789ABCEF";
    std::mt19937 rng(42);
    QByteArray data;
    data.reserve(qsizetype(size));
    while (std::size_t(data.size()) < size) {
        if (rng() % 16384 == 0) {
            for (int i = 0; i < 300; ++i)
                data += nonTerminating[rng() % 15];
        } else {
            data += "0123456789ABCDEF"[rng() % 16];
        }
    }
    data.truncate(qsizetype(size));
    return data;
}

namespace {

// The pid of the X server whose command line names the display, or 0.
qint64 xServerPid(const QByteArray& display)
{
    const QStringList pids =
        QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& pid : pids) {
        QFile f(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> args = f.readAll().split('\0');
        if (args.isEmpty() ||
            !(args[0].endsWith("Xvfb") || args[0].endsWith("Xorg") || args[0].endsWith("X")))
            continue;
        if (args.contains(display))
            return pid.toLongLong();
    }
    return 0;
}

} // namespace

double xServerCpuSeconds()
{
    static const qint64 pid = xServerPid(qgetenv("DISPLAY"));
    if (pid == 0)
        return -1;
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    // The command name may hold blanks; the fields counted here start after its closing ')'.
    const QByteArray stat = f.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    // utime and stime are fields 14 and 15 of the whole line, 12 and 13 after the name.
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

} // namespace hexline::bench
