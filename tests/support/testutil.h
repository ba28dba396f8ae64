#pragma once
// Small helpers that many tests share.

#include "errors/error.h"
#include "monitor/eventlist.h"

#include <QFile>
#include <QStringList>

#include <functional>
#include <optional>
#include <time.h>

namespace hexline::test {

// The message of the Error that step throws; none when it runs through.
inline std::optional<QString> failure(const std::function<void()>& step)
{
    try {
        step();
    } catch (const Error& e) {
        return e.message();
    }
    return std::nullopt;
}

// The entries of a list, index 0 first.
inline QStringList entries(const EventList& list)
{
    QStringList out;
    for (int i = 0; i < list.count(); ++i)
        out.append(list.entryAt(i));
    return out;
}

inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// The CPU time of the calling thread in ms: the event thread's own work, however busy the
// machine is.
inline qint64 threadCpuMs()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// The CPU time of the whole process in ms: a thread spinning anywhere in it counts too.
inline qint64 processCpuMs()
{
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

} // namespace hexline::test
