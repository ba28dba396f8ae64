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
    virtual QString portText() const = 0;           // txtPORT
    virtual QString setupText() const = 0;          // txtSETUP
    virtual QString modeText() const = 0;           // txtMODE
    virtual QString endText() const = 0;            // txtEND
    virtual void setOpenEnabled(bool enabled) = 0;  // Command2
    virtual void setCloseEnabled(bool enabled) = 0; // Command3
};

// Open: configures Comm1 from the fields, sets TermValue, writes the termination entry, opens
// the port (the receiver starts with empty lines), swaps the buttons and writes the open entry.
// A failing step throws Error; the steps before it stay done.
void openPort(PortControls& controls, SerialComm& Comm1, PairedLists lists,
              ReceiveProcessor& receiver, qint16& TermValue);

// Close: closes the port if it is open, swaps the buttons back and writes the close entry.
void closePort(PortControls& controls, SerialComm& Comm1, PairedLists lists);

} // namespace hexline
