#include "core/hexinput.h"

using namespace Qt::StringLiterals;

namespace {

bool isSeparator(QChar c)
{
    return c.isSpace() || c == u',' || c == u';';
}

int digitValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9') {
        return u - u'0';
    }
    if (u >= u'A' && u <= u'F') {
        return u - u'A' + 10;
    }
    if (u >= u'a' && u <= u'f') {
        return u - u'a' + 10;
    }
    return -1;
}

HexInput fault(qsizetype index, QString why)
{
    HexInput input;
    input.errorPosition = index + 1;
    input.error = u"第 %1 个字符：%2"_s.arg(index + 1).arg(why);
    return input;
}

} // namespace

HexInput parseHexInput(QStringView text)
{
    HexInput input;
    qsizetype i = 0;
    while (i < text.size()) {
        if (isSeparator(text[i])) {
            ++i;
            continue;
        }
        qsizetype start = i;
        while (i < text.size() && !isSeparator(text[i])) {
            ++i;
        }
        QStringView group = text.mid(start, i - start);
        const bool prefixed
                = group.size() >= 2 && group[0] == u'0' && (group[1] == u'x' || group[1] == u'X');
        if (prefixed) {
            group = group.mid(2);
            start += 2;
        }
        for (qsizetype k = 0; k < group.size(); ++k) {
            if (digitValue(group[k]) < 0) {
                return fault(start + k, u"“%1”不是十六进制数字"_s.arg(group[k]));
            }
        }
        if (prefixed) {
            if (group.isEmpty() || group.size() > 2) {
                return fault(start - 2, u"“0x”后应有一到两个十六进制数字"_s);
            }
            int value = 0;
            for (const QChar c : group) {
                value = value * 16 + digitValue(c);
            }
            input.bytes.append(char(value));
            continue;
        }
        if (group.size() % 2 != 0) {
            return fault(start + group.size() - 1,
                         u"“%1”是奇数个数字，每个字节要两个数字"_s.arg(group.toString()));
        }
        for (qsizetype k = 0; k < group.size(); k += 2) {
            input.bytes.append(char(digitValue(group[k]) * 16 + digitValue(group[k + 1])));
        }
    }
    return input;
}
