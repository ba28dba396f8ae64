#pragma once

#include "serial/parmrkdecoder.h"

#include <QByteArray>
#include <QString>

namespace hexline {

// Where received bytes wait before a ReceiveBuffer takes them: the port's reader.
class ReceiveSource {
public:
    virtual ~ReceiveSource() = default;
    virtual qint64 bytesAvailable() const = 0;
    virtual qint64 read(char* data, qint64 max) = 0;
};

// What a port has received and not yet handed out, taken from its source as Input asks for it.
// Error marks are decoded as the bytes are read, when the terminal was asked to put them in.
// Binary input is handed out in whole byte pairs: an odd last byte is held back and comes first
// with the next read, so pairs never shift.
class ReceiveBuffer {
public:
    explicit ReceiveBuffer(ReceiveSource& source);

    // "\377 \0 X" and "\377 \377" in the device's bytes are error marks to decode.
    void setDecodeMarks(bool decode) { decodeMarks_ = decode; }

    // Bytes waiting: a held byte, fed bytes and the device's unread bytes.
    qint64 waiting() const;
    // Bytes removed from waiting() by reads since construction.
    qint64 taken() const { return taken_; }

    // The waiting input, at most max bytes (all of it when max is 0 or less): one character per
    // byte as text, or an even number of bytes.
    QString takeText(qint64 max);
    QByteArray takeBinary(qint64 max);

    // Bytes taken before the device's, as if the device had sent them.
    void feed(const QByteArray& bytes) { fed_ += bytes; }
    // Forgets everything held, fed or half decoded: the port was closed.
    void reset();

private:
    qint64 limit(qint64 max) const;
    qint64 take(char* out, qint64 n);

    ReceiveSource& source_;
    bool decodeMarks_ = false;
    qint64 taken_ = 0;
    QByteArray text_; // reused for text reads
    QByteArray fed_;
    ParmrkDecoder marks_;
    int held_ = -1; // binary: a decoded byte whose partner has not come yet
};

} // namespace hexline
