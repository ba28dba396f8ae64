// Floods a pseudo-terminal with hex-digit lines and measures how fast the monitor keeps up:
// the real serial component, receive processing, list views and live labels in a shown window.
// Usage: receive_throughput [seconds]   (default 10)

#include "formmain.h"
#include "memory.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <random>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

using hexline::bench::residentKiB;

namespace {

// Random hex digits with terminator D (value 13): about one line in 16 characters, plus now and
// then a run of 300 characters without one, which the monitor must break off.
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
            const char c = "0123456789ABCDEF"[rng() % 16];
            data += c;
        }
    }
    data.truncate(qsizetype(size));
    return data;
}

} // namespace

int main(int argc, char* argv[])
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;

    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    const QString ports = config.path() + QStringLiteral("/hexline/ports");
    QDir().mkpath(ports);

    int master = -1, slave = -1;
    char name[256] = {};
    struct termios raw{};
    cfmakeraw(&raw);
    if (::openpty(&master, &slave, name, &raw, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    QFile::link(QString::fromLocal8Bit(name), ports + QStringLiteral("/com1"));

    QApplication app(argc, argv);
    hexline::FormMain window;
    window.setLogPath(config.path() + QStringLiteral("/commlog.txt"));
    window.show();
    window.txtSETUP->setText(QStringLiteral("12000000,N,8,1"));
    window.Command2->click();
    if (!window.Comm1.PortOpen()) {
        std::fprintf(stderr, "the port did not open\n");
        return 1;
    }

    const QByteArray traffic = makeTraffic(std::size_t(16) << 20);
    std::atomic<bool> stop{false};
    std::atomic<qint64> sent{0};
    QThread* writer = QThread::create([&] {
        qsizetype at = 0;
        while (!stop.load(std::memory_order_relaxed)) {
            // Waits for room with a timeout, so that a writer facing a full terminal (the
            // monitor stalled) still sees the stop.
            pollfd p{master, POLLOUT, 0};
            if (::poll(&p, 1, 100) <= 0)
                continue;
            const qsizetype chunk = std::min<qsizetype>(4096, traffic.size() - at);
            const ssize_t n = ::write(master, traffic.constData() + at, size_t(chunk));
            if (n < 0 && errno == EAGAIN)
                continue;
            if (n <= 0)
                break;
            sent += n;
            at = (at + n) % traffic.size();
        }
    });

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
        if (window.receiver().charactersProcessed() >= sent || clock.elapsed() > seconds * 1000 + 10000)
            app.quit();
    });
    drain.start(20);
    app.exec();
    const double elapsed = clock.elapsed() / 1000.0;
    writer->wait();
    delete writer;

    const qint64 received = window.receiver().charactersProcessed();
    struct rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("platform:            %s\n", qPrintable(QGuiApplication::platformName()));
    std::printf("run:                 %.1f s (%.1f s sending)\n", elapsed, seconds);
    std::printf("characters sent:     %lld\n", static_cast<long long>(sent.load()));
    std::printf("characters received: %lld\n", static_cast<long long>(received));
    std::printf("characters lost:     %lld\n", static_cast<long long>(sent.load() - received));
    std::printf("characters/s:        %.0f\n", received / elapsed);
    std::printf("lines/s:             %.0f\n", window.receiver().linesEnded() / elapsed);
    std::printf("memory:              %lld KiB after a quarter, %lld KiB at the end, peak %lld KiB (maxrss %ld KiB)\n",
                static_cast<long long>(quarterKiB), static_cast<long long>(residentKiB()),
                static_cast<long long>(peakKiB), usage.ru_maxrss);
    std::printf("list entries:        %d and %d\n", window.textList().count(), window.valueList().count());
    ::close(master);
    ::close(slave);
    return sent.load() == received ? 0 : 1;
}
