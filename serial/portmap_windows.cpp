#include "serial/portmap.h"
#include "serial/portmap_os.h"

#include <QFileInfo>

// Windows: port N is COMN; the serial layer tells why a device cannot be had.
namespace hexline::ports {

namespace os {

QString builtInPath(int port)
{
    return port >= 1 ? QStringLiteral("COM%1").arg(port) : QString();
}

int builtInPort(const QString& path)
{
    return path.startsWith(QLatin1String("COM")) ? path.mid(3).toInt() : 0;
}

bool isTerminal(const QString& path)
{
    return QFileInfo::exists(path);
}

} // namespace os

QString inUse(const QString&)
{
    return QStringLiteral("it is in use by another program");
}

QString openFailureReason(const QString&, bool)
{
    return {};
}

DeviceLook::DeviceLook(const QString&) {}

DeviceLook::~DeviceLook() = default;

bool DeviceLook::lockedElsewhere() const
{
    return false;
}

} // namespace hexline::ports
