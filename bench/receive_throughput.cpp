// Floods a pseudo-terminal with hex-digit lines and measures how fast the monitor keeps up:
// the real serial component, receive processing, list views and live labels in a shown window.
// Usage: receive_throughput [seconds]   (default 10)

#include "app/formmain.h"
#include "bench/memory.h"
#include "bench/traffic.h"
#include "bench/window.h"
#include "tests/support/ptypair.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

using hexline::bench::residentKiB;

namespace {

// Writes the traffic into the terminal as fast as it takes it until stop is set.
QThread* flood(hexline::test::Pty& device, const QByteArray& traffic, std::atomic<bool>& stop,
               std::atomic<qint64>& sent)
{
    return QThread::create([&device, &traffic, &stop, &sent] {
        qsizetype at = 0;
        while (!stop.load(std::memory_order_relaxed)) {
            // Waits for room with a timeout, so that a writer facing a full terminal (the
            // monitor stalled) still sees the stop.
            const qsizetype n = device.writeSome(
                traffic.constData() + at, std::min<qsizetype>(4096, traffic.size() - at), 100);
            if (n < 0)
                break;
            sent += n;
            at = (at + n) % traffic.size();
        }
    });
}

// The limit that the terminal itself sets: a bare reader of the slave side, characters per second.
double bareReaderRate(const QByteArray& traffic, double seconds)
{
    hexline::test::Pty device;
    const int fd = ::open(QFile::encodeName(device.slavePath()).constData(), O_RDONLY | O_NOCTTY);
    if (!device.isValid() || fd < 0)
        return 0;
    std::atomic<bool> stop{false};
    std::atomic<qint64> sent{0};
    QThread* writer = flood(device, traffic, stop, sent);
    writer->start();
    QElapsedTimer clock;
    clock.start();
    qint64 got = 0;
    static char buffer[1 << 16];
    while (clock.elapsed() < seconds * 1000) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            got += n;
    }
    const double rate = got / (clock.elapsed() / 1000.0);
    stop = true;
    // Drain what the writer may still be waiting to put in.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    while (!writer->wait(10))
        while (::read(fd, buffer, sizeof buffer) > 0) {
        }
    delete writer;
    ::close(fd);
    return rate;
}

} // namespace

int main(int argc, char* argv[])
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    const QByteArray traffic = hexline::bench::makeTraffic(std::size_t(16) << 20);
    const double bare = bareReaderRate(traffic, std::min(seconds, 3.0));

    hexline::test::PortDirectory ports;
    hexline::test::Pty device;
    if (!device.isValid() || !ports.attach(1, device.slavePath())) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }

    QApplication app(argc, argv);
    QTemporaryDir logDir;
    hexline::FormMain window;
    window.setLogPath(logDir.filePath(QStringLiteral("commlog.txt")));
    if (!hexline::bench::showAndOpen(window))
        return 1;

    std::atomic<bool> stop{false};
    std::atomic<qint64> sent{0};
    QThread* writer = flood(device, traffic, stop, sent);

    QElapsedTimer clock;
    qint64 peakKiB = 0, quarterKiB = 0;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        peakKiB = std::max(peakKiB, residentKiB());
        if (quarterKiB == 0 && clock.elapsed() > seconds * 250)
            quarterKiB = residentKiB();
    });
    sampler.start(100);

    clock.start();
    writer->start();
    QTimer::singleShot(int(seconds * 1000), Qt::PreciseTimer, [&] { stop = true; });
    // After the writer stops, wait until every character sent has been processed (or give up).
    QTimer drain;
    QObject::connect(&drain, &QTimer::timeout, [&] {
        if (!stop)
            return;
        if (window.receiver().charactersProcessed() >= sent ||
            clock.elapsed() > seconds * 1000 + 10000)
            app.quit();
    });
    drain.start(20);
    app.exec();
    const double elapsed = clock.elapsed() / 1000.0;
    writer->wait();
    delete writer;

    const qint64 received = window.receiver().charactersProcessed();
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("platform:            %s\n", qPrintable(QGuiApplication::platformName()));
    std::printf("run:                 %.1f s (%.1f s sending)\n", elapsed, seconds);
    std::printf("characters sent:     %lld\n", static_cast<long long>(sent.load()));
    std::printf("characters received: %lld\n", static_cast<long long>(received));
    std::printf("characters lost:     %lld\n", static_cast<long long>(sent.load() - received));
    std::printf("characters/s:        %.0f\n", received / elapsed);
    std::printf(
        "bare reader:         %.0f characters/s (the terminal's limit); monitor/bare %.3f\n", bare,
        bare > 0 ? received / elapsed / bare : 0.0);
    std::printf("lines/s:             %.0f\n", window.receiver().linesEnded() / elapsed);
    std::printf("memory:              %lld KiB after a quarter, %lld KiB at the end, peak %lld KiB "
                "(maxrss %ld KiB)\n",
                static_cast<long long>(quarterKiB), static_cast<long long>(residentKiB()),
                static_cast<long long>(peakKiB), usage.ru_maxrss);
    std::printf("list entries:        %d and %d\n", window.textList().count(),
                window.valueList().count());
    return sent.load() == received ? 0 : 1;
}
