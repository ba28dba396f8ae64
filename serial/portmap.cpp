#include "portmap.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QStandardPaths>
#include <QStringList>

#include <map>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

namespace hexline::ports {

namespace {

struct DeviceRange {
    const char* prefix;
    int firstPort;
};

#ifdef Q_OS_LINUX
constexpr DeviceRange kRanges[] = {{"/dev/ttyS", 1}, {"/dev/ttyUSB", 33}, {"/dev/ttyACM", 65}};
constexpr int kRangeSize = 32;
#endif

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

QString builtInPath(int port)
{
#if defined(Q_OS_LINUX)
    for (const DeviceRange& r : kRanges)
        if (port >= r.firstPort && port < r.firstPort + kRangeSize)
            return QString::fromLatin1(r.prefix) + QString::number(port - r.firstPort);
    return {};
#elif defined(Q_OS_WIN)
    return port >= 1 ? QStringLiteral("COM%1").arg(port) : QString();
#else
    Q_UNUSED(port);
    return {};
#endif
}

int builtInPort(const QString& path)
{
#if defined(Q_OS_LINUX)
    for (const DeviceRange& r : kRanges) {
        const QString prefix = QString::fromLatin1(r.prefix);
        if (!path.startsWith(prefix))
            continue;
        bool ok = false;
        const int index = path.mid(prefix.size()).toInt(&ok);
        if (ok && index >= 0 && index < kRangeSize && QString::number(index) == path.mid(prefix.size()))
            return r.firstPort + index;
    }
    return 0;
#elif defined(Q_OS_WIN)
    if (path.startsWith(QLatin1String("COM")))
        return path.mid(3).toInt();
    return 0;
#else
    Q_UNUSED(path);
    return 0;
#endif
}

// Port numbers that the port directory gives, with the devices they lead to.
std::map<int, QString> directoryEntries()
{
    std::map<int, QString> entries;
    const QDir dir(portDirectory());
    const QFileInfoList infos =
        dir.entryInfoList({QStringLiteral("com*")}, QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& info : infos) {
        bool ok = false;
        const int port = info.fileName().mid(3).toInt(&ok);
        if (ok && port >= 1 && info.fileName() == QStringLiteral("com%1").arg(port))
            entries.emplace(port, resolveEntry(info));
    }
    return entries;
}

// A terminal device: a character device of the class tty. Pseudo-terminal slaves (majors 136 to
// 143) have no entry in /sys, so their major number tells. Opening a device to ask it would
// raise the modem lines of a real port.
bool isTerminal(const QString& path)
{
#ifdef Q_OS_UNIX
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
#ifdef Q_OS_LINUX
    const unsigned int majorNumber = major(st.st_rdev);
    if (majorNumber >= 136 && majorNumber <= 143)
        return true;
    const QString classLink =
        QStringLiteral("/sys/dev/char/%1:%2/subsystem").arg(majorNumber).arg(minor(st.st_rdev));
    return QFileInfo(classLink).symLinkTarget().endsWith(QLatin1String("/tty"));
#else
    return true;
#endif
#else
    return QFileInfo::exists(path);
#endif
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
    return builtInPath(port);
}

int portForDevice(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    for (const auto& [port, device] : directoryEntries())
        if (device == path || (!canonical.isEmpty() && device == canonical))
            return port;
    const int port = builtInPort(path);
    // A built-in number counts only when no directory entry takes that number for another device.
    return port != 0 && devicePath(port) == path ? port : 0;
}

QString presentDevices(int shown)
{
    std::map<int, QString> present;
    for (const auto& [port, device] : directoryEntries())
        if (isTerminal(device))
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
        items << QStringLiteral("port %1 (%2)").arg(port).arg(device);
    }
    return QStringLiteral("Serial devices present: %1.").arg(items.join(QStringLiteral(", ")));
}

} // namespace hexline::ports
