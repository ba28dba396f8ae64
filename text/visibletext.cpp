#include "text/visibletext.h"

namespace hexline {

namespace {

constexpr char16_t kStandIn = 0xFFFD;

// Characters that draw no ink although they are neither format characters, separators nor
// marks: the Hangul fillers, the braille blank, the null notehead, the object replacement
// character, and the unassigned code points kept for invisible characters.
bool drawsNothing(char32_t c)
{
    return (c >= 0x115F && c <= 0x1160) || (c >= 0x2060 && c <= 0x206F) || c == 0x2800 ||
           c == 0x3164 || c == 0xFFA0 || (c >= 0xFFF0 && c <= 0xFFF8) || c == 0xFFFC ||
           c == 0x1D159 || (c >= 0xE0000 && c <= 0xE0FFF);
}

} // namespace

char16_t visibleCharacter(char16_t c)
{
    // Most received characters are printable ASCII or Latin-1: decided without a table.
    if (char16_t(c - 0x20) < 0x5F)
        return c;
    if (c < 0x20)
        return char16_t(0x2400 + c);
    if (c < 0xA0)
        return c == 0x7F ? char16_t(0x2421) : kStandIn;
    if (c < 0x300) // the soft hyphen is the only format character below the first mark
        return c == 0xAD ? kStandIn : c;
    return showsAsItself(c) ? c : kStandIn;
}

bool showsAsItself(char32_t c)
{
    switch (QChar::category(c)) {
    case QChar::Other_Format:
    case QChar::Mark_NonSpacing: // drawn on a neighbour, or over several
    case QChar::Mark_Enclosing:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return false;
    default:
        break;
    }
    const QChar::Direction direction = QChar::direction(c);
    return direction != QChar::DirR && direction != QChar::DirAL && !drawsNothing(c);
}

QString visibleText(QStringView text)
{
    QString out(text.size(), Qt::Uninitialized);
    char16_t* d = reinterpret_cast<char16_t*>(out.data());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() &&
            !showsAsItself(QChar::surrogateToUcs4(c, text[i + 1]))) {
            *d++ = kStandIn;
            *d++ = kStandIn;
            ++i;
            continue;
        }
        *d++ = visibleCharacter(c.unicode());
    }
    return out;
}

} // namespace hexline
