#include "app/closeonsignals.h"

// No termination signals to catch here: the system ends the program its own way.
namespace hexline {

void closeOnSignals(QWidget&) {}

} // namespace hexline
