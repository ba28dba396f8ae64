#pragma once

#include <QString>
#include <stdexcept>

namespace hexline {

// The one failure type of the program. A failing step throws it with a message meant for the
// user. The window catches it around each handler and shows it, so a handler stops where it
// failed and keeps what it did; the serial component catches it only to undo a half-applied
// change of its own, and throws it on. A message with a long list may come with a brief form for
// a message box, which shows the first items only; the full message goes to standard error.
class Error : public std::runtime_error {
public:
    explicit Error(const QString& message, const QString& brief = QString());
    const QString& message() const noexcept { return message_; }
    const QString& brief() const noexcept { return brief_.isEmpty() ? message_ : brief_; }

private:
    QString message_;
    QString brief_;
};

// Text typed by the user, quoted for a message: control characters made visible and a long
// text shortened, so that a message stays one readable line.
QString quoted(const QString& text);

// A path or name that the program found rather than the user typed (a device, a link's target,
// the log file, a program holding a lock), for a message: every character as its visible
// stand-in, as in quoted text, so that a line end or a direction override in it can neither
// split the message nor reorder it. Neither quoted nor shortened: it reads as a path, and the
// message box shortens long words itself.
QString shownName(const QString& name);

} // namespace hexline
