// What watching a line costs: the real window and serial component on a pseudo-terminal, fed by a
// writer that writes every millisecond at a fixed rate, as a USB adapter delivers. Each rate is
// measured twice: with the lists growing from empty (emptied again, as Log empties them, before
// they are full) and with the lists full. Per rate and phase it prints the drain rate, the
// monitor's CPU seconds per second (the writer's own CPU taken off), the X server's when it can be
// found, their total, the frames painted per second, the monitor's wake-ups (voluntary context
// switches of its threads, and of the window's thread alone) and read calls per second, how long a
// line waited from its last character's write to the first paint that could show it, and how long a
// character did (99th percentile and longest of each), and memory at the start and the end. Per
// rate, a bare reader of the same kind of terminal, fed the same way, is the floor: the CPU and
// wake-ups that merely reading at that rate costs, and the monitor's total as a multiple of it.
// Usage: cpu_cost
// [--rounds=N] [seconds per phase [rate...]]
//        (default 10 s; idle, 960, 11520, 100000 and 1200000 characters per second; with N
//        rounds, each rate and phase's median total after the last)

#include "app/formmain.h"
#include "bench/memory.h"
#include "bench/traffic.h"
#include "bench/window.h"
#include "monitor/eventlist.h"
#include "tests/support/ptypair.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <map>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace hexline;

namespace {

struct Usage {
    double cpu = 0;
    qint64 wakeUps = 0; // voluntary context switches: each one a sleep that ended
};

Usage usage(int who)
{
    rusage u{};
    getrusage(who, &u);
    return {double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
                double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6,
            qint64(u.ru_nvcsw)};
}

// Read calls made by the process so far, from /proc/self/io (-1 where it is not there).
qint64 readCalls()
{
    QFile f(QStringLiteral("/proc/self/io"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("syscr:"))
            return line.mid(6).trimmed().toLongLong();
    return -1;
}

QByteArray loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray("n/a");
}

double monotonicNow()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Writes what is due every millisecond into a terminal, on an absolute schedule, at the rate set.
class Writer {
public:
    Writer(test::Pty& device, const QByteArray& traffic)
        : thread_(QThread::create([this, &device, &traffic] { run(device, traffic); }))
    {
        thread_->start();
    }
    ~Writer()
    {
        stop_ = true;
        thread_->wait();
        delete thread_;
    }
    void setRate(qint64 rate) { rate_ = rate; }
    qint64 sent() const { return sent_; }
    Usage usage() const { return {cpu_, wakeUps_}; }
    // When the character with this number (counted from 0) was written, in seconds on the
    // monotonic clock; 0 when it was not written yet or is too old to be remembered.
    double writtenAt(qint64 character) const
    {
        const qint64 writes = writes_.load(std::memory_order_acquire);
        const qint64 oldest = std::max<qint64>(0, writes - kWrites);
        qint64 lo = oldest, hi = writes;
        while (lo < hi) { // the first write whose total passed the character
            const qint64 mid = (lo + hi) / 2;
            if (log_[mid % kWrites].sentAfter > character)
                hi = mid;
            else
                lo = mid + 1;
        }
        return lo < writes && (lo > oldest || oldest == 0) ? log_[lo % kWrites].time : 0;
    }

private:
    void run(test::Pty& device, const QByteArray& traffic)
    {
        qsizetype at = 0;
        timespec next{};
        clock_gettime(CLOCK_MONOTONIC, &next);
        qint64 phaseRate = -1;
        double phaseStart = 0;
        qint64 phaseSent = 0;
        while (!stop_.load(std::memory_order_relaxed)) {
            next.tv_nsec += 1000000;
            if (next.tv_nsec >= 1000000000) {
                next.tv_nsec -= 1000000000;
                ++next.tv_sec;
            }
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
            const double now = double(next.tv_sec) + double(next.tv_nsec) / 1e9;
            if (rate_ != phaseRate) {
                phaseRate = rate_;
                phaseStart = now;
                phaseSent = 0;
            }
            qint64 due = qint64((now - phaseStart) * double(phaseRate)) - phaseSent;
            while (due > 0) {
                const qsizetype n = device.writeSome(
                    traffic.constData() + at, std::min<qsizetype>(due, traffic.size() - at), 1);
                if (n < 0 || stop_)
                    break;
                due -= n;
                phaseSent += n;
                sent_ += n;
                at = (at + n) % traffic.size();
            }
            if (const qint64 w = writes_.load(std::memory_order_relaxed);
                w == 0 || log_[(w - 1) % kWrites].sentAfter != sent_) {
                log_[w % kWrites] = {sent_.load(std::memory_order_relaxed), monotonicNow()};
                writes_.store(w + 1, std::memory_order_release);
            }
            const Usage u = ::usage(RUSAGE_THREAD);
            cpu_ = u.cpu;
            wakeUps_ = u.wakeUps;
        }
    }

