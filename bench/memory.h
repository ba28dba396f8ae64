#pragma once

#include <QtGlobal>

namespace hexline::bench {

// The process's resident memory now, in KiB (0 where /proc is not there).
qint64 residentKiB();

} // namespace hexline::bench
