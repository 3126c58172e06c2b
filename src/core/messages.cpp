#include "core/messages.h"

#include "core/systemreason.h"

using namespace Qt::StringLiterals;

namespace Messages {

QString portNumberInvalid(int number)
{
    return u"端口号 %1 无效：端口从 1 (COM1) 开始编号。"_s.arg(number);
}

QString lineSettingsRefused(const QString &text, const QString &why)
{
    return u"线路设置“%1”无效：%2。"_s.arg(text, why);
}

QString speedInvalid(const QString &speed)
{
    return u"波特率“%1”不是正整数"_s.arg(speed);
}

QString parityInvalid(const QString &parity)
{
    return u"校验“%1”不是 N、E、O、M、S 之一"_s.arg(parity);
}

QString dataBitsFour()
{
    return u"不支持 4 个数据位：Linux 串口驱动只发送 5 到 8 位"_s;
}

QString dataBitsInvalid(const QString &bits)
{
    return u"数据位“%1”不是 5、6、7 或 8"_s.arg(bits);
}

QString stopBitsOneAndHalf()
{
    return u"1.5 个停止位只能与 5 个数据位同用；请改用 1 或 2"_s;
}

QString stopBitsInvalid(const QString &bits)
{
    return u"停止位“%1”不是 1、1.5 或 2"_s.arg(bits);
}

QString lineSettingsRefusedByDevice(const QString &where, const QString &text, const QString &why)
{
    return u"%1 不接受线路设置“%2”：%3。"_s.arg(where, text, systemReason(why));
}

QString handshakingInvalid(int code)
{
    return u"握手协议 %1 无效：应为 0（无）、1（XON/XOFF）、2（RTS/CTS）或 3（RTS/CTS 与 "
           u"XON/XOFF）。"_s.arg(code);
}

QString handshakingRefusedByDevice(const QString &where, int code, const QString &why)
{
    return u"%1 不接受握手协议 %2：%3。"_s.arg(where, QString::number(code), systemReason(why));
}

QString settingNotRestored(const QString &why, const QString &restoreWhy)
{
    return u"%1；原来的设置也未能恢复（%2），请关闭端口后重新打开"_s.arg(why, restoreWhy);
}

QString portAlreadyOpen(const QString &where)
{
    return u"%1 已经打开。"_s.arg(where);
}

QString portNotOpen(const QString &name)
{
    return u"%1 未打开。"_s.arg(name);
}

QString noStandardDevice(const QString &name, const QString &linkCommand)
{
    return u"无法打开 %1：这个端口号没有对应的标准设备。可用以下命令把它链接到一个设备：\n%2"_s.arg(
            name, linkCommand);
}

QString linkTargetMissing(const QString &name, const QString &link, const QString &target,
                          const QString &linkCommand)
{
    return u"无法打开 %1：它的链接 %2 指向 %3，而该设备不存在。请插上设备，或用以下命令把端口"
           u"链接到另一个设备：\n%4"_s.arg(name, link, target, linkCommand);
}

QString deviceMissing(const QString &name, const QString &path, const QString &linkCommand)
{
    return u"无法打开 %1：设备 %2 不存在。如果这个端口是另一个设备，请用以下命令把它链接到 "
           u"%1：\n%3"_s.arg(name, path, linkCommand);
}

QString permissionDenied(const QString &where, const DeniedDevice &device)
{
    // "crw-rw----" without the file type, as ls shows the rights.
    QString rights;
    for (int shift = 6; shift >= 0; shift -= 3) {
        rights += (device.mode >> shift) & 4 ? u'r' : u'-';
        rights += (device.mode >> shift) & 2 ? u'w' : u'-';
        rights += (device.mode >> shift) & 1 ? u'x' : u'-';
    }
    QString text = u"无法打开 %1：没有权限。设备的所有者是 %2，组是 %3，权限 %4（%5）。"_s.arg(
            where, device.owner, device.group, rights,
            QString::number(device.mode & 07777, 8).rightJustified(4, u'0'));
    // Each command stands on a line of its own, so that a message box never breaks it.
    const bool ownerRw = (device.mode & 0600) == 0600;
    const bool groupRw = (device.mode & 0060) == 0060;
    if (device.userIsOwner && !ownerRw) {
        text += u"设备属于您，但所有者没有读写权限。请执行：\n    chmod u+rw %1"_s.arg(device.path);
    } else if (groupRw && device.userInGroup && !device.processHasGroup) {
        text += u"您已经在 %1 组中，但当前登录会话还没有这个组。请注销并重新登录（或重启）后再试。"_s
                        .arg(device.group);
    } else if (groupRw && !device.userInGroup) {
        text += u"组 %1 可以读写这个设备。请把您的用户加入该组，然后注销并重新登录：\n"
                "    sudo usermod -aG %1 $USER"_s.arg(device.group);
    } else if (!groupRw) {
        text += u"组 %1 没有读写权限，加入这个组也没有用。需要管理员用 udev 规则把设备交给 "
                "dialout 组并允许组读写，例如在 /etc/udev/rules.d/50-serial.rules 中写入：\n"
                "    KERNEL==\"%2\", GROUP=\"dialout\", MODE=\"0660\"\n"
                "然后执行 sudo udevadm trigger，并把您的用户加入 dialout 组：\n"
                "    sudo usermod -aG dialout $USER"_s.arg(device.group, device.name);
    } else {
        text += u"权限位允许访问，访问可能被访问控制列表（ACL）或安全模块拒绝；请向管理员询问。"_s;
    }
    return text;
}

QString deviceBusy(const QString &where)
{
    return u"无法打开 %1：设备忙，另一个程序正在使用它。请关闭那个程序后再试。"_s.arg(where);
}

QString notASerialDevice(const QString &where)
{
    return u"无法打开 %1：这不是串口设备。请把端口链接到串口设备（例如 /dev/ttyUSB0）。"_s.arg(
            where);
}

QString openFailed(const QString &where, const QString &why)
{
    return u"无法打开 %1：%2。"_s.arg(where, systemReason(why));
}

QString sendFailed(const QString &where, const QString &why)
{
    return u"无法向 %1 发送：%2。"_s.arg(where, systemReason(why));
}

QString portLostHungUp(const QString &where)
{
    return u"%1 已关闭：线路挂断或设备被拔出。"_s.arg(where);
}

QString portLostWriteFailed(const QString &where, const QString &why)
{
    return u"%1 已关闭：写入设备失败（%2）。"_s.arg(where, systemReason(why));
}

QString portLostOther(const QString &where, const QString &why)
{
    return u"%1 已关闭：设备被拔出或不再响应（%2）。"_s.arg(where, systemReason(why));
}

QString waitingForPort(const QString &lostMessage)
{
    return lostMessage + u"正在等待它回来，回来后按原设置自动重新打开（按 F12 停止等待）。"_s;
}

QString portBack(const QString &where)
{
    return u"%1 回来了，已按原设置重新打开。"_s.arg(where);
}

QString captureOpenFailed(const QString &path, const QString &why)
{
    return u"无法打开捕获文件 %1：%2"_s.arg(path, systemReason(why));
}

QString captureNotOpen()
{
    return u"没有打开的捕获文件。"_s;
}

QString captureWriteFailed(const QString &path, const QString &why)
{
    return u"写入捕获文件 %1 失败：%2。捕获已停止。"_s.arg(path, systemReason(why));
}

QString workspaceLoadFailed(const QString &path, const QString &why)
{
    return u"无法载入工作区 %1：%2"_s.arg(path, systemReason(why));
}

QString workspaceSaveFailed(const QString &path, const QString &why)
{
    return u"无法保存工作区 %1：%2"_s.arg(path, systemReason(why));
}

QString workspaceTooLarge(qint64 size, qint64 limit)
{
    return u"文件有 %1 字节，超过了工作区文件的上限 %2 字节（64 MiB）"_s.arg(size).arg(limit);
}

QString workspaceGrewPastLimit(qint64 limit)
{
    return u"文件在读取时增长，超过了工作区文件的上限 %1 字节（64 MiB）"_s.arg(limit);
}

QString workspaceCutOffEmpty()
{
    return u"文件不完整或已损坏：RTF 文档在结尾之前就中断了，其中没有可以载入的文本。终端的内容"
           u"没有改变"_s;
}

QString workspaceLoadedWithNotes(const QString &path, const QStringList &notes)
{
    return u"已载入工作区 %1，但请注意：\n%2"_s.arg(path, notes.join(u'\n'));
}

QString workspaceCutOffNote()
{
    return u"文件不完整：RTF 文档在结尾之前就中断了，只载入了中断之前的文本。"_s;
}

QString workspaceLinesDroppedNote(qint64 lines, qint64 shownLines, qint64 limit, bool lastLineCut)
{
    const QString kept = lastLineCut ? u"只载入了最后一行的末尾部分"_s
                                     : u"只载入了最后 %1 行"_s.arg(shownLines);
    return u"文件有 %1 行文本，而终端最多保存 %2 个字符，所以%3，前面的内容没有载入。"_s.arg(lines)
            .arg(limit)
            .arg(kept);
}

QString notRichText()
{
    return u"这不是 RTF 富文本文件"_s;
}

QString rtfNestedTooDeep(int depth)
{
    return u"RTF 文档已损坏：组的嵌套超过 %1 层"_s.arg(depth);
}

QString fileOpenFailed(const QString &path, const QString &why)
{
    return u"无法打开文件 %1：%2"_s.arg(path, systemReason(why));
}

QString notARegularFile(const QString &path)
{
    return u"%1 不是普通文件（它是目录、管道、套接字或设备），不能在这里使用。"_s.arg(path);
}

QString typedLineRefused()
{
    return u"未发出：正在发送文件或传输，键入的行会混入正在发送的数据；请在结束后再按回车"_s;
}

QString sendStoppedByClose(qint64 sent, qint64 total)
{
    return u"端口已关闭，文件发送中止：已发出 %1 / %2 字节。"_s.arg(sent).arg(total);
}

QString sendReadFailed(const QString &path, qint64 sent, const QString &why)
{
    return u"读取文件 %1 失败，发送中止：已发出 %2 字节。%3"_s.arg(path).arg(sent).arg(
            systemReason(why));
}

QString signalWatchFailed(const QString &call, const QString &why)
{
    return u"无法接收终止信号（%1：%2）；注销或结束本程序时，端口和捕获文件不会先被关闭。"_s.arg(
            call, why);
}

QString plotExportFailed(const QString &path, const QString &why)
{
    return u"无法导出波形图到 %1：%2"_s.arg(path, why);
}

QString plotImageNotWritten()
{
    return u"图片无法写入，请检查文件夹是否存在且可写，或换一个文件名。"_s;
}

QString settingsSaveFailed(const QString &path, const QString &why)
{
    return u"无法把设置保存到 %1：%2。已保存的设置没有改变。"_s.arg(path, why);
}

QString settingsFolderInPlace()
{
    return u"那里是一个同名的文件夹，而不是设置文件"_s;
}

QString settingsNotAFile()
{
    return u"那里是管道、套接字或设备，而不是普通文件；请删除它，再保存设置"_s;
}

QString settingsFileReadOnly()
{
    return u"这个文件对您是只读的"_s;
}

QString settingsFolderMissing(const QString &folder)
{
    return u"无法创建它所在的文件夹 %1"_s.arg(folder);
}

QString settingsFolderReadOnly(const QString &folder)
{
    return u"它所在的文件夹 %1 对您是只读的（保存时要在这个文件夹里写入新文件）"_s.arg(folder);
}

QString settingsWriteFailed()
{
    return u"写入失败（磁盘是否已满？）"_s;
}

QString commandLineDescription()
{
    return u"RS-232 串口调试终端。不带选项时使用默认的设置文件和其中保存的端口。"_s;
}

QString commandLineSettingsOption()
{
    return u"使用设置文件 FILE 代替默认的设置文件（不存在时用默认值创建）。"_s;
}

QString commandLinePortOption()
{
    return u"使用端口 COMn（COM1 到 COM99），如同在设置对话框中选择，并保存到设置文件。"_s;
}

QString commandLineOpenOption()
{
    return u"启动后立即打开端口，如同按 F12。"_s;
}

QString commandLineHelpOption()
{
    return u"显示选项说明后退出。"_s;
}

QString commandLineVersionOption()
{
    return u"显示版本后退出。"_s;
}

QString commandLineRefused(const QString &program, const QString &why)
{
    return u"%1: %2\n用 %1 --help 查看可用的选项。\n"_s.arg(program, why);
}

QString noDisplay(const QString &program, const QString &why)
{
    return u"%1: 无法打开窗口：%2。\n"
           "velmir-rs232 是图形界面程序，请在桌面会话中启动它；在没有显示器的机器上（例如通过 "
           "SSH），"
           "可以用虚拟显示运行：\n"
           "    xvfb-run -a %1\n"
           "（xvfb-run 在 Debian 的 xvfb 软件包中。）--help 和 --version 不需要显示器。\n"_s.arg(
                   program, why);
}

QString displayNotSet()
{
    return u"没有设置 DISPLAY 或 WAYLAND_DISPLAY"_s;
}

QString displayUnreachable(const QString &display)
{
    return u"无法连接到显示器 %1"_s.arg(display);
}

QString displayNotSetFor(const QString &platform, const QString &variable)
{
    return u"QT_QPA_PLATFORM=%1，但没有设置 %2"_s.arg(platform, variable);
}

QString commandLineUnexpected(const QString &arguments)
{
    return u"多余的参数: %1"_s.arg(arguments);
}

QString commandLineSettingsEmpty()
{
    return u"--settings 需要一个文件名。"_s;
}

QString commandLinePortInvalid(const QString &given)
{
    return u"端口 “%1” 无效：请给出 COM1 到 COM99 之一。"_s.arg(given);
}

QString userGuideMissing(const QString &installed, const QString &source)
{
    return u"找不到用户指南。安装后它在 %1，源代码中它是 %2。"_s.arg(installed, source);
}

QString userGuideUnreadable(const QString &path)
{
    return u"无法读取用户指南 %1：文件是空的或没有读取权限。请检查它，或重新安装程序。"_s.arg(path);
}

QString userGuideTitle()
{
    return u"用户指南"_s;
}

QString userGuideFind()
{
    return u"查找:"_s;
}

QString userGuideFindNext()
{
    return u"下一个"_s;
}

QString userGuideFindPrevious()
{
    return u"上一个"_s;
}

QString userGuideNotFound(const QString &text)
{
    return u"找不到 “%1”"_s.arg(text);
}

} // namespace Messages
