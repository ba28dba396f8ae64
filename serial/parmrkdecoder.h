#pragma once

#include <QtGlobal>

namespace hexline {

// Reads the marks that a terminal asked for parity marking (PARMRK) puts into the received bytes:
// "\377 \0 X" stands for a byte X received with a parity or framing error (or a break) and
// becomes "?"; "\377 \377" stands for one received \377. A mark cut by the end of one read is
// finished by the next, so it decodes the same however the bytes were split.
class ParmrkDecoder {
public:
    // Decodes n bytes from in into out, which may be in itself, and returns how many it wrote
    // (never more than n).
    qsizetype decode(const char* in, qsizetype n, char* out);
    // Forgets a mark begun by an earlier read.
    void reset() { state_ = State::Plain; }

private:
    enum class State : quint8 { Plain, Escape, Error };
    State state_ = State::Plain;
};

} // namespace hexline
