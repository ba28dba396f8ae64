#pragma once

class QWidget;

namespace hexline {

// SIGTERM, SIGINT and SIGHUP (a logout, Ctrl+C in the terminal that started the program) close
// the window as its close button does, so that the program ends the same way: the port is closed
// and its lock released. A signal that was ignored when the program started stays ignored.
void closeOnSignals(QWidget& window);

} // namespace hexline
