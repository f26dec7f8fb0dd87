#pragma once
// The serial device map: a folder whose entries, links named COM1 ... COM100, point at the real
// devices (/dev/ttyUSB0, /dev/serial/by-id/..., a pseudo-terminal). COMn without an entry is
// /dev/ttyS<n-1>.

#include <QString>
#include <QStringList>

namespace kelta::platform {

// KELTA_SERIAL_MAP, or <GenericConfigLocation>/VANTO/Kelta/serial.
QString serialMapDir();

// The device that COMn stands for: the map entry's target (or the entry itself when it is no
// link), else /dev/ttyS<n-1>. Empty for n < 1.
QString devicePathFor(int n);

// The device that the map entry of COMn names; empty when the map has no entry for COMn.
QString mappedDevicePathFor(int n);

// The names of the system's serial ports: every entry of the map (e.g. "COM3"), plus "COMn"
// for each /dev/ttyS<n-1> (n = 1 ... 100) that has no entry, exists and is a real UART;
// sorted by port number, names without a number last.
QStringList systemPortList();

// The same over a given map folder and a given prefix of the fixed ports ("/dev/ttyS").
QStringList systemPortList(const QString& mapDir, const QString& fixedPortPrefix);

// True when the device opens and its driver reports a known UART type. Most machines carry
// many ttyS nodes without hardware behind them.
bool isRealUart(const QString& devicePath);

} // namespace kelta::platform
