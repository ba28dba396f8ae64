#include "app/portcontrol.h"

#include "monitor/pairedlists.h"
#include "monitor/receiveprocessor.h"
#include "serial/conversions.h"
#include "serial/serialcomm.h"

namespace hexline {

namespace {

QString portEntry(qint16 port, QLatin1StringView what)
{
    return QStringLiteral("COMM %1 %2.").arg(port).arg(what);
}

} // namespace

void openPort(PortControls& c, SerialComm& serial, PairedLists lists, ReceiveProcessor& receiver,
              qint16& termValue)
{
    serial.setInputMode(SerialComm::InputMode::Binary);
    if (c.modeText() == u"t") // exactly: "T" or "text" mean binary
        serial.setInputMode(SerialComm::InputMode::Text);
    serial.setReceiveThreshold(1);
    serial.setInputLength(0);
    serial.setSettings(c.setupText());
    // Each field is read and converted once; the entries show the same texts and numbers.
    const qint16 port = portNumberFromText(c.portText());
    serial.setPortNumber(port);
    const QString termination = c.terminationText();
    termValue = terminationFromText(termination);
    lists.insertPlain(QStringLiteral("Termination block set to :&H%1 (%2)")
                          .arg(termination, QString::number(termValue)));
    serial.setOpen(true);
    receiver.startLines();
    c.setOpenEnabled(false);
    c.setCloseEnabled(true);
    lists.insertPlain(portEntry(port, QLatin1StringView("open")));
}

void closePort(PortControls& c, SerialComm& serial, PairedLists lists)
{
    if (serial.isOpen())
        serial.setOpen(false);
    c.setOpenEnabled(true);
    c.setCloseEnabled(false);
    lists.insertPlain(portEntry(portNumberFromText(c.portText()), QLatin1StringView("close")));
}

} // namespace hexline
