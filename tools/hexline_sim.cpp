// A simulated serial device. It creates a pseudo-terminal, attaches it as the lowest port number
// whose entry is missing from the port directory, prints "Port N" and streams hex-digit lines:
// 4 to 40 digits ended by "D", now and then a line over 200 digits or a character that is no
// hexadecimal digit. It removes its entry when it ends, also on Ctrl-C and SIGTERM; an entry left
// by one that was killed outright is taken over.
//
// By default it delivers like a USB serial adapter: characters paced at the line's rate, handed
// over in pieces of 1 to 62 bytes every 1 to 16 ms, so lines arrive cut at random places. For
// the benchmarks it can write whole lines at a given rate instead. See usage() for the options.
// On exit it prints "Sent N" with the number of characters written.
//
// By default it waits while the terminal's buffer is full, which no real line does: a UART's
// sender never waits, and what the receiving side cannot take is lost. With --drop it writes
// without waiting, drops what the terminal refuses and prints "Dropped N" after "Sent N".

#include "errors/error.h"
#include "serial/portmap.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <random>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int)
{
    stopRequested = 1;
}

struct Options {
    double baud = 115200.0;
    bool wholeLines = false;
    bool drop = false;    // drop what the terminal refuses instead of waiting for room
    double rate = 1000.0; // characters per second of whole-line writes
    double seconds = 0.0; // 0: until stopped
    unsigned seed = 1;
    bool help = false;
};

void usage(std::FILE* to)
{
    const Options d;
    // clang-format off
    std::fprintf(to,
                 "usage: hexline-sim [--baud N] [--whole-lines] [--rate CHARS_PER_SECOND] [--drop] [--seconds S]\n"
                 "                   [--seed N]\n"
                 "  --baud N         deliver like a serial adapter: N / 10 characters per second, in pieces\n"
                 "                   of 1 to 62 bytes every 1 to 16 ms (default %.0f)\n"
                 "  --whole-lines    write whole lines instead, at --rate (for benchmarks)\n"
                 "  --rate N         characters per second of whole-line writes; implies --whole-lines\n"
                 "                   (default %.0f)\n"
                 "  --drop           never wait for the terminal: drop what it refuses, as a UART's\n"
                 "                   overflow does, and print \"Dropped N\" after \"Sent N\"\n"
                 "  --seconds S      stop after S seconds; 0 runs until stopped (default %.0f)\n"
                 "  --seed N         seed of the random traffic and pieces (default %u)\n"
                 "  --help           print this and exit\n",
                 d.baud, d.rate, d.seconds, d.seed);
    // clang-format on
}

// Reads the options; false with the reason in error when they are not ones.
bool parse(int argc, char* argv[], Options& o, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") {
            o.help = true;
            continue;
        }
        if (arg == "--whole-lines") {
            o.wholeLines = true;
            continue;
        }
        if (arg == "--drop") {
            o.drop = true;
            continue;
        }
        if (arg != "--baud" && arg != "--rate" && arg != "--seconds" && arg != "--seed") {
            error = "unknown option " + arg;
            return false;
        }
        if (i + 1 >= argc) {
            error = arg + " needs a value";
            return false;
        }
        char* end = nullptr;
        const double value = std::strtod(argv[++i], &end);
        if (end == argv[i] || *end != '\0') {
            error = arg + " needs a number, not " + argv[i];
            return false;
        }
        if (arg == "--baud") {
            o.baud = value;
        } else if (arg == "--rate") {
            o.rate = value;
            o.wholeLines = true;
        } else if (arg == "--seconds") {
            o.seconds = value;
        } else {
            o.seed = unsigned(value);
        }
    }
    if (o.baud < 10 || o.rate <= 0 || o.seconds < 0) {
        error = "--baud must be 10 or more, --rate more than 0 and --seconds 0 or more";
        return false;
    }
    return true;
}

// Realistic traffic: lines of 4 to 40 digits ended by "D"; one line in 50 runs past 200 digits;
// one character in 500 is no hexadecimal digit at all.
class Traffic {
public:
    explicit Traffic(unsigned seed) : rng_(seed) {}

    // Appends whole lines until out holds at least size characters.
    void fill(QByteArray& out, qsizetype size)
    {
        static const char digits[] = "0123456789ABCEFabcef"; // everything but the terminator
        static const char strays[] = "xG z!\r\n";
        while (out.size() < size) {
            const unsigned length = pick(50) == 0 ? 201 + pick(100) : 4 + pick(37);
            for (unsigned i = 0; i < length; ++i)
                out += pick(500) == 0 ? strays[pick(sizeof strays - 1)]
                                      : digits[pick(sizeof digits - 1)];
            out += 'D';
        }
    }

private:
    unsigned pick(unsigned n) { return unsigned(rng_() % n); }
    std::mt19937 rng_;
};

// An entry left by a simulator that was killed: a link to a pseudo-terminal that is gone, or
// whose number has passed to this simulator's own.
bool leftByKilledSimulator(const QByteArray& entry, const QByteArray& device)
{
    char target[PATH_MAX] = {};
    const ssize_t n = ::readlink(entry.constData(), target, sizeof target - 1);
    struct stat st {};
    return n > 0 && QByteArray(target, n).startsWith("/dev/pts/") &&
           (target == device || (::stat(target, &st) != 0 && errno == ENOENT));
}

