#pragma once

#include <QString>

namespace hexline {

// The port field as a port number: blanks (U+0020) around it ignored, an optional sign and decimal
// digits, within -32768..32767. Throws Error otherwise.
qint16 portNumberFromText(const QString& text);

// The termination field read as hexadecimal digits: blanks (U+0020) around it ignored, either case,
// any number of leading zeros, at most FFFF; 8000 to FFFF become -32768 to -1. Throws Error
// otherwise.
qint16 terminationFromText(const QString& text);

} // namespace hexline
