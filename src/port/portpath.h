#pragma once

#include <QHash>
#include <QString>

// Port numbers to device files. A symbolic link COMn in the ports folder of the user's
// configuration wins; without one, numbers fall into the usual Linux device families:
// COM1-32 /dev/ttyS0-31, COM33-64 /dev/ttyUSB0-31, COM65-96 /dev/ttyACM0-31,
// COM97-99 /dev/ttyAMA0-2. Looked up anew on every call, so a link made while the program
// runs counts at the next opening.
namespace PortPath {

// The folder that holds the COMn links.
QString portsDir();
// Where the link for this number lives (whether or not it exists).
QString linkPathFor(int number);
// The device to open for a port number: the link when there is one, otherwise the
// conventional device; empty when there is neither (numbers below 1 or above 99).
QString devicePathFor(int number);
// A ready-to-paste command that links a device to this port number, naming a serial
// device that is present when there is one.
QString linkCommandFor(int number);

// The serial devices the system knows now, by path, each with its adapter's description
// (empty where the system has none). One scan, for describing many numbers at once.
QHash<QString, QString> knownDevices();
// Where a port number leads, for the user: the device, the adapter's description where known
// and whether the device is there now, then the link it goes through, if any. For example
// "/dev/ttyUSB0 — FT232R USB UART (已连接)".
QString describeTarget(int number, const QHash<QString, QString> &known);

} // namespace PortPath

using PortPath::devicePathFor;
