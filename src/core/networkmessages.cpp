// The texts of the network link, declared with the others in messages.h.
#include "core/messages.h"

#include "core/systemreason.h"

using namespace Qt::StringLiterals;

namespace Messages {

QString networkOpenFailed(const QString &name, const QString &link, const QString &cause)
{
    return u"无法打开 %1（网络端口，链接自 %2）。%3"_s.arg(name, link, cause);
}

QString networkPortLost(const QString &name, const QString &cause)
{
    return u"%1 已关闭：%2"_s.arg(name, cause);
}

QString serverRefusedComPort(const QString &where)
{
    return u"无法打开 %1：服务器拒绝了 RFC 2217 串口控制（COM-PORT-OPTION）。ser2net 要用 "
           u"telnet(rfc2217) 接入方式；只转发字节的服务器请用 socket:// 地址。"_s.arg(where);
}

QString serverRefusedSettings(const QString &where, const QString &refused)
{
    return u"无法打开 %1：服务器没有接受线路设置（%2）。"_s.arg(where, refused);
}

QString serverSetSpeed(const QString &asked, const QString &set)
{
    return u"请求的速率 %1，服务器设为 %2"_s.arg(asked, set);
}

QString serverSetDataBits(const QString &asked, const QString &set)
{
    return u"请求的数据位 %1，服务器设为 %2"_s.arg(asked, set);
}

QString serverSetParity(const QString &asked, const QString &set)
{
    return u"请求的校验 %1，服务器设为 %2"_s.arg(asked, set);
}

QString serverSetStopBits(const QString &asked, const QString &set)
{
    return u"请求的停止位 %1，服务器设为 %2"_s.arg(asked, set);
}

QString serverSetHandshaking(const QString &asked, const QString &set)
{
    return u"请求的握手 %1，服务器设为 %2"_s.arg(asked, set);
}

QString settingsSeparator()
{
    return u"；"_s;
}

QString handshakingNoneName()
{
    return u"无"_s;
}

QString serverNotRfc2217(const QString &where, qint64 limitBytes)
{
    return u"无法打开 %1：服务器在协商完成之前就发来了超过 %2 KiB 的数据，它不像 RFC 2217 "
           u"服务器（也许是只转发字节的服务器或日志服务）。这样的服务器请用 socket:// 地址。"_s.arg(
                   where, QString::number(limitBytes / 1024));
}

QString hostLookupTimedOut(const QString &where, const QString &seconds, const QString &host)
{
    return u"无法连接 %1：%2 秒内未能解析主机名“%3”，请检查 DNS 设置。"_s.arg(where, seconds, host);
}

QString comPortNotAnswered(const QString &where, const QString &seconds)
{
    return u"无法打开 %1：服务器 %2 秒内没有答应 RFC 2217 串口控制。它也许不是 RFC 2217 "
           u"服务器；只转发字节的服务器请用 socket:// 地址。"_s.arg(where, seconds);
}

QString settingsNotConfirmed(const QString &where, const QString &seconds)
{
    return u"无法打开 %1：服务器 %2 秒内没有确认线路设置。"_s.arg(where, seconds);
}

QString connectTimedOut(const QString &where, const QString &seconds)
{
    return u"无法连接 %1：%2 秒内没有建立连接（主机不可达，或被防火墙拦截）。"_s.arg(where,
                                                                                     seconds);
}

QString serverHungUpAtOnce(const QString &where)
{
    return u"无法打开 %1：服务器接受连接后立即断开了（这个端口也许正被别人使用）。"_s.arg(where);
}

QString serverRefusedWithWords(const QString &where, const QString &words)
{
    return u"无法打开 %1：服务器拒绝了，它的答复是“%2”。"_s.arg(where, words);
}

QString connectionRefused(const QString &where)
{
    return u"无法连接 %1：连接被拒绝，这个地址上没有服务在监听（服务器是否在运行？端口号是否"
           u"正确？）。"_s.arg(where);
}

QString hostNotFound(const QString &where, const QString &host)
{
    return u"无法连接 %1：主机名“%2”无法解析，请检查拼写、DNS 或 /etc/hosts。"_s.arg(where, host);
}

QString serverClosedConnection(const QString &where)
{
    return u"与 %1 的连接被服务器关闭。"_s.arg(where);
}

QString serverStoppedAnswering(const QString &where)
{
    return u"与 %1 的连接中断：服务器长时间没有应答（连接超时），也许网络断了或服务器已关机。"_s
            .arg(where);
}

QString connectFailed(const QString &where, const QString &why)
{
    return u"无法连接 %1：%2。"_s.arg(where, systemReason(why));
}

QString connectionBroken(const QString &where, const QString &why)
{
    return u"与 %1 的连接中断：%2。"_s.arg(where, systemReason(why));
}

QString networkWriteFailed(const QString &where, const QString &why)
{
    return u"与 %1 的连接中断：发送失败（%2）。"_s.arg(where, systemReason(why));
}

QString networkLinkDown()
{
    return u"网络连接已断开"_s;
}

QString subnegotiationCut(const QString &where, qint64 limitBytes)
{
    return u"注意：%1 发来的一段 telnet 子协商超过 %2 KiB 仍未结束（IAC SB 之后没有 IAC "
           u"SE），已截断；其后收到的字节按数据显示。服务器也许有故障。"_s.arg(
                   where, QString::number(limitBytes / 1024));
}

} // namespace Messages
