#include "portcontrol.h"

#include "conversions.h"
#include "pairedlists.h"
#include "receiveprocessor.h"
#include "serialcomm.h"

#include <QLineEdit>
#include <QPushButton>

namespace hexline {

namespace {

QString terminationEntry(const QString& endText)
{
    return QStringLiteral("Termination block set to :&H%1 (%2)").arg(endText).arg(terminationFromText(endText));
}

QString portEntry(const QString& portText, const char* what)
{
    return QStringLiteral("COMM %1 %2.").arg(portNumberFromText(portText)).arg(QLatin1String(what));
}

} // namespace

void openPort(const PortControls& c, SerialComm& Comm1, PairedLists lists, ReceiveProcessor& receiver,
              qint16& TermValue)
{
    Comm1.setInputMode(SerialComm::kBinaryMode);
    if (c.txtMODE->text() == u"t")
        Comm1.setInputMode(SerialComm::kTextMode);
    Comm1.setRThreshold(1);
    Comm1.setInputLen(0);
    Comm1.setSettings(c.txtSETUP->text());
    Comm1.setCommPort(portNumberFromText(c.txtPORT->text()));
    TermValue = terminationFromText(c.txtEND->text());
    lists.insertPlain(terminationEntry(c.txtEND->text()));
    Comm1.setPortOpen(true);
    receiver.startLines();
    c.Command2->setEnabled(false);
    c.Command3->setEnabled(true);
    lists.insertPlain(portEntry(c.txtPORT->text(), "open"));
}

void closePort(const PortControls& c, SerialComm& Comm1, PairedLists lists)
{
    if (Comm1.PortOpen())
        Comm1.setPortOpen(false);
    c.Command2->setEnabled(true);
    c.Command3->setEnabled(false);
    lists.insertPlain(portEntry(c.txtPORT->text(), "close"));
}

} // namespace hexline
