#pragma once

#include <QString>

// Names the program shows and the settings store is keyed by.
namespace AppInfo {
inline QString title()
{
    return QStringLiteral("VELMIR RS232 TEsT");
}
inline QString mainCaption()
{
    return QStringLiteral(" RS232串口 VELMIR接口测试平台");
}
inline QString version()
{
    return QStringLiteral(VELMIR_VERSION);
}
} // namespace AppInfo