    struct Write {
        qint64 sentAfter = 0;
        double time = 0;
    };
    static constexpr qint64 kWrites = 1 << 16; // the last minute, at a write a millisecond
    std::vector<Write> log_ = std::vector<Write>(kWrites);
    std::atomic<qint64> writes_{0};
    std::atomic<qint64> rate_{0};
    std::atomic<qint64> sent_{0};
    std::atomic<double> cpu_{0};
    std::atomic<qint64> wakeUps_{0};
    std::atomic<bool> stop_{false};
    QThread* thread_;
};

// The floor: a thread that only reads the slave side of a terminal fed at the rate, waking up
// whenever there is something to read. Its CPU and wake-ups per second.
Usage bareReader(const QByteArray& traffic, qint64 rate, double seconds)
{
    test::Pty device;
    const int fd = ::open(QFile::encodeName(device.slavePath()).constData(), O_RDONLY | O_NOCTTY);
    if (!device.isValid() || fd < 0)
        return {};
    std::atomic<bool> stop{false};
    Usage used;
    QThread* reader = QThread::create([&] {
        static char buffer[1 << 16];
        const Usage start = usage(RUSAGE_THREAD);
        while (!stop) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 100) > 0)
                (void)::read(fd, buffer, sizeof buffer);
        }
        const Usage end = usage(RUSAGE_THREAD);
        used = {end.cpu - start.cpu, end.wakeUps - start.wakeUps};
    });
    {
        Writer writer(device, traffic);
        writer.setRate(rate);
        reader->start();
        QThread::usleep(qint64(seconds * 1e6));
        stop = true;
        reader->wait();
    }
    delete reader;
    ::close(fd);
    return {used.cpu / seconds, qint64(double(used.wakeUps) / seconds)};
}

// Counts the paints of a few widgets, and the frames they were painted in: paints less than a few
// milliseconds apart belong to one frame.
struct PaintCounter : QObject {
    qint64 listPaints = 0, frames = 0;
    QObject* list = nullptr;
    QElapsedTimer sinceLast;
    std::function<void()> onListPaint;
    // The characters a paint shows for the first time are those processed since the one before:
    // the oldest of them waited longest, and so did the first line they end.
    std::function<qint64()> processed;
    std::function<double(qint64)> writtenAt;
    std::function<qint64(qint64, qint64)> firstLineEnd; // its character, or -1
    qint64 shown = 0;
    // One a paint that showed something new, in seconds: of its oldest character, and of its
    // first ended line's last character.
    std::vector<double> charLags, lineLags;
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (e->type() != QEvent::Paint)
            return false;
        if (const qint64 now = processed(); now > shown) {
            const double at = monotonicNow();
            if (const double written = writtenAt(shown); written > 0)
                charLags.push_back(at - written);
            if (const qint64 end = firstLineEnd(shown, now); end >= 0)
                if (const double written = writtenAt(end); written > 0)
                    lineLags.push_back(at - written);
            shown = now;
        }
        if (!sinceLast.isValid() || sinceLast.nsecsElapsed() > 4000000)
            ++frames;
        sinceLast.start();
        if (watched == list) {
            ++listPaints;
            if (onListPaint)
                onListPaint();
        }
        return false;
    }
};

struct Sample {
    double wall;
    Usage process, writer, window; // window: the window's thread alone
    double xCpu;
    qint64 received, sent, kib, reads, frames, listPaints;
};

} // namespace

