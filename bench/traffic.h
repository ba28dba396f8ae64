#pragma once

#include <QByteArray>

#include <cstddef>

namespace hexline::bench {

// Random hex digits with terminator D (value 13): about one line in 16 characters, plus now and
// then a run of 300 characters without one, which the monitor must break off.
QByteArray makeTraffic(std::size_t size);

// CPU seconds used by the X server serving $DISPLAY, or a negative value when it cannot be found
// (another user's process, no /proc, or no X server at all).
double xServerCpuSeconds();

} // namespace hexline::bench
