// The texts of scripts, declared with the others in messages.h.
#include "core/messages.h"

#include <array>
#include <utility>

using namespace Qt::StringLiterals;

namespace Messages {

QString scriptChecks(const QString &name, int passed, int failed, int firstFailLine,
                     const QString &firstFailName)
{
    if (failed == 0)
        return u"脚本 %1：%2 项检查全部通过"_s.arg(name).arg(passed);
    return u"脚本 %1：%2 项检查通过，%3 项失败（第 %4 行 “%5”）"_s.arg(name)
            .arg(passed)
            .arg(failed)
            .arg(firstFailLine)
            .arg(firstFailName);
}

QString scriptFinished(const QString &name)
{
    return u"脚本 %1 已运行完毕（没有检查项）"_s.arg(name);
}

QString scriptError(const QString &name, int line, const QString &text)
{
    if (line <= 0)
        return u"脚本 %1 出错：%2"_s.arg(name, text);
    return u"脚本 %1 第 %2 行出错：%3"_s.arg(name).arg(line).arg(text);
}

QString scriptStopped(const QString &name)
{
    return u"脚本 %1 已停止"_s.arg(name);
}

QString scriptPortClosed(const QString &name)
{
    return u"脚本 %1 已结束：端口已关闭"_s.arg(name);
}

QString scriptMemoryExceeded(const QString &name, int mebibytes)
{
    return u"脚本 %1 使用的内存超过 %2 MiB 上限，已停止（检查脚本中不断增长的表或字符串）"_s
            .arg(name)
            .arg(mebibytes);
}

QString scriptChecksSoFar(int passed, int failed)
{
    return u"；此前 %1 项检查通过，%2 项失败"_s.arg(passed).arg(failed);
}

QString scriptCannotRead(const QString &path, const QString &why)
{
    return u"无法读取脚本 %1：%2"_s.arg(path, why);
}

QString scriptNotUtf8(const QString &path)
{
    return u"脚本 %1 不是 UTF-8 文本（请以 UTF-8 编码保存）"_s.arg(path);
}

QString scriptPortNotOpen()
{
    return u"端口未打开，无法发送"_s;
}

QString scriptWaitsOnlyInMain(const QString &function)
{
    return u"%1 只能在脚本主体中调用，不能在协程、元方法或排序比较函数里调用"_s.arg(function);
}

QString scriptChecksumUnknown(const QString &kind)
{
    return u"未知的校验方式“%1”，可用：modbus、ccitt、xmodem、crc32、sum8、xor8、lrc"_s.arg(kind);
}

QString scriptPatternInvalid(const QString &pattern, const QString &why)
{
    return u"匹配模式“%1”有误：%2"_s.arg(pattern, why);
}

QString scriptReceiveOverflow(int mebibytes)
{
    return u"脚本尚未读取的接收数据超过 %1 MiB，最早的部分已丢弃（终端照常显示全部数据）"_s.arg(
            mebibytes);
}

QString scriptCheckPassed(const QString &name)
{
    return u"检查通过：%1"_s.arg(name);
}

QString scriptCheckFailed(const QString &name, int line)
{
    return u"检查失败：%1（第 %2 行）"_s.arg(name).arg(line);
}

QString scriptExitRefused()
{
    return u"脚本不能结束整个程序；要结束脚本请在主体中 return"_s;
}

QString scriptTransfersUnavailable()
{
    return u"这里不能从脚本传输文件"_s;
}

QString scriptBusy()
{
    return u"另一项任务正在运行，脚本未启动；请等它结束或先停止它"_s;
}

QString scriptFileFilter()
{
    return u"Lua 脚本 (*.lua)|*.lua|所有文件|*.*"_s;
}

QString scriptLuaMessage(const QString &text)
{
    static const std::array<std::pair<QString, QString>, 16> known = {{
            {u"attempt to call a nil value"_s, u"调用了不存在的函数"_s},
            {u"attempt to call"_s, u"调用了不是函数的值"_s},
            {u"attempt to index a nil value"_s, u"对 nil 值取字段"_s},
            {u"attempt to index"_s, u"对不能取字段的值取字段"_s},
            {u"attempt to perform arithmetic"_s, u"对非数字做算术运算"_s},
            {u"attempt to concatenate"_s, u"拼接了不能拼接的值"_s},
            {u"attempt to compare"_s, u"比较了不能比较的值"_s},
            {u"bad argument"_s, u"函数参数有误"_s},
            {u"unexpected symbol"_s, u"语法错误：意外的符号"_s},
            {u"unfinished string"_s, u"语法错误：字符串没有结束"_s},
            {u"unfinished long"_s, u"语法错误：长字符串或长注释没有结束"_s},
            {u"malformed number"_s, u"语法错误：数字格式有误"_s},
            {u"stack overflow"_s, u"栈溢出（递归太深）"_s},
            {u"not enough memory"_s, u"内存不足"_s},
            {u"expected"_s, u"语法错误：缺少应有的部分"_s},
            {u"syntax error"_s, u"语法错误"_s},
    }};
    for (const auto &[english, chinese] : known) {
        if (text.contains(english))
            return u"%1（%2）"_s.arg(chinese, text);
    }
    return text;
}

QString commandLineScriptOption()
{
    return u"不开窗口运行 Lua 脚本：打开端口、运行脚本，收到的数据写到标准输出；"
           u"全部检查通过退出码 0，有检查失败 1，脚本出错、端口打不开或选项有误 2。"
           u"“--” 之后的参数交给脚本的 arg 表"_s;
}

QString commandLineJunitOption()
{
    return u"与 --script 一起使用：把每项检查写成 JUnit XML 报告（GitLab、Jenkins 可读）"_s;
}

QString commandLineJunitWithoutScript()
{
    return u"--junit 只能与 --script 一起使用"_s;
}

QString commandLineScriptEmpty()
{
    return u"--script 需要一个脚本文件名"_s;
}

QString scriptJunitFailed(const QString &path, const QString &why)
{
    return u"无法写入 JUnit 报告 %1：%2"_s.arg(path, why);
}

QString scriptHeadlessStart(const QString &name, const QString &port)
{
    return u"运行脚本 %1，端口 %2"_s.arg(name, port);
}

} // namespace Messages
