#pragma once

#include <QString>

namespace hexline::terminal {

// What the serial component asks of an open device beyond QSerialPort, by its handle. Each
// operating system has a file of its own; where a feature is missing, it does nothing.

// Takes the device's advisory lock, as terminal programs do, so that no other program reads it:
// false when another program holds it.
bool lock(qintptr handle);
void unlock(qintptr handle);

// Asks the terminal to mark bytes received with a parity or framing error ("\377 \0 X") instead
// of passing them on unchanged: QSerialPort clears that whenever it applies a parity. Returns
// the system's reason when the terminal refuses; false in marksErrors() where there is no such
// marking.
QString markErrors(qintptr handle);
bool marksErrors();

} // namespace hexline::terminal
