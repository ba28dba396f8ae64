// The port and termination conversions accept exactly their documented forms, and what they
// accept converts back to the same number.
#include "errors/error.h"
#include "serial/conversions.h"

#include <QRegularExpression>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QRegularExpression decimal(QRegularExpression::anchoredPattern(u"[+-]?[0-9]+"));
    static const QRegularExpression hex(QRegularExpression::anchoredPattern(u"[0-9A-Fa-f]+"));
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    QString trimmed = text; // only blanks around a number are ignored
    while (trimmed.startsWith(u' '))
        trimmed.remove(0, 1);
    while (trimmed.endsWith(u' '))
        trimmed.chop(1);

    try {
        const qint16 port = hexline::portNumberFromText(text);
        if (!decimal.match(trimmed).hasMatch() || trimmed.toLongLong() != port)
            std::abort();
    } catch (const hexline::Error&) {
        bool ok = false;
        const qlonglong v = trimmed.toLongLong(&ok);
        if (ok && decimal.match(trimmed).hasMatch() && v >= -32768 && v <= 32767)
            std::abort(); // a valid port text was refused
    }

    try {
        const qint16 term = hexline::terminationFromText(text);
        bool ok = false;
        if (!hex.match(trimmed).hasMatch() || trimmed.toULongLong(&ok, 16) != quint16(term) || !ok)
            std::abort();
    } catch (const hexline::Error&) {
        bool ok = false;
        const qulonglong v = trimmed.toULongLong(&ok, 16);
        if (ok && hex.match(trimmed).hasMatch() && v <= 0xFFFF)
            std::abort(); // a valid termination text was refused
    }
    return 0;
}
