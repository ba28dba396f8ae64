#pragma once

#include <QString>

namespace hexline::ports {

// Port numbers name devices by one fixed rule:
//  1. an entry comN (a symbolic link or a device node) in the port directory names port N;
//  2. otherwise, on Linux, ports 1-32 are /dev/ttyS0-31, 33-64 /dev/ttyUSB0-31 and 65-96
//     /dev/ttyACM0-31; on Windows port N is COMN.

// hexline/ports under the user's configuration directory (~/.config/hexline/ports on Linux).
QString portDirectory();

// The device that port opens, or an empty string when no rule gives it one.
QString devicePath(int port);

// The port number that opens the device at path, or 0 when none does.
int portForDevice(const QString& path);

// One sentence listing the serial devices present with the port numbers that open them: the
// first `shown` of them, then how many more there are. Only terminal devices count; an entry
// that leads to a plain file, a directory or a device such as /dev/null is left out.
QString presentDevices(int shown = -1);

// Why a device cannot be had, in words a user can act on:

// "it is in use by another program", with the name and pid of the program that holds the
// device's lock where the system shows it.
QString inUse(const QString& path);

// Why opening the device at path failed, where the system tells more than the serial layer: a
// device that is not there, a file that is no serial device, or one that the user may not open
// (naming its group and how to join it, or who may open it). Empty where it tells nothing more.
QString openFailureReason(const QString& path, bool permissionDenied);

// A look at a device before it is opened for use: whether another program holds its lock. The
// look keeps the device open until it ends, so that a real port's modem lines do not drop between
// the look and the opening.
class DeviceLook {
public:
    explicit DeviceLook(const QString& path);
    ~DeviceLook();
    DeviceLook(const DeviceLook&) = delete;
    DeviceLook& operator=(const DeviceLook&) = delete;
    bool lockedElsewhere() const;

private:
    int fd_ = -1;
};

} // namespace hexline::ports