int main(int argc, char* argv[])
{
    int rounds = 1;
    QList<QByteArray> args;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg.startsWith("--rounds="))
            rounds = std::max(1, arg.mid(9).toInt());
        else
            args.append(arg);
    }
    const double seconds = !args.isEmpty() ? args[0].toDouble() : 10.0;
    QList<qint64> rates{0, 960, 11520, 100000, 1200000};
    if (args.size() > 1) {
        rates.clear();
        for (qsizetype i = 1; i < args.size(); ++i)
            rates.append(args[i].toLongLong());
    }

    test::PortDirectory ports;
    test::Pty device;
    if (!device.isValid() || !ports.attach(1, device.slavePath())) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }

    QApplication app(argc, argv);
    QTemporaryDir logDir;
    FormMain window;
    window.setLogPath(logDir.filePath(QStringLiteral("commlog.txt")));
    if (!hexline::bench::showAndOpen(window))
        return 1;

    auto* textView = window.findChild<QAbstractItemView*>(QStringLiteral("List1"));
    auto* valueView = window.findChild<QAbstractItemView*>(QStringLiteral("List2"));
    auto* textTail = window.findChild<QLabel*>(QStringLiteral("Label2"));
    auto* valueTail = window.findChild<QLabel*>(QStringLiteral("Label3"));
    PaintCounter paints;
    paints.list = textView->viewport();
    paints.processed = [&] { return window.receiver().charactersProcessed(); };
    for (QWidget* w : {textView->viewport(), valueView->viewport(), static_cast<QWidget*>(textTail),
                       static_cast<QWidget*>(valueTail)})
        w->installEventFilter(&paints);
    // While growing, the lists are emptied (as Log empties them) before they are full: checked as
    // the list is painted, so that the check wakes nothing of its own.
    bool growing = false;
    paints.onListPaint = [&] {
        if (growing && window.textList().count() >= PairedLists::kTrimThreshold * 9 / 10)
            QTimer::singleShot(0, &window, [&] { window.lists().clear(); });
    };

    const QByteArray traffic = bench::makeTraffic(std::size_t(16) << 20);
    Writer writer(device, traffic);
    paints.writtenAt = [&](qint64 character) { return writer.writtenAt(character); };
    // The traffic's lines end at the termination value's digit; the few broken off at 200
    // characters are not timed.
    paints.firstLineEnd = [&](qint64 from, qint64 to) -> qint64 {
        for (qint64 c = from; c < to; ++c)
            if (traffic[c % traffic.size()] == 'D')
                return c;
        return -1;
    };

    QElapsedTimer clock;
    clock.start();
    const auto sample = [&] {
        return Sample{clock.elapsed() / 1000.0,
                      usage(RUSAGE_SELF),
                      writer.usage(),
                      usage(RUSAGE_THREAD),
                      bench::xServerCpuSeconds(),
                      window.receiver().charactersProcessed(),
                      writer.sent(),
                      bench::residentKiB(),
                      readCalls(),
                      paints.frames,
                      paints.listPaints};
    };
    const auto wait = [](double s) {
        QEventLoop loop;
        QTimer::singleShot(int(s * 1000), Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    };

    std::printf("platform: %s, %.0f s per phase, writes every 1 ms, load average %s\n",
                qPrintable(QGuiApplication::platformName()), seconds, loadAverage().constData());
    std::printf("%8s %8s %9s %9s %8s %8s %8s %8s %8s %8s %9s %9s %8s %8s %10s\n", "chars/s",
                "phase", "drained/s", "monitor", "X", "total", "frames/s", "list p/s", "wake/s",
                "reads/s", "line lag", "char lag", "KiB from", "KiB to", "win wake/s");
    bool allDrained = true;
    // Every rate once a round, idle only in the first; totals by rate and phase ("bare": the bare
    // reader), one per round.
    QList<qint64> schedule;
    for (int round = 0; round < rounds; ++round)
        for (const qint64 r : rates)
            if (r != 0 || round == 0)
                schedule.append(r);
    std::map<std::pair<qint64, QByteArray>, std::vector<double>> totals;
    for (const qint64 r : schedule) {
        const QList<const char*> phases =
            r == 0 ? QList<const char*>{"idle"} : QList<const char*>{"growing", "full"};
        double totalFull = 0, wakeFull = 0;
        for (const char* phase : phases) {
            growing = phase == QByteArray("growing");
            if (!growing) { // full: 500 entries before the first line comes
                window.lists().clear();
                for (int i = 0; i < PairedLists::kTrimThreshold; ++i)
                    window.lists().insertTrimmed(QStringLiteral("0123456789ABCEF0123"),
                                                 QStringLiteral("0 1 2 3 4 5 6 7 8 9 10 11"));
            }
            writer.setRate(r);
            wait(1); // settle
            if (growing)
                window.lists().clear();
            paints.shown = window.receiver().charactersProcessed();
            paints.charLags.clear();
            paints.lineLags.clear();
            const Sample a = sample();
            wait(seconds);
            // The longest wait says more about the shared machine than about the program: the
            // 99th percentile is beside it, in ms.
            const auto lagText = [](std::vector<double>& lags) {
                std::sort(lags.begin(), lags.end());
                return lags.empty()
                           ? QByteArray("-")
                           : QByteArray::number(qRound(lags[lags.size() * 99 / 100] * 1000)) + '/' +
                                 QByteArray::number(qRound(lags.back() * 1000));
            };
            const QByteArray lineLag = lagText(paints.lineLags);
            const QByteArray charLag = lagText(paints.charLags);
            const Sample b = sample();
            writer.setRate(0);
            growing = false;
            QElapsedTimer drain;
            drain.start();
            while (window.receiver().charactersProcessed() < writer.sent() &&
                   drain.elapsed() < 10000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            allDrained = allDrained && window.receiver().charactersProcessed() == writer.sent();

            const double wall = b.wall - a.wall;
            const double monitor = (b.process.cpu - a.process.cpu) - (b.writer.cpu - a.writer.cpu);
            const double x = a.xCpu >= 0 && b.xCpu >= 0 ? (b.xCpu - a.xCpu) / wall : -1;
            const double total = monitor / wall + std::max(x, 0.0);
            totalFull = total;
            totals[{r, phase}].push_back(total);
            char xText[16] = "n/a";
            if (x >= 0)
                std::snprintf(xText, sizeof xText, "%.3f", x);
            const qint64 wakeUps =
                (b.process.wakeUps - a.process.wakeUps) - (b.writer.wakeUps - a.writer.wakeUps);
            wakeFull = double(wakeUps) / wall;
            std::printf("%8lld %8s %9.0f %9.3f %8s %8.3f %8.1f %8.1f %8.0f %8.0f %9s %9s %8lld "
                        "%8lld %10.0f\n",
                        static_cast<long long>(r), phase, double(b.received - a.received) / wall,
                        monitor / wall, xText, total, double(b.frames - a.frames) / wall,
                        double(b.listPaints - a.listPaints) / wall, double(wakeUps) / wall,
                        double(b.reads - a.reads) / wall, lineLag.constData(), charLag.constData(),
                        static_cast<long long>(a.kib), static_cast<long long>(b.kib),
                        double(b.window.wakeUps - a.window.wakeUps) / wall);
            std::fflush(stdout);
        }
        if (r == 0)
            continue;
        const Usage bare = bareReader(traffic, r, std::min(seconds, 5.0));
        totals[{r, "bare"}].push_back(bare.cpu);
        std::printf("%8lld %8s %9s %9.3f %8s %8s %8s %8s %8lld %8s   full: %.1fx the bare "
                    "reader's CPU, %.1fx its wake-ups\n",
                    static_cast<long long>(r), "bare", "", bare.cpu, "", "", "", "",
                    static_cast<long long>(bare.wakeUps), "",
                    bare.cpu > 0 ? totalFull / bare.cpu : 0.0,
                    bare.wakeUps > 0 ? wakeFull / double(bare.wakeUps) : 0.0);
        std::fflush(stdout);
    }
    // One loud moment of a shared machine moves a single run by more than most changes do.
    if (rounds > 1) {
        std::printf("medians of %d rounds, total CPU s/s (monitor and X; the bare reader's own)\n",
                    rounds);
        for (auto& [key, values] : totals) {
            std::sort(values.begin(), values.end());
            const std::size_t n = values.size();
            const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
            std::printf("%8lld %8s %9s %9s %8s %8.3f   of", static_cast<long long>(key.first),
                        key.second.constData(), "", "", "", median);
            for (const double v : values)
                std::printf(" %.3f", v);
            std::printf("\n");
        }
    }
    std::printf("characters lost: %lld; load average %s\n",
                static_cast<long long>(writer.sent() - window.receiver().charactersProcessed()),
                loadAverage().constData());
    return allDrained ? 0 : 1;
}
