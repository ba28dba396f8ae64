// A second process that opens a port, for tests of ports held or forbidden by someone else.
//   portprobe open N   opens port N, prints "opened" or the error message, exits 0 or 1
//   portprobe hold N   opens port N, prints "holding", keeps it open until its input ends
//   portprobe device PATH  opens the device itself, as any program would, prints "opened" or
//                          the system's reason, exits 0 or 1
//   portprobe lock PATH [NAME]  opens the device as terminal programs do (flock, TIOCEXCL),
//                          calls itself NAME if given, prints "holding", keeps it until its
//                          input ends

#include "errors/error.h"
#include "serial/serialcomm.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 3 && !(argc == 4 && QByteArray(argv[1]) == "lock"))
        return 2;
    const QByteArray mode(argv[1]);
    const auto waitForEnd = [] {
        std::fflush(stdout);
        char c;
        while (::read(STDIN_FILENO, &c, 1) > 0) {
        }
    };
    if (mode == "device" || mode == "lock") {
        const int fd = ::open(argv[2], O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0 || mode == "device") {
            std::printf("%s\n", fd >= 0 ? "opened" : std::strerror(errno));
            return fd >= 0 ? 0 : 1;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0 ||
            (argc == 4 && ::prctl(PR_SET_NAME, argv[3]) != 0))
            return 1;
        std::printf("holding\n");
        waitForEnd();
        return 0;
    }
    hexline::SerialComm comm;
    try {
        comm.setPortNumber(qint16(std::atoi(argv[2])));
        comm.setOpen(true);
    } catch (const hexline::Error& e) {
        std::printf("%s\n", e.message().toLocal8Bit().constData());
        return 1;
    }
    std::printf("%s\n", mode == "hold" ? "holding" : "opened");
    if (mode == "hold")
        waitForEnd();
    return 0;
}
