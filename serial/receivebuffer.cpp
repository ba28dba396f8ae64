#include "serial/receivebuffer.h"

#include <cstring>

namespace hexline {

namespace {

// The component's stored input buffer size. It sizes only the first reservation of the read
// buffer; what is waiting is never cut to it, for the receive buffer grows as needed.
constexpr qsizetype kInBufferSize = 1024;

} // namespace

ReceiveBuffer::ReceiveBuffer(ReceiveSource& source) : source_(source)
{
    text_.reserve(kInBufferSize);
}

qint64 ReceiveBuffer::waiting() const
{
    return (held_ >= 0) + fed_.size() + source_.bytesAvailable();
}

qint64 ReceiveBuffer::limit(qint64 max) const
{
    const qint64 n = waiting();
    return max > 0 ? std::min(n, max) : n;
}

QString ReceiveBuffer::takeText(qint64 max)
{
    const qint64 n = limit(max);
    text_.resize(n);
    return QString::fromLatin1(text_.constData(), take(text_.data(), n));
}

QByteArray ReceiveBuffer::takeBinary(qint64 max)
{
    QByteArray bytes(limit(max) & ~qint64(1), Qt::Uninitialized);
    qint64 got = take(bytes.data(), bytes.size());
    if (got % 2 != 0) { // decoded marks took the place of more than one byte
        held_ = quint8(bytes[--got]);
        --taken_;
    }
    bytes.resize(got);
    return bytes;
}

// Up to n bytes: a held byte first, then fed input, then the device's bytes with their error
// marks decoded. A mark shrinks as it is decoded, so the device is read until n bytes are out or
// it has no more; a mark cut off at the end waits in the decoder for the next read.
qint64 ReceiveBuffer::take(char* out, qint64 n)
{
    qint64 got = 0;
    if (held_ >= 0 && n > 0) {
        out[got++] = char(held_);
        held_ = -1;
    }
    const qint64 fromFed = std::min<qint64>(n - got, fed_.size());
    std::memcpy(out + got, fed_.constData(), size_t(fromFed));
    fed_.remove(0, fromFed);
    got += fromFed;
    taken_ += got;
    while (got < n) {
        const qint64 read = source_.read(out + got, n - got);
        if (read <= 0)
            break;
        taken_ += read;
        got += decodeMarks_ ? marks_.decode(out + got, read, out + got) : read;
    }
    return got;
}

void ReceiveBuffer::reset()
{
    fed_.clear();
    marks_.reset();
    held_ = -1;
}

} // namespace hexline
