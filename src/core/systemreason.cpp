#include "core/systemreason.h"

#include <QHash>

#include <cerrno>

namespace {

struct Reason
{
    int error;
    const char16_t *words;
};

// The reasons a serial line, a connection or a file can give.
constexpr Reason Reasons[] = {
        {EPERM, u"系统不允许此操作（也许是只读的磁盘或受保护的文件）"},
        {EACCES, u"没有权限"},
        {ENOENT, u"文件或目录不存在"},
        {EIO, u"输入/输出错误"},
        {ENXIO, u"设备或地址不存在（/dev/tty 只在有控制终端时可用）"},
        {EBUSY, u"设备正忙"},
        {ENODEV, u"没有这个设备"},
        {ENOTDIR, u"路径中有一段不是文件夹"},
        {EISDIR, u"这是一个文件夹"},
        {EINVAL, u"参数无效"},
        {ENOSPC, u"磁盘已满"},
        {EDQUOT, u"超出了磁盘配额"},
        {EFBIG, u"文件过大"},
        {EROFS, u"磁盘是只读的"},
        {ELOOP, u"符号链接层数过多（链接也许直接或间接指向它自己）"},
        {ENAMETOOLONG, u"文件名太长"},
        {EMFILE, u"打开的文件太多"},
        {ENFILE, u"系统打开的文件太多"},
        {ENOTTY, u"不是终端设备"},
        {EAGAIN, u"资源暂时不可用"},
        {EPIPE, u"对方已关闭"},
        {ETIMEDOUT, u"连接超时（对方长时间没有应答）"},
        {ECONNRESET, u"连接被对方重置"},
        {ECONNREFUSED, u"连接被拒绝"},
        {EHOSTUNREACH, u"主机不可达"},
        {ENETUNREACH, u"网络不可达"},
        {ENETDOWN, u"网络已断开"},
};

QHash<QString, QString> makeTable()
{
    QHash<QString, QString> table;
    for (const Reason &reason : Reasons)
        table.insert(qt_error_string(reason.error), QString::fromUtf16(reason.words));
    return table;
}

} // namespace

QString systemReason(const QString &text)
{
    static const QHash<QString, QString> table = makeTable();
    return table.value(text, text);
}
