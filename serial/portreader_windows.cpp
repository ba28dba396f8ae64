#include "serial/portreader.h"

#include <QSerialPort>
#include <QThread>

namespace hexline {

// Windows: the reader waits on the port with QSerialPort's own blocking calls, a short while at
// a time so that calls are taken up soon. Not built on the systems the program is tested on.
namespace {
constexpr int kWaitMs = 20;
}

void PortReader::openWake() {}
void PortReader::closeWake() {}
void PortReader::notify()
{
    QMetaObject::invokeMethod(
        this, [this] { Q_EMIT arrived(); }, Qt::QueuedConnection);
}
void PortReader::wake() {}

void PortReader::run(QSerialPort& port)
{
    for (;;) {
        if (!runCall(port))
            return;
        bool failed = false;
        {
            const std::lock_guard lock(mutex_);
            failed = !failure_.isEmpty();
        }
        if (!port.isOpen() || failed || bytesAvailable() >= kCapacity) {
            tellWhenDue();
            QThread::msleep(kWaitMs);
            continue;
        }
        if (port.waitForReadyRead(kWaitMs)) {
            const QByteArray bytes = port.readAll();
            ++deviceReads_;
            deliver(bytes.constData(), bytes.size());
        } else if (port.error() != QSerialPort::NoError &&
                   port.error() != QSerialPort::TimeoutError) {
            fail(port.errorString());
        }
        tellWhenDue();
    }
}

} // namespace hexline
