#pragma once

#include <QString>

// The parts of the port rule that differ by operating system, for portmap.cpp.
namespace hexline::ports::os {

// The device that the built-in rule gives port, or an empty string.
QString builtInPath(int port);
// The port that the built-in rule gives the device at path, or 0.
int builtInPort(const QString& path);
// Whether path leads to a terminal device, found without opening it.
bool isTerminal(const QString& path);

} // namespace hexline::ports::os
