#include "widgets/statusline.h"

#include <QTime>

using namespace Qt::StringLiterals;

namespace {

QString lineState(bool on)
{
    return on ? u"开"_s : u"关"_s;
}

// The name as the line shows it: whole, or its beginning and "…".
QString shownPortName(const QString &name)
{
    if (name.size() <= statusPortNameLength)
        return name;
    // Room for the "…", and a character beyond the BMP is not cut in two.
    qsizetype length = statusPortNameLength - 1;
    if (name.at(length - 1).isHighSurrogate())
        --length;
    return name.first(length) + u'…';
}

} // namespace

QString statusLineText(const QString &portName, const QString &settings, bool dtr, bool rts,
                       bool cd, bool cts, bool dsr, const QTime &time)
{
    return shownPortName(portName) + u':' + settings + u"  DTR:"_s + lineState(dtr) + u"  RTS:"_s
           + lineState(rts) + u"  CD:"_s + lineState(cd) + u"  CTS:"_s + lineState(cts)
           + u"  DSR:"_s + lineState(dsr) + u"  时钟"_s + time.toString(u"HH:mm:ss"_s);
}
