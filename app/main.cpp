#include "app/closeonsignals.h"
#include "app/formmain.h"
#include "errors/error.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace {

// Qt's messages while the application connects to the display, held back until it has. Without a
// display Qt ends the program with a fatal message that advises reinstalling it, which tells a
// user nothing to act on; this says what to check instead, in one line, and exits with status 1.
struct HeldMessage {
    QtMsgType type;
    QByteArray category;
    QString text;
};
std::mutex heldLock;
std::vector<HeldMessage> held;

QString variable(const char* name)
{
    return qEnvironmentVariableIsSet(name)
               ? QStringLiteral("%1 is %2")
                     .arg(QLatin1String(name), hexline::quoted(qEnvironmentVariable(name)))
               : QStringLiteral("%1 is not set").arg(QLatin1String(name));
}

void holdStartMessage(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type != QtFatalMsg) {
        const std::lock_guard lock(heldLock);
        held.push_back({type, QByteArray(context.category), text});
        return;
    }
    const QString line =
        QStringLiteral("hexline: no display could be opened: check that DISPLAY or "
                       "WAYLAND_DISPLAY names a running display server, or that QT_QPA_PLATFORM "
                       "names an installed platform (%1, %2, %3).\n")
            .arg(variable("DISPLAY"), variable("WAYLAND_DISPLAY"), variable("QT_QPA_PLATFORM"));
    std::fputs(line.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
    std::_Exit(1); // Qt is half started: nothing of it may run down
}

} // namespace

int main(int argc, char* argv[])
{
    const QtMessageHandler qtHandler = qInstallMessageHandler(holdStartMessage);
    QApplication app(argc, argv);
    qInstallMessageHandler(qtHandler);
    {
        const std::lock_guard lock(heldLock);
        for (const HeldMessage& m : held)
            qtHandler(m.type, QMessageLogContext(nullptr, 0, nullptr, m.category.constData()),
                      m.text);
        held.clear();
    }

    hexline::FormMain window;
    hexline::closeOnSignals(window);
    window.show();
    return app.exec();
}
