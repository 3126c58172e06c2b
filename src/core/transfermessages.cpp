// The texts of XMODEM and YMODEM, declared with the others in messages.h.
#include "core/messages.h"

#include "core/systemreason.h"

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

// A path for a message: a long one loses the middle of its folders, never the file's name, which
// is what the user looks for.
QString shortPath(const QString &path)
{
    constexpr qsizetype MaxFolderChars = 60;
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash <= MaxFolderChars)
        return path;
    const QString folder = path.left(slash);
    constexpr qsizetype head = 20;
    return folder.left(head) + u"…"_s + folder.right(MaxFolderChars - head) + path.mid(slash);
}

} // namespace

QString transferWaiting(const QString &protocol, const QString &name, int seconds)
{
    return u"%1 发送“%2”：正在等待接收方开始（最多 %3 秒）……"_s.arg(protocol, name).arg(seconds);
}

QString transferReceiveWaiting(const QString &folder)
{
    return u"YMODEM 接收到文件夹“%1”：正在请求发送方开始……"_s.arg(folder);
}

QString transferSent(const QString &protocol, const QString &name, qint64 bytes, double s)
{
    return u"%1 发送完成：“%2”，%3 字节，%4 秒，%5 字节/秒"_s.arg(protocol, name)
            .arg(bytes)
            .arg(seconds(s), rate(bytes, s));
}

QString transferReceived(const QString &name, qint64 bytes, double s)
{
    return u"YMODEM 接收完成：“%1”，%2 字节，%3 秒，%4 字节/秒"_s.arg(name).arg(bytes).arg(
            seconds(s), rate(bytes, s));
}

QString transferSendFailed(const QString &protocol, const QString &name, qint64 acked,
                           const QString &why)
{
    return u"%1 发送“%2”失败（接收方已确认 %3 字节）：%4"_s.arg(protocol, name).arg(acked).arg(why);
}

QString transferReceiveFailed(const QString &why)
{
    return u"YMODEM 接收失败：%1"_s.arg(why);
}

QString transferPartKept(const QString &partPath, qint64 bytes)
{
    return u"已收到的 %1 字节保存在“%2”"_s.arg(bytes).arg(partPath);
}

QString transferReceiveBatchEnd(int files)
{
    return u"YMODEM 接收结束：共 %1 个文件"_s.arg(files);
}

QString transferNoStart(int s)
{
    return u"对方在 %1 秒内没有开始传输"_s.arg(s);
}

QString transferNoAnswer(int retries)
{
    return u"接收方重试 %1 次后仍没有回应"_s.arg(retries);
}

QString transferBlockRefused(qint64 block, int retries)
{
    return u"第 %1 块重发 %2 次仍被接收方拒绝"_s.arg(block).arg(retries);
}

QString transferCancelledByPeer()
{
    return u"对方取消了传输（CAN）"_s;
}

QString transferStopped()
{
    return u"已按“停止”中止，并向对方发送了取消（CAN）"_s;
}

QString transferPortClosed()
{
    return u"端口已关闭"_s;
}

QString transferReadFailed(const QString &path, const QString &why)
{
    return u"读取“%1”失败：%2"_s.arg(shortPath(path), systemReason(why));
}

QString transferWriteFailed(const QString &path, const QString &why)
{
    return u"写入“%1”失败：%2"_s.arg(shortPath(path), systemReason(why));
}

QString transferSenderSilent(int retries)
{
    return u"发送方重试 %1 次后仍没有发来数据"_s.arg(retries);
}

QString transferBadBlocks(qint64 block, int retries)
{
    return u"第 %1 块连续 %2 次损坏（校验错误）"_s.arg(block).arg(retries);
}

QString transferOutOfSequence(int expected, int got)
{
    return u"块号错乱：应为 %1，收到 %2"_s.arg(expected).arg(got);
}

QString transferNameRefused(const QString &name)
{
    return u"拒绝发送方给出的文件名“%1”：去掉路径后不是可用的文件名"_s.arg(name);
}

QString transferShorterThanAnnounced(qint64 got, qint64 announced)
{
    return u"发送方在 %1处结束了文件，但声明的大小是 %2"_s.arg(byteSize(got), byteSize(announced));
}

QString transferNoProperAnswer(int retries, qint64 noiseBytes)
{
    return u"接收方没有正确应答：重发 %1 次后，收到的仍是无法识别的数据（共 %2），"
           u"不是确认（ACK）或重发请求（NAK）"_s.arg(retries)
                   .arg(byteSize(noiseBytes));
}

QString transferSenderNoise(int retries, qint64 noiseBytes)
{
    return u"发送方连续 %1 次没有发来可读的块，只有无法识别的数据（共 %2）"_s.arg(retries).arg(
            byteSize(noiseBytes));
}

QString byteSize(qint64 bytes)
{
    if (bytes < 1024)
        return u"%1 字节"_s.arg(bytes);
    static const char16_t *const units[] = {u"KiB", u"MiB", u"GiB", u"TiB", u"PiB", u"EiB"};
    double value = double(bytes) / 1024;
    int unit = 0;
    while (value >= 1024 && unit < 5) {
        value /= 1024;
        ++unit;
    }
    const QString scaled = QString::number(value, 'f', value < 100 ? 1 : 0) + u' '
                           + QString::fromUtf16(units[unit]);
    // Beyond a tebibyte nobody counts single bytes, and the digits only hide the size.
    if (bytes >= (qint64(1) << 40))
        return scaled;
    return u"%1（%2 字节）"_s.arg(scaled).arg(bytes);
}

} // namespace Messages
