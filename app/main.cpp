#include "app/closeonsignals.h"
#include "app/formmain.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    hexline::FormMain window;
    hexline::closeOnSignals(window);
    window.show();
    return app.exec();
}
