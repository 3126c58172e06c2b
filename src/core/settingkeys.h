#pragma once

#include <QString>

// Keys of the "Setting" section and the texts an absent key stands for.
namespace SettingKeys {
// clang-format off
inline QString section() { return QStringLiteral("Setting"); }

inline QString comport() { return QStringLiteral("Comport"); }
inline QString baud() { return QStringLiteral("Baud"); }
inline QString databit() { return QStringLiteral("Databit"); }
inline QString parity() { return QStringLiteral("Parity"); }
inline QString stopbit() { return QStringLiteral("Stopbit"); }
inline QString flow() { return QStringLiteral("Flow"); }
// Not a port setting: whether received lines are shown with their time, "1" or "0".
inline QString timeStamps() { return QStringLiteral("TimeStamps"); }
// Not a port setting: the encoding of text on the line, "GBK" or "UTF-8".
inline QString encoding() { return QStringLiteral("Encoding"); }

inline QString defaultComport() { return QStringLiteral("COM1"); }
inline QString defaultBaud() { return QStringLiteral("9600"); }
inline QString defaultDatabit() { return QStringLiteral("8"); }
inline QString defaultParity() { return QStringLiteral("None"); }
inline QString defaultStopbit() { return QStringLiteral("1"); }
inline QString defaultFlow() { return QStringLiteral("None"); }
inline QString defaultTimeStamps() { return QStringLiteral("0"); }
inline QString defaultEncoding() { return QStringLiteral("GBK"); }
// clang-format on
} // namespace SettingKeys
