#include "serial/linesettings.h"

#include "errors/error.h"

#include <QStringList>

#include <algorithm>
#include <limits>

namespace hexline {

namespace {

[[noreturn]] void reject(const QString& text, const QString& why)
{
    throw Error(QStringLiteral("%1 is not a line setting: %2.").arg(quoted(text), why));
}

// The parity letters of a settings text, one table for reading and writing them.
struct ParityLetter {
    char16_t letter;
    QSerialPort::Parity parity;
};
constexpr ParityLetter kParities[] = {{u'N', QSerialPort::NoParity},
                                      {u'E', QSerialPort::EvenParity},
                                      {u'O', QSerialPort::OddParity},
                                      {u'M', QSerialPort::MarkParity},
                                      {u'S', QSerialPort::SpaceParity}};

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
    const auto* p =
        std::find_if(std::begin(kParities), std::end(kParities), [&](const ParityLetter& l) {
            return parity.size() == 1 && parity[0] == l.letter;
        });
    if (p == std::end(kParities))
        reject(text, QStringLiteral("the parity must be N, E, O, M or S"));
    s.parity = p->parity;

    const QString data = fields[2].trimmed(); // QSerialPort's DataBits are the numbers 5 to 8
    if (data.size() != 1 || data[0] < u'5' || data[0] > u'8')
        reject(text, QStringLiteral("the data bits must be 5, 6, 7 or 8"));
    s.dataBits = QSerialPort::DataBits(data[0].unicode() - u'0');

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
    const auto* p = std::find_if(std::begin(kParities), std::end(kParities),
                                 [&](const ParityLetter& l) { return l.parity == s.parity; });
    const QChar parity = p != std::end(kParities) ? QChar(p->letter) : QChar(u'N');
    const QString stop = s.stopBits == QSerialPort::TwoStop          ? QStringLiteral("2")
                         : s.stopBits == QSerialPort::OneAndHalfStop ? QStringLiteral("1.5")
                                                                     : QStringLiteral("1");
    return QStringLiteral("%1,%2,%3,%4").arg(s.baudRate).arg(parity).arg(int(s.dataBits)).arg(stop);
}

} // namespace hexline
