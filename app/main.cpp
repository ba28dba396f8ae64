#include "app/formmain.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    hexline::FormMain frmMAIN;
    frmMAIN.show();
    return app.exec();
}
