// Makes the README's screenshot: the monitor watching the simulated device for a few seconds.
// Usage: hexline-screenshot OUTPUT.png   (run under Xvfb, see tools/screenshot.sh)

#include "app/formmain.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPixmap>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: hexline-screenshot OUTPUT.png\n");
        return 2;
    }
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QApplication app(argc, argv);
    hexline::FormMain window;
    window.show();

    QProcess sim;
    sim.start(QStringLiteral(HEXLINE_SIM_PATH), {QStringLiteral("--baud"), QStringLiteral("9600"),
                                                 QStringLiteral("--seed"), QStringLiteral("7")});
    if (!sim.waitForReadyRead(5000))
        return 1;
    window.findChild<QLineEdit*>(QStringLiteral("txtPORT"))
        ->setText(QString::fromLatin1(sim.readLine().trimmed().mid(5)));
    window.findChild<QPushButton*>(QStringLiteral("Command2"))->click();
    QTimer::singleShot(4000, [&] {
        const bool saved = window.grab().save(QString::fromLocal8Bit(argv[1]));
        sim.terminate();
        sim.waitForFinished();
        app.exit(saved ? 0 : 1);
    });
    return app.exec();
}
