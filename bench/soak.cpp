// Soak: the simulated device streams at a steady rate into the real monitor window for a long
// time. Prints characters sent and received, memory over the run and, in a sanitizer build,
// leaks. Fails on loss, memory growth or a leak.
// Usage: soak [seconds] [characters per second]   (defaults 600 and 1200000)

#include "app/formmain.h"
#include "bench/memory.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define HEXLINE_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/lsan_interface.h>
#define HEXLINE_LSAN 1
#endif
#endif

using hexline::bench::residentKiB;

int main(int argc, char* argv[])
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 600.0;
    const double rate = argc > 2 ? std::atof(argv[2]) : 1200000.0;

    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QApplication app(argc, argv);
    hexline::FormMain window;
    window.setLogPath(config.path() + QStringLiteral("/commlog.txt"));
    window.show();

    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QStringLiteral(HEXLINE_SIM_PATH),
              {QStringLiteral("--rate"), QString::number(rate, 'f', 0), QStringLiteral("--seconds"),
               QString::number(seconds)});
    if (!sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "soak: the simulator did not start\n");
        return 1;
    }
    const QByteArray portLine = sim.readLine().trimmed();
    window.findChild<QLineEdit*>(QStringLiteral("txtPORT"))
        ->setText(QString::fromLatin1(portLine.mid(5)));
    window.findChild<QLineEdit*>(QStringLiteral("txtSETUP"))
        ->setText(QStringLiteral("12000000,N,8,1"));
    window.findChild<QPushButton*>(QStringLiteral("Command2"))->click();
    if (!window.serial().isOpen()) {
        std::fprintf(stderr, "soak: the port did not open\n");
        return 1;
    }

    QElapsedTimer clock;
    clock.start();
    qint64 thirdKiB = 0, peakKiB = 0, sent = -1;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        const qint64 now = residentKiB();
        peakKiB = std::max(peakKiB, now);
        if (thirdKiB == 0 && clock.elapsed() > seconds * 1000 / 3)
            thirdKiB = now;
        if (sent >= 0 && (window.receiver().charactersProcessed() >= sent ||
                          clock.elapsed() > seconds * 1000 + 10000))
            app.quit();
    });
    sampler.start(100);
    QObject::connect(&sim, &QProcess::finished, [&] {
        const QList<QByteArray> lines = sim.readAll().split('\n');
        for (const QByteArray& l : lines)
            if (l.startsWith("Sent "))
                sent = l.mid(5).toLongLong();
        if (sent < 0)
            app.quit();
    });
    app.exec();

    const double elapsed = clock.elapsed() / 1000.0;
    const qint64 received = window.receiver().charactersProcessed();
    const qint64 finalKiB = residentKiB();
    // The lists and buffers fill in the first seconds; after that memory must stay flat.
    const bool flat = finalKiB <= thirdKiB + thirdKiB / 10 + 4096;
    std::printf("run:                 %.1f s at %.0f characters/s asked\n", elapsed, rate);
    std::printf("characters sent:     %lld\n", static_cast<long long>(sent));
    std::printf("characters received: %lld (%.0f/s)\n", static_cast<long long>(received),
                received / elapsed);
    std::printf(
        "memory:              %lld KiB after a third, %lld KiB at the end, peak %lld KiB: %s\n",
        static_cast<long long>(thirdKiB), static_cast<long long>(finalKiB),
        static_cast<long long>(peakKiB), flat ? "flat" : "GROWING");
    int leaks = 0;
#ifdef HEXLINE_LSAN
    leaks = __lsan_do_recoverable_leak_check();
    std::printf("leaks:               %s\n", leaks ? "FOUND (see the report above)" : "none");
#else
    std::printf("leaks:               not checked (no sanitizer in this build)\n");
#endif
    const bool ok = sent > 0 && sent == received && flat && !leaks;
    std::printf("result:              %s\n", ok ? "pass" : "FAIL");
    return ok ? 0 : 1;
}
