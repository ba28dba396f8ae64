#include "serial/portmap.h"

#include "errors/error.h"
#include "serial/portmap_os.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QStandardPaths>
#include <QStringList>

#include <map>

namespace hexline::ports {

namespace {

QString entryPath(int port)
{
    return portDirectory() + QStringLiteral("/com%1").arg(port);
}

// Where an entry leads: the canonical device for a link that resolves, the link's own target
// for one that does not (so that opening it fails with a clear reason), or the entry itself.
QString resolveEntry(const QFileInfo& entry)
{
    const QString canonical = entry.canonicalFilePath();
    if (!canonical.isEmpty())
        return canonical;
    return entry.isSymLink() ? entry.symLinkTarget() : entry.absoluteFilePath();
}

// Port numbers that the port directory gives, with the devices they lead to.
std::map<int, QString> directoryEntries()
{
    std::map<int, QString> entries;
    const QDir dir(portDirectory());
    const QFileInfoList infos = dir.entryInfoList(
        {QStringLiteral("com*")}, QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& info : infos) {
        bool ok = false;
        const int port = info.fileName().mid(3).toInt(&ok);
        if (ok && port >= 1 && info.fileName() == QStringLiteral("com%1").arg(port))
            entries.emplace(port, resolveEntry(info));
    }
    return entries;
}

} // namespace

QString portDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/hexline/ports");
}

QString devicePath(int port)
{
    const QFileInfo entry(entryPath(port));
    if (entry.exists() || entry.isSymLink())
        return resolveEntry(entry);
    return os::builtInPath(port);
}

int portForDevice(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    for (const auto& [port, device] : directoryEntries())
        if (device == path || (!canonical.isEmpty() && device == canonical))
            return port;
    const int port = os::builtInPort(path);
    // A built-in number counts only when no directory entry takes that number for another device.
    return port != 0 && devicePath(port) == path ? port : 0;
}

QString presentDevices(int shown)
{
    std::map<int, QString> present;
    for (const auto& [port, device] : directoryEntries())
        if (os::isTerminal(device))
            present.emplace(port, device);
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const int port = portForDevice(info.systemLocation());
        if (port != 0)
            present.emplace(port, info.systemLocation());
    }
    if (present.empty())
        return QStringLiteral("No serial devices are present.");
    QStringList items;
    for (const auto& [port, device] : present) {
        if (shown >= 0 && items.size() == shown) {
            items << QStringLiteral("... and %1 more").arg(present.size() - std::size_t(shown));
            break;
        }
        items << QStringLiteral("port %1 (%2)").arg(port).arg(shownName(device));
    }
    return QStringLiteral("Serial devices present: %1.").arg(items.join(QStringLiteral(", ")));
}

} // namespace hexline::ports
