#include "closeonsignals.h"
#include "formmain.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    hexline::FormMain frmMAIN;
    hexline::closeOnSignals(frmMAIN);
    frmMAIN.show();
    return app.exec();
}
