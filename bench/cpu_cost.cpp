// What watching a line costs: the real window and serial component on a pseudo-terminal, fed by a
// writer that writes every millisecond at a fixed rate, as a USB adapter delivers. Per rate it
// prints the drain rate, the monitor's CPU seconds per second (the writer's own CPU taken off),
// the X server's when it can be found, and memory at the start and the end.
// Usage: cpu_cost [seconds per rate [rate...]]   (default 10 s; idle, 11520, 100000 and 1200000)

#include "app/formmain.h"
#include "bench/memory.h"
#include "bench/traffic.h"
#include "bench/window.h"
#include "tests/support/ptypair.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QListView>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>

using namespace hexline;

namespace {

double processCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

struct Sample {
    double wall, cpu, writerCpu, xCpu;
    qint64 received, sent, kib, listPaints, labelPaints;
};

// Counts the paints of a widget.
struct PaintCounter : QObject {
    qint64 paints = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        paints += e->type() == QEvent::Paint;
        return false;
    }
};

} // namespace

int main(int argc, char* argv[])
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    QList<qint64> rates{0, 11520, 100000, 1200000};
    if (argc > 2) {
        rates.clear();
        for (int i = 2; i < argc; ++i)
            rates.append(std::atoll(argv[i]));
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

    PaintCounter listPaints, labelPaints;
    window.findChild<QListView*>(QStringLiteral("List1"))
        ->viewport()
        ->installEventFilter(&listPaints);
    window.findChild<QLabel*>(QStringLiteral("Label2"))->installEventFilter(&labelPaints);

    // The writer writes what is due every millisecond, on an absolute schedule.
    const QByteArray traffic = bench::makeTraffic(std::size_t(16) << 20);
    std::atomic<qint64> rate{0};
    std::atomic<qint64> sent{0};
    std::atomic<double> writerCpu{0};
    std::atomic<bool> stop{false};
    QThread* writer = QThread::create([&] {
        qsizetype at = 0;
        timespec next{};
        clock_gettime(CLOCK_MONOTONIC, &next);
        qint64 phaseRate = -1;
        double phaseStart = 0;
        qint64 phaseSent = 0;
        while (!stop.load(std::memory_order_relaxed)) {
            next.tv_nsec += 1000000;
            if (next.tv_nsec >= 1000000000) {
                next.tv_nsec -= 1000000000;
                ++next.tv_sec;
            }
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
            const double now = double(next.tv_sec) + double(next.tv_nsec) / 1e9;
            if (rate != phaseRate) {
                phaseRate = rate;
                phaseStart = now;
                phaseSent = 0;
            }
            qint64 due = qint64((now - phaseStart) * double(phaseRate)) - phaseSent;
            while (due > 0) {
                const qsizetype n = device.writeSome(
                    traffic.constData() + at, std::min<qsizetype>(due, traffic.size() - at), 1);
                if (n < 0 || stop)
                    break;
                due -= n;
                phaseSent += n;
                sent += n;
                at = (at + n) % traffic.size();
            }
            writerCpu = threadCpuSeconds();
        }
    });
    writer->start();

    QElapsedTimer clock;
    clock.start();
    const auto sample = [&] {
        return Sample{clock.elapsed() / 1000.0,
                      processCpuSeconds(),
                      writerCpu.load(),
                      bench::xServerCpuSeconds(),
                      window.receiver().charactersProcessed(),
                      sent.load(),
                      bench::residentKiB(),
                      listPaints.paints,
                      labelPaints.paints};
    };

    std::printf("platform: %s, %.0f s per rate, writes every 1 ms\n",
                qPrintable(QGuiApplication::platformName()), seconds);
    std::printf("%10s %12s %12s %12s %12s %10s %10s %12s %12s\n", "chars/s", "sent/s", "drained/s",
                "monitor s/s", "X s/s", "KiB start", "KiB end", "List1 pnt/s", "Label2 pnt/s");
    bool allDrained = true;
    // Each rate: settle a second, measure for the given seconds, then let the monitor drain.
    for (const qint64 r : rates) {
        rate = r;
        QEventLoop loop;
        QTimer::singleShot(1000, &loop, &QEventLoop::quit);
        loop.exec();
        const Sample a = sample();
        QTimer::singleShot(int(seconds * 1000), Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
        const Sample b = sample();
        rate = 0;
        QElapsedTimer drain;
        drain.start();
        while (window.receiver().charactersProcessed() < sent && drain.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        allDrained = allDrained && window.receiver().charactersProcessed() == sent;
        const double wall = b.wall - a.wall;
        const double monitor = (b.cpu - a.cpu) - (b.writerCpu - a.writerCpu);
        char x[32] = "n/a";
        if (a.xCpu >= 0 && b.xCpu >= 0)
            std::snprintf(x, sizeof x, "%.3f", (b.xCpu - a.xCpu) / wall);
        std::printf("%10lld %12.0f %12.0f %12.3f %12s %10lld %10lld %12.0f %12.0f\n",
                    static_cast<long long>(r), double(b.sent - a.sent) / wall,
                    double(b.received - a.received) / wall, monitor / wall, x,
                    static_cast<long long>(a.kib), static_cast<long long>(b.kib),
                    double(b.listPaints - a.listPaints) / wall,
                    double(b.labelPaints - a.labelPaints) / wall);
        std::fflush(stdout);
    }
    stop = true;
    writer->wait();
    delete writer;
    std::printf("characters lost: %lld\n",
                static_cast<long long>(sent - window.receiver().charactersProcessed()));
    return allDrained ? 0 : 1;
}
