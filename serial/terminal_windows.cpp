#include "serial/terminal.h"

// Windows: no advisory locks or parity marks here; the serial layer's own
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

} // namespace hexline::terminal
