#pragma once

namespace hexline {
class FormMain;
}

namespace hexline::bench {

// Shows the window and opens port 1 at the fastest rate it offers, as a user would with Open;
// says so on stderr and returns false when the port did not open.
bool showAndOpen(FormMain& window);

} // namespace hexline::bench
