#include "commands/hexview.h"

#include "commands/commandcontext.h"
#include "core/dialogs.h"
#include "receive/hextext.h"
#include "core/regularfile.h"
#include "core/terminal.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

// Lines are written in slices of about this long, so a big view costs few turns and the
// window still answers within a frame.
constexpr int SliceMs = 10;

} // namespace

HexView::HexView(CommandContext &context, QObject *parent)
    : LongJob(parent)
    , m_context(context)
{
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, &HexView::writeLines);
}

void HexView::begin()
{
    CommandContext &c = m_context;
    m_stopping = false;
    const std::optional<QString> path = c.dialogs.openFile(u"所有文件|*.*"_s);
    if (!path) {
        end(JobResult::quiet());
        return;
    }

    // The terminal is emptied and the bar scaled to the file before its size is judged.
    c.box.clearText();
    m_total = QFileInfo(*path).size();
    reportProgress(0, m_total);
    if (m_total > MaxBytes) {
        end(JobResult::box(u"太大哦 !!!"_s));
        return;
    }
    Expected<std::unique_ptr<QFile>> file = openRegularFile(*path);
    if (!file.ok()) {
        end(JobResult::box(file.message()));
        return;
    }
    // At most the limit, even if the file grew since its size was taken.
    m_data = (*file)->read(MaxBytes);
    m_next = 0;
    c.box.setInputEnabled(false);
    m_timer.start();
}

void HexView::cancel()
{
    if (m_timer.isActive()) {
        m_stopping = true;
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
            reportProgress(m_next + 1, m_total);
        }
        // A stop still takes the byte it was raised before: one code, its character.
        const qsizetype count = m_stopping ? 1 : qMin(LineBytes, m_data.size() - m_next);
        c.box.insertText(hexViewLine(QByteArrayView(m_data).sliced(m_next, count)));
        m_next += count;
        if (m_stopping) {
            break;
        }
        if (slice.elapsed() >= SliceMs && m_next < m_data.size()) {
            return;
        }
    }
    c.box.setInputEnabled(true);
    end(JobResult::quiet());
}

void HexView::end(const JobResult &result)
{
    m_timer.stop();
    m_data.clear();
    finish(result);
}
