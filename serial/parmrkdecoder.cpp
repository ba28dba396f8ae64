#include "serial/parmrkdecoder.h"

#include <cstring>

namespace hexline {

qsizetype ParmrkDecoder::decode(const char* in, qsizetype n, char* out)
{
    qsizetype written = 0;
    qsizetype i = 0;
    while (i < n) {
        if (state_ == State::Plain) {
            // Marks are rare: copy up to the next \377 in one go.
            const void* found = std::memchr(in + i, 0xFF, size_t(n - i));
            const qsizetype end = found ? static_cast<const char*>(found) - in : n;
            if (out + written != in + i)
                std::memmove(out + written, in + i, size_t(end - i));
            written += end - i;
            i = end;
            if (i < n) {
                state_ = State::Escape;
                ++i;
            }
            continue;
        }
        const char c = in[i++];
        if (state_ == State::Escape && c == char(0xFF)) {
            out[written++] = c;
            state_ = State::Plain;
        } else if (state_ == State::Escape && c == 0) {
            state_ = State::Error;
        } else {
            // The byte that had the error; "\377 X" with any other X is no mark a terminal
            // writes and is taken as damaged too.
            out[written++] = '?';
            state_ = State::Plain;
        }
    }
    return written;
}

} // namespace hexline
