// Loss: a device that, like a real line's sender, never waits for the terminal writes
// hex-digit lines into a pseudo-terminal every millisecond and loses what the terminal refuses. Per
// rate, prints the characters sent, refused (lost) and received while something holds the window's
// thread: Log waiting for another's lock, a resize, a failure box; and a quiet run beside them.
// Usage: loss [seconds]   (default 4, at least 3; the thread is held from the first second on)

#include "app/formmain.h"
#include "bench/window.h"
#include "tests/support/ptypair.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLoggingCategory>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <sys/file.h>
#include <thread>

namespace {

// Runs the event loop for ms.
void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void pressLog(hexline::FormMain& window)
{
    window.findChild<QPushButton*>(QStringLiteral("Command4"))->click();
}

// Log waits 2 s for a lock held through another open file description, as another program's.
void lockedLog(hexline::FormMain& window)
{
    QFile other(window.logPath());
    if (!other.open(QIODevice::Append) || ::flock(other.handle(), LOCK_EX) != 0) {
        std::fprintf(stderr, "loss: cannot lock the log file\n");
        return;
    }
    std::thread release([&other] {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        ::flock(other.handle(), LOCK_UN);
    });
    pressLog(window);
    release.join();
}

// The size at which a widget was last painted.
class PaintedSize : public QObject {
public:
    explicit PaintedSize(QWidget& widget) : widget_(widget) { widget.installEventFilter(this); }
    QSize size;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            size = widget_.size();
        return false;
    }

private:
    QWidget& widget_;
};

// The window has a fixed size: its limit lifted, it is set out and back in steps, each painted
// at its new size, with the event loop running between them, as a drag's resize events would be.
// Its children keep their places, so a step repaints the window and lays out nothing.
void resize(hexline::FormMain& window)
{
    const QSize size = window.size();
    PaintedSize painted(window);
    window.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    for (int i = 1; i <= 40; ++i) {
        const int step = i <= 20 ? i : 40 - i;
        const QSize target = size + QSize(8 * step, 6 * step);
        window.resize(target);
        QElapsedTimer waited;
        waited.start();
        while (painted.size != target && waited.elapsed() < 200)
            spin(1);
    }
    window.setFixedSize(size);
}

// Log fails at once on a folder, which opens the failure box while the port stays open.
void failureBox(hexline::FormMain& window, const QString& folder)
{
    window.setLogPath(folder);
    pressLog(window);
}

struct Figures {
    qint64 sent = 0, refused = 0, received = 0;
    qint64 busyMs = -1; // from the start of what held the thread to its end
};

Figures measure(double rate, double seconds, const std::function<void(hexline::FormMain&)>& busy)
{
    Figures f;
    hexline::test::PortDirectory ports;
    hexline::test::Pty device;
    QTemporaryDir logDir;
    if (!device.isValid() || !ports.attach(1, device.slavePath()) || !logDir.isValid()) {
        std::fprintf(stderr, "loss: no pseudo-terminal\n");
        return f;
    }
    hexline::FormMain window;
    window.setLogPath(logDir.filePath(QStringLiteral("commlog.txt")));
    if (!hexline::bench::showAndOpen(window))
        return f;
    const qint64 before = window.receiver().charactersProcessed();
    hexline::test::DroppingDevice sender(device, rate, int(seconds * 1000));
    spin(1000);
    if (busy) {
        QElapsedTimer took;
        took.start();
        busy(window);
        f.busyMs = took.elapsed();
    }
    while (!sender.isDone())
        spin(10);
    // Everything the terminal took is read in the end, unless the monitor lost it too.
    QElapsedTimer drain;
    drain.start();
    while (window.receiver().charactersProcessed() - before < sender.accepted() &&
           drain.elapsed() < 10000)
        spin(10);
    f.sent = sender.accepted() + sender.refused();
    f.refused = sender.refused();
    f.received = window.receiver().charactersProcessed() - before;
    return f;
}

} // namespace

int main(int argc, char* argv[])
{
    const double seconds = std::max(argc > 1 ? std::atof(argv[1]) : 4.0, 3.0);
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("hexline.warning=false")); // Log's, expected
    QTemporaryDir folder;

    std::printf("platform %s; %.1f s a run, the thread held from 1 s on\n",
                qPrintable(QGuiApplication::platformName()), seconds);
    const std::pair<const char*, std::function<void(hexline::FormMain&)>> cases[] = {
        {"quiet", nullptr},
        {"Log waits 2 s for another's lock", lockedLog},
        {"the window resized", resize},
        {"a failure box opens", [&folder](hexline::FormMain& w) { failureBox(w, folder.path()); }},
    };
    for (const double rate : {1200000.0, 11520.0}) {
        std::printf("\n%.0f characters/s\n", rate);
        std::printf("  %-34s %10s %10s %10s %9s\n", "while", "sent", "refused", "received",
                    "busy ms");
        for (const auto& [name, busy] : cases) {
            const Figures f = measure(rate, seconds, busy);
            std::printf("  %-34s %10lld %10lld %10lld %9s\n", name, static_cast<long long>(f.sent),
                        static_cast<long long>(f.refused), static_cast<long long>(f.received),
                        f.busyMs < 0 ? "-" : qPrintable(QString::number(f.busyMs)));
            std::fflush(stdout);
        }
    }
    return 0;
}
