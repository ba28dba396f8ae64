#include "linesettings.h"

#include "error.h"

#include <QStringList>

#include <algorithm>
#include <limits>

namespace hexline {

namespace {

[[noreturn]] void reject(const QString& text, const QString& why)
{
    throw Error(QStringLiteral("%1 is not a line setting: %2.").arg(quoted(text), why));
}

bool isDecimal(const QString& field)
{
    if (field.isEmpty())
        return false;
    for (QChar c : field)
        if (c < u'0' || c > u'9')
            return false;
    return true;
}

} // namespace

LineSettings parseLineSettings(const QString& text)
{
    const QStringList fields = text.split(u',');
    if (fields.size() != 4)
        reject(text,
               QStringLiteral("it needs four fields separated by commas, as in \"9600,N,8,1\""));

    LineSettings s;

    const QString baud = fields[0].trimmed();
    constexpr qint64 kMaxRate = std::numeric_limits<qint32>::max();
    qint64 rate = 0;
    if (isDecimal(baud))
        for (QChar c : baud) // saturates, so that leading zeros and any length are fine
            rate = std::min(rate * 10 + (c.unicode() - u'0'), kMaxRate + 1);
    if (rate < 1 || rate > kMaxRate)
        reject(text, QStringLiteral("the baud rate must be a positive whole number"));
    s.baudRate = qint32(rate);

    const QString parity = fields[1].trimmed().toUpper();
    if (parity == u"N")
        s.parity = QSerialPort::NoParity;
    else if (parity == u"E")
        s.parity = QSerialPort::EvenParity;
    else if (parity == u"O")
        s.parity = QSerialPort::OddParity;
    else if (parity == u"M")
        s.parity = QSerialPort::MarkParity;
    else if (parity == u"S")
        s.parity = QSerialPort::SpaceParity;
    else
        reject(text, QStringLiteral("the parity must be N, E, O, M or S"));

    const QString data = fields[2].trimmed();
    if (data == u"5")
        s.dataBits = QSerialPort::Data5;
    else if (data == u"6")
        s.dataBits = QSerialPort::Data6;
    else if (data == u"7")
        s.dataBits = QSerialPort::Data7;
    else if (data == u"8")
        s.dataBits = QSerialPort::Data8;
    else
        reject(text, QStringLiteral("the data bits must be 5, 6, 7 or 8"));

    const QString stop = fields[3].trimmed();
    if (stop == u"1") {
        s.stopBits = QSerialPort::OneStop;
    } else if (stop == u"2") {
        s.stopBits = QSerialPort::TwoStop;
    } else if (stop == u"1.5") {
#ifdef Q_OS_WIN
        s.stopBits = QSerialPort::OneAndHalfStop;
#else
        // termios has no 1.5 stop bits; the serial layer would quietly use 1.
        reject(text, QStringLiteral("1.5 stop bits are not available on this system; use 1 or 2"));
#endif
    } else {
#ifdef Q_OS_WIN
        reject(text, QStringLiteral("the stop bits must be 1, 1.5 or 2"));
#else
        reject(text, QStringLiteral("the stop bits must be 1 or 2"));
#endif
    }
    return s;
}

QString toString(const LineSettings& s)
{
    QChar parity = u'N';
    switch (s.parity) {
    case QSerialPort::EvenParity:
        parity = u'E';
        break;
    case QSerialPort::OddParity:
        parity = u'O';
        break;
    case QSerialPort::MarkParity:
        parity = u'M';
        break;
    case QSerialPort::SpaceParity:
        parity = u'S';
        break;
    default:
        break;
    }
    const QString stop = s.stopBits == QSerialPort::TwoStop          ? QStringLiteral("2")
                         : s.stopBits == QSerialPort::OneAndHalfStop ? QStringLiteral("1.5")
                                                                     : QStringLiteral("1");
    return QStringLiteral("%1,%2,%3,%4").arg(s.baudRate).arg(parity).arg(int(s.dataBits)).arg(stop);
}

} // namespace hexline
