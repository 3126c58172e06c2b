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
// The send panel's dock: shown "1"/"0", its side "left"/"right", its width in pixels, and how
// long its BREAK holds the line.
inline QString panelShown() { return QStringLiteral("PanelShown"); }
inline QString panelSide() { return QStringLiteral("PanelSide"); }
inline QString panelWidth() { return QStringLiteral("PanelWidth"); }
inline QString breakMs() { return QStringLiteral("BreakMs"); }
// Whether sz or rz on the far end starts a ZMODEM transfer by itself, "1" or "0"; and the folder
// such a transfer receives into, the last one chosen.
inline QString zmodemAuto() { return QStringLiteral("ZmodemAuto"); }
inline QString zmodemFolder() { return QStringLiteral("ZmodemFolder"); }

inline QString defaultComport() { return QStringLiteral("COM1"); }
inline QString defaultBaud() { return QStringLiteral("9600"); }
inline QString defaultDatabit() { return QStringLiteral("8"); }
inline QString defaultParity() { return QStringLiteral("None"); }
inline QString defaultStopbit() { return QStringLiteral("1"); }
inline QString defaultFlow() { return QStringLiteral("None"); }
inline QString defaultTimeStamps() { return QStringLiteral("0"); }
inline QString defaultEncoding() { return QStringLiteral("GBK"); }
inline QString defaultZmodemAuto() { return QStringLiteral("1"); }
// clang-format on
} // namespace SettingKeys
