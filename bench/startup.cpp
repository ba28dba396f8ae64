// Start-up and footprint: the time from exec to the first painted window and the memory of the
// idle window, median of 10 runs. Each run is a fresh process that starts the monitor exactly as
// main() does.
// Usage: startup [runs]

#include "app/formmain.h"
#include "bench/memory.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <unistd.h>
#include <vector>

using hexline::bench::residentKiB;

namespace {

qint64 nowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Reports the first paint of the window.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(qint64 startNs) : startNs_(startNs) {}
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !seen_) {
            seen_ = true;
            std::printf("%.2f\n", double(nowNs() - startNs_) / 1e6);
            std::fflush(stdout);
            // Idle memory, once the window has settled.
            QTimer::singleShot(500, [] {
                std::printf("%lld\n", static_cast<long long>(residentKiB()));
                QApplication::quit();
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    qint64 startNs_;
    bool seen_ = false;
};

int child(int argc, char* argv[], qint64 startNs)
{
    QApplication app(argc, argv);
    hexline::FormMain window;
    FirstPaint watch(startNs);
    window.installEventFilter(&watch);
    window.show();
    return app.exec();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty()      ? 0
           : v.size() % 2 ? v[v.size() / 2]
                          : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc > 2 && QByteArray(argv[1]) == "--child")
        return child(argc, argv, QByteArray(argv[2]).toLongLong());

    const int runs = argc > 1 ? std::atoi(argv[1]) : 10;
    std::vector<double> ms, kib;
    for (int i = 0; i < runs; ++i) {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const qint64 start = nowNs();
        p.start(QString::fromLocal8Bit(argv[0]),
                {QStringLiteral("--child"), QString::number(start)});
        if (!p.waitForFinished(20000) || p.exitCode() != 0) {
            std::fprintf(stderr, "startup: run %d failed\n", i + 1);
            return 1;
        }
        const QList<QByteArray> lines = p.readAllStandardOutput().split('\n');
        if (lines.size() < 2) {
            std::fprintf(stderr, "startup: run %d printed nothing\n", i + 1);
            return 1;
        }
        ms.push_back(lines[0].toDouble());
        kib.push_back(lines[1].toDouble());
    }
    std::printf("platform:          %s\n",
                qPrintable(qEnvironmentVariable("QT_QPA_PLATFORM", QStringLiteral("default"))));
    std::printf("exec to first paint: median %.1f ms (min %.1f, max %.1f) over %d runs\n",
                median(ms), *std::min_element(ms.begin(), ms.end()),
                *std::max_element(ms.begin(), ms.end()), runs);
    std::printf("idle memory:         median %.1f MiB resident\n", median(kib) / 1024);
    return 0;
}
