#include "serial/portcontrol.h"

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

void openPort(PortControls& c, SerialComm& Comm1, PairedLists lists, ReceiveProcessor& receiver,
              qint16& TermValue)
{
    Comm1.setInputMode(SerialComm::kBinaryMode);
    if (c.modeText() == u"t")
        Comm1.setInputMode(SerialComm::kTextMode);
    Comm1.setRThreshold(1);
    Comm1.setInputLen(0);
    Comm1.setSettings(c.setupText());
    // Each field is read and converted once; the entries show the same texts and numbers.
    const qint16 port = portNumberFromText(c.portText());
    Comm1.setCommPort(port);
    const QString endText = c.endText();
    TermValue = terminationFromText(endText);
    lists.insertPlain(QStringLiteral("Termination block set to :&H%1 (%2)")
                          .arg(endText, QString::number(TermValue)));
    Comm1.setPortOpen(true);
    receiver.startLines();
    c.setOpenEnabled(false);
    c.setCloseEnabled(true);
    lists.insertPlain(portEntry(port, QLatin1StringView("open")));
}

void closePort(PortControls& c, SerialComm& Comm1, PairedLists lists)
{
    if (Comm1.PortOpen())
        Comm1.setPortOpen(false);
    c.setOpenEnabled(true);
    c.setCloseEnabled(false);
    lists.insertPlain(portEntry(portNumberFromText(c.portText()), QLatin1StringView("close")));
}

} // namespace hexline
