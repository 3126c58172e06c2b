#include "core/portsettings.h"

#include "core/settingsstore.h"
#include "core/typednumber.h"

using namespace Qt::StringLiterals;

PortSettings PortSettings::load(SettingsStore &store)
{
    PortSettings s;
    s.comport = store.read(SettingKeys::comport(), SettingKeys::defaultComport());
    s.baud = store.read(SettingKeys::baud(), SettingKeys::defaultBaud());
    s.databit = store.read(SettingKeys::databit(), SettingKeys::defaultDatabit());
    s.parity = store.read(SettingKeys::parity(), SettingKeys::defaultParity());
    s.stopbit = store.read(SettingKeys::stopbit(), SettingKeys::defaultStopbit());
    s.flow = store.read(SettingKeys::flow(), SettingKeys::defaultFlow());
    return s;
}

void PortSettings::save(SettingsStore &store) const
{
    store.save(SettingKeys::comport(), comport);
    store.save(SettingKeys::baud(), baud);
    store.save(SettingKeys::databit(), databit);
    store.save(SettingKeys::parity(), parity);
    store.save(SettingKeys::stopbit(), stopbit);
    store.save(SettingKeys::flow(), flow);
}

QString lineSettingsText(const PortSettings &settings)
{
    // The first character, whole even when it lies outside the basic plane.
    qsizetype letterLength = settings.parity.isEmpty() ? 0 : 1;
    if (letterLength == 1 && settings.parity.front().isHighSurrogate())
        letterLength = 2;
    return settings.baud + u',' + settings.parity.left(letterLength) + u',' + settings.databit
           + u',' + settings.stopbit;
}

Expected<int> portNumber(const QString &comport)
{
    QString rest = comport;
    rest.remove(u"COM"_s, Qt::CaseSensitive);
    const double value = leadingNumber(rest);
    const std::optional<qint64> rounded = roundHalfEven(value);
    if (!rounded || *rounded < -32768 || *rounded > 32767) {
        return Expected<int>::failure(
                u"溢出 (overflow)：端口名“%1”中的端口号 %2 超出 -32768 到 32767 的范围。请在“设置”中另选端口。"_s
                        .arg(comport, QString::number(value, 'g', 17)));
    }
    return int(*rounded);
}

std::optional<int> handshakingCode(const QString &flow)
{
    if (flow == u"None")
        return 0;
    if (flow == u"RTS")
        return 2;
    if (flow == u"RTSXonXoff")
        return 3;
    if (flow == u"XonXoff")
        return 1;
    return std::nullopt;
}
