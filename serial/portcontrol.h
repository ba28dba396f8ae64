#pragma once

#include <QtGlobal>

class QLineEdit;
class QPushButton;

namespace hexline {

class ReceiveProcessor;
class SerialComm;
struct PairedLists;

// The window's controls that Open and Close read and switch.
struct PortControls {
    QLineEdit* txtPORT;
    QLineEdit* txtSETUP;
    QLineEdit* txtMODE;
    QLineEdit* txtEND;
    QPushButton* Command2; // Open
    QPushButton* Command3; // Close
};

// Open: configures Comm1 from the fields, sets TermValue, writes the termination entry, opens
// the port (the receiver starts with empty lines), swaps the buttons and writes the open entry.
// A failing step throws Error; the steps before it stay done.
void openPort(const PortControls& controls, SerialComm& Comm1, PairedLists lists, ReceiveProcessor& receiver,
              qint16& TermValue);

// Close: closes the port if it is open, swaps the buttons back and writes the close entry.
void closePort(const PortControls& controls, SerialComm& Comm1, PairedLists lists);

} // namespace hexline
