#include "widgets/statusline.h"

#include <QTime>

#include "support/qtprinters.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(StatusLine, LabelsStatesAndClock)
{
    struct Case
    {
        QString port, settings;
        bool dtr, rts, cd, cts, dsr;
        QTime time;
        QString expected;
    };
    const Case cases[] = {
            {u"COM1"_s, u"9600,N,8,1"_s, false, false, false, false, false, QTime(9, 5, 3),
             u"COM1:9600,N,8,1  DTR:关  RTS:关  CD:关  CTS:关  DSR:关  时钟09:05:03"_s},
            {u"COM12"_s, u"115200,E,7,2"_s, true, false, true, false, true, QTime(0, 0, 0),
             u"COM12:115200,E,7,2  DTR:开  RTS:关  CD:开  CTS:关  DSR:开  时钟00:00:00"_s},
            {u"my port"_s, u""_s, false, true, false, true, false, QTime(23, 59, 59),
             u"my port:  DTR:关  RTS:开  CD:关  CTS:开  DSR:关  时钟23:59:59"_s},
            // A stored name of any length costs a short line and leaves room for the clock.
            {u"sixteen-chars-ok"_s, u"9600,N,8,1"_s, false, false, false, false, false,
             QTime(1, 2, 3),
             u"sixteen-chars-ok:9600,N,8,1  DTR:关  RTS:关  CD:关  CTS:关  DSR:关  时钟01:02:03"_s},
            {QString(1024 * 1024, u'x'), u"9600,N,8,1"_s, false, false, false, false, false,
             QTime(1, 2, 3),
             u"xxxxxxxxxxxxxxx…:9600,N,8,1  DTR:关  RTS:关  CD:关  CTS:关  DSR:关  时钟01:02:03"_s},
            // The cut falls inside a character beyond the BMP, which goes whole.
            {u"COM1端口😀😀😀😀😀😀😀😀"_s, u"9600,N,8,1"_s, false, false, false, false, false,
             QTime(1, 2, 3),
             u"COM1端口😀😀😀😀…:9600,N,8,1  DTR:关  RTS:关  CD:关  CTS:关  DSR:关  时钟01:02:03"_s},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.expected.toStdString());
        EXPECT_EQ(statusLineText(c.port, c.settings, c.dtr, c.rts, c.cd, c.cts, c.dsr, c.time),
                  c.expected);
    }
}
