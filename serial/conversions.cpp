#include "serial/conversions.h"

#include "errors/error.h"

namespace hexline {

namespace {

// Blanks around a number are ignored; any other character, a tab or line break included, is
// not part of a number (a pasted line end must not reach the status entries or the log).
QString withoutBlanks(const QString& text)
{
    qsizetype first = 0, last = text.size();
    while (first < last && text.at(first) == u' ')
        ++first;
    while (last > first && text.at(last - 1) == u' ')
        --last;
    return text.mid(first, last - first);
}

} // namespace

qint16 portNumberFromText(const QString& text)
{
    const QString t = withoutBlanks(text);
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-'))
        negative = t[i++] == u'-';
    qint64 value = 0;
    const qsizetype firstDigit = i;
    for (; i < t.size(); ++i) {
        const char16_t c = t[i].unicode();
        if (c < u'0' || c > u'9')
            break;
        value =
            std::min<qint64>(value * 10 + (c - u'0'), 100000); // saturate: only the range matters
    }
    if (i == firstDigit || i != t.size())
        throw Error(QStringLiteral("%1 is not a port number.").arg(quoted(text)));
    if (negative)
        value = -value;
    if (value < -32768 || value > 32767)
        throw Error(QStringLiteral("%1 is not a port number: it must be a number from 1 to 32767.")
                        .arg(quoted(text)));
    return qint16(value);
}

qint16 terminationFromText(const QString& text)
{
    const QString t = withoutBlanks(text);
    quint32 value = 0;
    for (QChar ch : t) {
        const char16_t c = ch.unicode();
        quint32 digit = 0;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else
            throw Error(
                QStringLiteral("%1 is not a termination value: it must be hexadecimal digits "
                               "(0-9, A-F).")
                    .arg(quoted(text)));
        value = value * 16 + digit;
        if (value > 0xFFFF)
            throw Error(QStringLiteral("%1 is not a termination value: it must not exceed FFFF.")
                            .arg(quoted(text)));
    }
    if (t.isEmpty())
        throw Error(QStringLiteral("the termination value is empty: it must be hexadecimal digits "
                                   "(0-9, A-F), such as 0D."));
    return qint16(quint16(value));
}

} // namespace hexline
