// The texts of ZMODEM, declared with the others in messages.h.
#include "core/messages.h"

using namespace Qt::StringLiterals;

namespace Messages {

namespace {

QString seconds(double s)
{
    return QString::number(s, 'f', s < 10 ? 2 : 1);
}

QString rate(qint64 bytes, double s)
{
    return s > 0 ? QString::number(qint64(bytes / s)) : QString::number(bytes);
}

QString recovered(int recoveries)
{
    return recoveries > 0 ? u"，从线路错误中恢复 %1 次"_s.arg(recoveries) : QString();
}

} // namespace

QString zmodemReceiveWaiting(const QString &folder)
{
    return u"ZMODEM 接收到文件夹“%1”：正在等待发送方（如设备上的 sz）……"_s.arg(folder);
}

QString zmodemAutoReceive(const QString &folder)
{
    return u"对方开始了 ZMODEM 发送（sz），自动接收到文件夹“%1”"_s.arg(folder);
}

QString zmodemAutoSend()
{
    return u"对方在等待 ZMODEM 接收（rz），请选择要发送的文件"_s;
}

QString zmodemSendWaiting(int files, qint64 bytes)
{
    return u"ZMODEM 发送 %1 个文件（%2 字节）：正在等待接收方（如设备上的 rz）……"_s.arg(files).arg(
            bytes);
}

QString zmodemFileReceived(const QString &name, qint64 bytes, qint64 resumedAt, double s)
{
    QString text = u"ZMODEM 收到“%1”，%2 字节"_s.arg(name).arg(bytes);
    if (resumedAt > 0)
        text += u"（从第 %1 字节处续传）"_s.arg(resumedAt);
    return text + u"，%1 秒"_s.arg(seconds(s));
}

QString zmodemFileSent(const QString &name, qint64 bytes, qint64 resumedAt)
{
    QString text = u"ZMODEM 已发送“%1”，接收方确认 %2 字节"_s.arg(name).arg(bytes);
    if (resumedAt > 0)
        text += u"（接收方已有前 %1 字节，从那里续传）"_s.arg(resumedAt);
    return text;
}

QString zmodemFileSkipped(const QString &name)
{
    return u"接收方跳过了“%1”（可能已有同名文件）"_s.arg(name);
}

QString zmodemReceiveDone(int files, qint64 bytes, double s, int recoveries)
{
    return u"ZMODEM 接收结束：%1 个文件，本次收到 %2 字节，%3 秒，%4 字节/秒%5"_s.arg(files)
            .arg(bytes)
            .arg(seconds(s), rate(bytes, s), recovered(recoveries));
}

QString zmodemSendDone(int files, qint64 bytes, double s, int recoveries)
{
    return u"ZMODEM 发送结束：接收方确认 %1 个文件，本次 %2 字节，%3 秒，%4 字节/秒%5"_s.arg(files)
            .arg(bytes)
            .arg(seconds(s), rate(bytes, s), recovered(recoveries));
}

QString zmodemReceiveFailed(const QString &why)
{
    return u"ZMODEM 接收失败：%1"_s.arg(why);
}

QString zmodemSendFailed(const QString &why, int files, qint64 bytes)
{
    return u"ZMODEM 发送失败：%1（接收方已确认 %2 个文件，本次 %3 字节）"_s.arg(why).arg(files).arg(
            bytes);
}

QString zmodemEndedInFile()
{
    return u"发送方在文件传完之前结束了传输"_s;
}

QString zmodemEndlessHeaders(int count)
{
    return u"对方连续 %1 次发来无法使用的帧头或数据，已取消传输"_s.arg(count);
}

QString zmodemBadPosition(qint64 pos, qint64 size)
{
    return u"接收方要求从第 %1 字节续传，但文件只有 %2 字节"_s.arg(pos).arg(size);
}

QString zmodemFileShrank()
{
    return u"文件在发送期间变短了"_s;
}

QString zmodemAutoCancelled()
{
    return u"已取消对方请求的 ZMODEM 接收（rz）"_s;
}

} // namespace Messages
