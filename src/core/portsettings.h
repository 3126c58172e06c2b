#pragma once

#include "core/result.h"
#include "core/settingkeys.h"

#include <QString>

#include <optional>

class SettingsStore;

// The six stored port settings and what the serial port is configured with from them.
// Every value is text exactly as stored; nothing here checks it, the port decides on apply.

// The six settings as a value; load and save walk the keys in one fixed order.
struct PortSettings
{
    QString comport = SettingKeys::defaultComport();
    QString baud = SettingKeys::defaultBaud();
    QString databit = SettingKeys::defaultDatabit();
    QString parity = SettingKeys::defaultParity();
    QString stopbit = SettingKeys::defaultStopbit();
    QString flow = SettingKeys::defaultFlow();

    static PortSettings load(SettingsStore &store);
    void save(SettingsStore &store) const;

    friend bool operator==(const PortSettings &, const PortSettings &) = default;
};

// "9600,N,8,1": speed, first letter of the parity word, data bits, stop bits.
QString lineSettingsText(const PortSettings &settings);

// The number in a port name such as "COM3"; an overflow failure outside -32768..32767.
Expected<int> portNumber(const QString &comport);

// 0 none, 1 XON/XOFF, 2 RTS/CTS, 3 both; nullopt for a word that is none of the four.
std::optional<int> handshakingCode(const QString &flow);
