#include "core/textencoding.h"

using namespace Qt::StringLiterals;

namespace TextEncodings {

QString name(TextEncoding encoding)
{
    return encoding == TextEncoding::Utf8 ? u"UTF-8"_s : u"GBK"_s;
}

TextEncoding fromName(const QString &name)
{
    const QString plain = name.trimmed();
    if (plain.compare(u"UTF-8"_s, Qt::CaseInsensitive) == 0
        || plain.compare(u"UTF8"_s, Qt::CaseInsensitive) == 0)
        return TextEncoding::Utf8;
    return TextEncoding::Gbk;
}

} // namespace TextEncodings
