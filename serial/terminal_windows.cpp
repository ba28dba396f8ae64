#include "serial/terminal.h"

// Windows: no advisory locks, parity marks or hang-up flag here; the serial layer's own
// behaviour stands.
namespace hexline::terminal {

bool lock(qintptr)
{
    return true;
}

void unlock(qintptr) {}

QString markErrors(qintptr)
{
    return {};
}

bool marksErrors()
{
    return false;
}

qint64 bytesHeld(qintptr)
{
    return -1;
}

bool hungUp(qintptr)
{
    return false;
}

} // namespace hexline::terminal
