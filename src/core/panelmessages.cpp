// The texts of the send panel, declared with the others in messages.h.
#include "core/messages.h"

#include "core/systemreason.h"

using namespace Qt::StringLiterals;

namespace Messages {

QString panelEntryEmpty()
{
    return u"没有要发送的字节：内容为空，也没有校验或行尾"_s;
}

QString panelPortClosed()
{
    return u" (端口未打开! )"_s;
}

QString panelFileRefused(const QString &path, const QString &why)
{
    return u"无法载入发送面板文件 %1：%2。面板保持原样。"_s.arg(path, systemReason(why));
}

QString panelFileSaveFailed(const QString &path, const QString &why)
{
    return u"无法保存发送面板文件 %1：%2"_s.arg(path, systemReason(why));
}

QString panelFileKeptAside(const QString &copy)
{
    return u"原文件已复制为 %1，面板从空白开始。"_s.arg(copy);
}

QString panelFileTooLarge(qint64 size, qint64 limit)
{
    return u"文件有 %1 字节，超过了发送面板文件的上限 %2 字节"_s.arg(size).arg(limit);
}

QString panelFileNotUtf8()
{
    return u"文件不是 UTF-8 文本"_s;
}

QString panelFileNotJson(qint64 offset, const QString &why)
{
    return u"第 %1 个字节处不是有效的 JSON（%2）"_s.arg(offset + 1).arg(why);
}

QString panelFileVersion(const QString &version)
{
    return u"不是本程序认识的发送面板文件（版本“%1”，应为 1）"_s.arg(version);
}

QString panelTooManyEntries(qint64 count, qint64 limit)
{
    return u"文件有 %1 条命令，超过了上限 %2 条"_s.arg(count).arg(limit);
}

QString panelFieldWrong(const QString &field)
{
    return u"字段“%1”缺失、类型不对或超出范围"_s.arg(field);
}

QString panelEntryRefused(qint64 number, const QString &why)
{
    return u"第 %1 条命令：%2"_s.arg(number).arg(why);
}

QString panelEntryNotSendable(const QString &name, const QString &why)
{
    return u"命令“%1”无法发送：%2"_s.arg(name, why);
}

QString panelNothingChecked()
{
    return u"没有勾选的命令可以顺序发送。"_s;
}

QString panelLineBusy()
{
    return u"另一个长任务（发送文件、循环发送、传输、载入等）正在进行，面板没有发送。请等它结束或先停止它。"_s;
}

QString panelSequencePortClosed()
{
    return u"端口未打开，顺序发送没有开始。请先打开端口（F12）。"_s;
}

QString panelBreakDone(int ms)
{
    return u"已发送 BREAK（%1 毫秒）"_s.arg(ms);
}

QString panelBreakFailed(const QString &why)
{
    return u"无法发送 BREAK：%1"_s.arg(systemReason(why));
}

QString breakNotOnSocket(const QString &where)
{
    return u"%1 是 socket:// 原始 TCP 连接，无法传送 BREAK；请改用 rfc2217:// 连接串口服务器"_s.arg(
            where);
}

QString breakNotSupported(const QString &where)
{
    return u"%1 不支持 BREAK"_s.arg(where);
}

QString breakAlreadyHeld()
{
    return u"上一个 BREAK 还在进行"_s;
}

} // namespace Messages
