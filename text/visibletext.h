#pragma once

#include <QString>
#include <QStringView>

namespace hexline {

// The stand-in a character shows as wherever text is displayed or logged, one character for one,
// so that no character vanishes, splits a line or makes its neighbours change places:
//  - a control character (U+0000 to U+001F, DEL): its picture from the Control Pictures block
//    (CR as U+240D);
//  - a C1 control, and a character that draws nothing, draws on its neighbours or reorders the
//    line (see showsAsItself): the replacement character U+FFFD;
//  - anything else, surrogates included, as itself.
char16_t visibleCharacter(char16_t c);

// Whether a character from U+00A0 up is drawn as itself. Not so: format characters (the soft
// hyphen, zero-width spaces and joiners, direction marks, embeddings and overrides, tags),
// combining and enclosing marks (accents, overlays, variation selectors, the combining grapheme
// joiner: drawn over a neighbour, or many of them stacked into one smear), line and paragraph
// separators, right-to-left letters (which move the digits beside them), and the others that draw
// no ink (the Hangul fillers U+115F, U+1160, U+3164 and U+FFA0, the braille blank U+2800, the
// null notehead U+1D159, the object replacement character U+FFFC). Spaces show as themselves.
bool showsAsItself(char32_t c);

// text with every character replaced by its stand-in; both halves of a surrogate pair that does
// not show as itself become stand-ins.
QString visibleText(QStringView text);

} // namespace hexline
