#include "commands/hexview.h"

#include "commands/commandcontext.h"
#include "core/switches.h"
#include "core/terminal.h"
#include "widgets/progressbar.h"
#include "widgets/statusstrip.h"
#include "core/hextext.h"

#include <QElapsedTimer>

using namespace Qt::StringLiterals;

namespace {

// Lines are written in slices of about this long, so a big view costs few turns and the
// window still answers within a frame.
constexpr int SliceMs = 10;

} // namespace

HexView::HexView(CommandContext &context, QObject *parent)
    : QObject(parent)
    , m_context(context)
{
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, &HexView::writeLines);
}

void HexView::start(const QByteArray &data)
{
    m_data = data;
    m_next = 0;
    m_context.switches.setEnabled(Switches::HexView, false);
    m_context.box.setInputEnabled(false);
    m_timer.start();
}

void HexView::stopRequested()
{
    if (running()) {
        writeLines();
    }
}

void HexView::writeLines()
{
    CommandContext &c = m_context;
    QElapsedTimer slice;
    slice.start();
    while (m_next < m_data.size()) {
        if (m_next > 0) {
            c.bar.drawMark(double(m_next + 1));
        }
        // A stop still takes the byte it was raised before: one code, its character.
        const bool stop = c.stopFlag == 1;
        const qsizetype count = stop ? 1 : qMin(LineBytes, m_data.size() - m_next);
        c.box.insertText(hexViewLine(QByteArrayView(m_data).sliced(m_next, count)));
        m_next += count;
        if (stop) {
            break;
        }
        if (slice.elapsed() >= SliceMs && m_next < m_data.size()) {
            return;
        }
    }
    finish();
}

void HexView::finish()
{
    CommandContext &c = m_context;
    m_timer.stop();
    m_data.clear();
    c.stopFlag = 0;
    c.switches.setEnabled(Switches::HexView, true);
    c.box.setInputEnabled(true);
    c.bar.cls();
    c.strip.setCommand1Caption(u"清除"_s);
}
