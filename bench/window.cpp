#include "bench/window.h"

#include "app/formmain.h"

#include <QLineEdit>
#include <QPushButton>

#include <cstdio>

namespace hexline::bench {

bool showAndOpen(FormMain& window)
{
    window.show();
    window.findChild<QLineEdit*>(QStringLiteral("txtSETUP"))
        ->setText(QStringLiteral("12000000,N,8,1"));
    window.findChild<QPushButton*>(QStringLiteral("Command2"))->click();
    if (window.serial().isOpen())
        return true;
    std::fprintf(stderr, "the port did not open\n");
    return false;
}

} // namespace hexline::bench
