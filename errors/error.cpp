#include "errors/error.h"

#include "text/visibletext.h"

namespace hexline {

Error::Error(const QString& message, const QString& brief)
    : std::runtime_error(message.toStdString()), message_(message), brief_(brief)
{
}

QString quoted(const QString& text)
{
    constexpr qsizetype kShown = 40;
    QString out;
    out.reserve(kShown + 8);
    out += u'"';
    out += visibleText(QStringView(text).left(kShown));
    if (text.size() > kShown)
        out += QStringLiteral("\u2026 (%1 characters)").arg(text.size());
    out += u'"';
    return out;
}

QString shownName(const QString& name)
{
    return visibleText(name);
}

} // namespace hexline
