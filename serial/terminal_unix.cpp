#include "serial/terminal.h"

#include <cerrno>
#include <cstring>
#include <sys/file.h>
#include <termios.h>

namespace hexline::terminal {

bool lock(qintptr handle)
{
    return ::flock(int(handle), LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
}

void unlock(qintptr handle)
{
    ::flock(int(handle), LOCK_UN);
}

QString markErrors(qintptr handle)
{
    termios t{};
    const int fd = int(handle);
    if (::tcgetattr(fd, &t) == 0) {
        t.c_iflag |= INPCK | PARMRK;
        t.c_iflag &= ~tcflag_t(IGNPAR | ISTRIP);
        if (::tcsetattr(fd, TCSANOW, &t) == 0)
            return {};
    }
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool marksErrors()
{
    return true;
}

} // namespace hexline::terminal
