#pragma once

#include <QString>

namespace hexline {

class ReceiveProcessor;
class SerialComm;
struct PairedLists;

// What Open and Close use of the window: the current texts of its four fields, read when a step
// needs them, and the enabled states of the Open and Close buttons. The window implements it, so
// that port control needs no widgets.
class PortControls {
public:
    virtual ~PortControls() = default;
    virtual QString portText() const = 0;        // port number, decimal
    virtual QString setupText() const = 0;       // line settings
    virtual QString modeText() const = 0;        // input mode letter
    virtual QString terminationText() const = 0; // termination value, hexadecimal digits
    virtual void setOpenEnabled(bool enabled) = 0;
    virtual void setCloseEnabled(bool enabled) = 0;
};

// Open: configures the serial component from the fields, sets the termination value, writes the
// termination entry, opens the port (the receiver starts with empty lines), swaps the buttons and
// writes the open entry. A failing step throws Error; the steps before it stay done.
void openPort(PortControls& controls, SerialComm& serial, PairedLists lists,
              ReceiveProcessor& receiver, qint16& termValue);

// Close: closes the port if it is open, swaps the buttons back and writes the close entry.
void closePort(PortControls& controls, SerialComm& serial, PairedLists lists);

} // namespace hexline
