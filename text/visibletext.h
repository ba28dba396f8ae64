#pragma once

#include <QString>
#include <QStringView>

namespace hexline {

// The stand-in a character shows as wherever text is displayed or logged: a control character
// (U+0000 to U+001F, DEL) as its picture from the Control Pictures block (CR as U+240D), a C1
// control as the replacement character, anything else as itself. Surrogates pass unchanged.
char16_t visibleCharacter(char16_t c);

// text with every character replaced by its stand-in.
QString visibleText(QStringView text);

} // namespace hexline
