#pragma once

#include <QSerialPort>
#include <QString>

namespace hexline {

// A settings string such as "9600,N,8,1": baud rate, parity, data bits, stop bits.
struct LineSettings {
    qint32 baudRate = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

// Throws Error naming the bad field when the text is malformed or asks for something that the
// serial layer of this platform cannot do.
LineSettings parseLineSettings(const QString& text);

// The canonical text of settings, e.g. "9600,N,8,1".
QString toString(const LineSettings& settings);

} // namespace hexline
