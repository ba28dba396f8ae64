#include "text/visibletext.h"

namespace hexline {

char16_t visibleCharacter(char16_t c)
{
    if (c < 0x20)
        return char16_t(0x2400 + c);
    if (c == 0x7F)
        return 0x2421;
    if (c >= 0x80 && c <= 0x9F)
        return 0xFFFD;
    return c;
}

QString visibleText(QStringView text)
{
    QString out(text.size(), Qt::Uninitialized);
    char16_t* d = reinterpret_cast<char16_t*>(out.data());
    for (QChar c : text)
        *d++ = visibleCharacter(c.unicode());
    return out;
}

} // namespace hexline