// Claims the lowest free comN with a symbolic link to device, taking over one that a killed
// simulator left; symlink() never replaces an entry, so two simulators never claim one number.
int attach(const QString& directory, const QByteArray& device, QByteArray& entry)
{
    QDir().mkpath(directory);
    for (int port = 1; port < 32768; ++port) {
        entry = QFile::encodeName(directory + QStringLiteral("/com%1").arg(port));
        if (::symlink(device.constData(), entry.constData()) == 0)
            return port;
        if (errno != EEXIST)
            return -1;
        if (leftByKilledSimulator(entry, device) && ::unlink(entry.constData()) == 0 &&
            ::symlink(device.constData(), entry.constData()) == 0)
            return port;
    }
    return -1;
}

// Removes the entry only while it still leads to this device.
void detach(const QByteArray& entry, const QByteArray& device)
{
    char target[PATH_MAX] = {};
    const ssize_t n = ::readlink(entry.constData(), target, sizeof target - 1);
    if (n > 0 && QByteArray(target, n) == device)
        ::unlink(entry.constData());
}

} // namespace

int main(int argc, char* argv[])
{
    Options options;
    std::string error;
    if (!parse(argc, argv, options, error)) {
        std::fprintf(stderr, "hexline-sim: %s\n", error.c_str());
        usage(stderr);
        return 2;
    }
    if (options.help) {
        usage(stdout);
        return 0;
    }

    int master = -1, slave = -1;
    char name[PATH_MAX] = {};
    struct termios raw {};
    cfmakeraw(&raw);
    if (::openpty(&master, &slave, name, &raw, nullptr) != 0) {
        std::perror("hexline-sim: openpty");
        return 1;
    }
    // Handlers first, so that a signal can never leave an entry behind.
    struct sigaction sa {};
    sa.sa_handler = requestStop;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGHUP, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    const QByteArray device(name);
    const QString directory = hexline::ports::portDirectory();
    QByteArray entry;
    const int port = attach(directory, device, entry);
    if (port < 0) {
        const int why = errno;
        std::fprintf(stderr, "hexline-sim: cannot attach to %s: %s\n",
                     qPrintable(hexline::shownName(directory)), std::strerror(why));
        return 1;
    }

    if (options.drop)
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    std::printf("Port %d\n", port);
    std::fflush(stdout);

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const double perSecond =
        options.wholeLines ? options.rate : options.baud / 10; // 10 bits a character
    // The moment by which the line has carried `count` characters.
    const auto carried = [&](qint64 count) {
        return start + std::chrono::duration_cast<Clock::duration>(
                           std::chrono::duration<double>(count / perSecond));
    };
    Traffic traffic(options.seed);
    std::mt19937 adapter(options.seed ^ 0x9E3779B9u); // pieces independent of the traffic
    QByteArray pending;
    qint64 sent = 0;
    qint64 dropped = 0; // --drop: refused by the terminal; the line carried them all the same
    qint64 piece = 0;   // adapter: the most the next piece holds (a full packet), 0: not chosen yet
    Clock::time_point handOver; // adapter: when its latency timer hands over what it has
    while (!stopRequested) {
        const auto now = Clock::now();
        const double elapsed = std::chrono::duration<double>(now - start).count();
        if (options.seconds > 0 && elapsed >= options.seconds)
            break;
        const qint64 due = qint64(elapsed * perSecond) - sent - dropped;
        qint64 size = 0;
        if (options.wholeLines) {
            // A whole line may run ahead of the rate a little; the next ones wait for the clock.
            if (pending.isEmpty() && due > 0)
                traffic.fill(pending, qsizetype(std::min<qint64>(due, 1 << 16)));
            if (pending.isEmpty()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            size = pending.size();
        } else {
            // What has come in on the line is handed over when the packet is full or the
            // latency timer runs out, whichever is first.
            if (piece == 0) {
                piece = 1 + qint64(adapter() % 62);
                handOver = now + std::chrono::milliseconds(1 + adapter() % 16);
            }
            if (due < piece && (now < handOver || due <= 0)) {
                const qint64 carriedSoFar = sent + dropped;
                std::this_thread::sleep_until(
                    std::min(now < handOver ? handOver : carried(carriedSoFar + 1),
                             carried(carriedSoFar + piece)));
                continue;
            }
            size = std::min(due, piece);
            if (pending.size() < size)
                traffic.fill(pending, qsizetype(size));
        }
        if (options.drop) {
            // What the terminal does not take now is gone, and the line goes on.
            const ssize_t n = ::write(master, pending.constData(), size_t(size));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN)
                break;
            const qint64 taken = std::max<ssize_t>(n, 0);
            sent += taken;
            dropped += size - taken;
            pending.remove(0, size);
            piece = 0;
            continue;
        }
        // Waits while the terminal's buffer is full; nothing is dropped.
        pollfd p{master, POLLOUT, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const ssize_t n = ::write(master, pending.constData(), size_t(size));
        if (n > 0) {
            sent += n;
            pending.remove(0, n);
            piece = 0;
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            break;
        }
    }

    detach(entry, device);
    // Let the reader take what is still in the terminal before the device goes away: closing
    // the master side discards it.
    for (int i = 0; i < 250; ++i) {
        int queued = 0;
        if (::ioctl(slave, FIONREAD, &queued) != 0 || queued == 0)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::printf("Sent %lld\n", static_cast<long long>(sent));
    if (options.drop)
        std::printf("Dropped %lld\n", static_cast<long long>(dropped));
    std::fflush(stdout);
    ::close(master);
    ::close(slave);
    return 0;
}
