#include "error.h"

namespace hexline {

Error::Error(const QString& message) : std::runtime_error(message.toStdString()), message_(message)
{
}

QString quoted(const QString& text)
{
    constexpr qsizetype kShown = 40;
    QString out;
    out.reserve(kShown + 8);
    out += u'"';
    for (qsizetype i = 0; i < text.size() && i < kShown; ++i) {
        const char16_t c = text.at(i).unicode();
        out += c < 0x20 ? QChar(char16_t(0x2400 + c)) : c == 0x7F ? QChar(char16_t(0x2421)) : QChar(c);
    }
    if (text.size() > kShown)
        out += QStringLiteral("\u2026 (%1 characters)").arg(text.size());
    out += u'"';
    return out;
}

} // namespace hexline
