#include "app/closeonsignals.h"

// Windows has no termination signals to catch: the system ends the program its own way.
namespace hexline {

void closeOnSignals(QWidget&) {}

} // namespace hexline
