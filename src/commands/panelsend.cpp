#include "commands/panelsend.h"

#include "commands/commandcontext.h"
#include "core/colors.h"
#include "core/commport.h"
#include "core/dialogs.h"
#include "core/jobrunner.h"
#include "core/messages.h"
#include "core/terminal.h"

using namespace Qt::StringLiterals;

PanelSender::PanelSender(CommandContext &context, QObject *parent)
    : QObject(parent)
    , m_context(context)
{}

bool PanelSender::lineInUse()
{
    const JobRunner &jobs = m_context.jobs;
    if (!jobs.busy() || jobs.current() == m_allowed)
        return false;
    appendNotice(m_context.box, Messages::panelLineBusy());
    return true;
}

bool PanelSender::send(const SendEntry &entry, bool record)
{
    if (lineInUse())
        return false;
    Terminal &box = m_context.box;
    const EntryFrame frame = entryFrame(entry, m_context.encoding);
    if (!frame.ok()) {
        appendNotice(box, Messages::panelEntryNotSendable(entry.name, frame.error));
        return false;
    }
    // On a line of its own, so that neither what arrived nor what was half typed runs into it.
    const qsizetype length = box.textLength();
    box.moveCaretToEnd();
    box.setSelReceived(false);
    if (length > 0 && box.charAt(length - 1) != u'\n')
        box.insertText(u"\r\n"_s);
    box.setSelColor(TerminalColors::Typed);
    box.insertText(frame.shown);
    box.setSelColor(TerminalColors::Count);
    box.insertText(u" : "_s + QString::number(frame.count) + u" 字符 "_s);

    box.setSelColor(TerminalColors::Notice);
    bool out = false;
    if (!m_context.port.portOpen()) {
        box.insertText(Messages::panelPortClosed());
    } else if (const Result sent = m_context.port.output(frame.bytes); !sent.ok()) {
        box.insertText(u" ("_s + sent.message() + u")"_s);
    } else {
        out = true;
    }
    box.insertText(u"\r\n"_s);
    box.setSelColor(TerminalColors::Typed);
    if (out && record)
        Q_EMIT sent(entry);
    return out;
}

void PanelSender::sendBreak(int ms)
{
    if (lineInUse())
        return;
    const Result held = m_context.port.sendBreak(ms);
    appendNotice(m_context.box, held.ok() ? Messages::panelBreakDone(ms)
                                          : Messages::panelBreakFailed(held.message()));
}

SequenceSend::SequenceSend(CommandContext &context, PanelSender &sender, QObject *parent)
    : LongJob(parent)
    , m_context(context)
    , m_sender(sender)
{
    m_pause.setSingleShot(true);
    connect(&m_pause, &QTimer::timeout, this, &SequenceSend::sendNext);
    m_sender.allowDuring(this);
    connect(&m_context.port, &CommPort::bytesWritten, this, &SequenceSend::lineTook);
}

bool SequenceSend::startSequence(const QList<SendEntry> &entries, int rounds)
{
    Q_ASSERT(!running());
    CommandContext &c = m_context;
    QList<SendEntry> chosen;
    for (const SendEntry &entry : entries) {
        if (!entry.checked)
            continue;
        // Found before anything goes out, rather than half way through a sequence.
        if (const EntryFrame frame = entryFrame(entry, m_context.encoding); !frame.ok()) {
            c.dialogs.message(Messages::panelEntryNotSendable(entry.name, frame.error),
                              Dialogs::Warning);
            return false;
        }
        chosen.append(entry);
    }
    if (chosen.isEmpty()) {
        c.dialogs.message(Messages::panelNothingChecked(), Dialogs::Warning);
        return false;
    }
    if (!c.port.portOpen()) {
        c.dialogs.message(Messages::panelSequencePortClosed(), Dialogs::Warning);
        return false;
    }
    m_entries = chosen;
    m_rounds = qMax(0, rounds);
    return c.jobs.run(this);
}

void SequenceSend::begin()
{
    m_sends = 0;
    m_waitingForLine = false;
    sendNext();
}

void SequenceSend::sendNext()
{
    CommPort &port = m_context.port;
    m_waitingForLine = false;
    if (!running())
        return;
    const qint64 total = m_rounds == 0 ? 0 : qint64(m_rounds) * m_entries.size();
    if (total != 0 && m_sends >= total) {
        finish(JobResult::quiet());
        return;
    }
    if (!port.portOpen()) {
        finish(JobResult::quiet());
        return;
    }
    if (port.bytesToWrite() > 0) {
        m_waitingForLine = true;
        return;
    }
    const SendEntry &entry = m_entries.at(qsizetype(m_sends % m_entries.size()));
    ++m_sends;
    if (!m_sender.send(entry, false)) {
        // The reason is in the terminal already, on the entry's own line.
        finish(JobResult::quiet());
        return;
    }
    reportProgress(m_sends, total);
    m_pause.start(entry.delayMs);
}

void SequenceSend::lineTook()
{
    if (m_waitingForLine && m_context.port.bytesToWrite() == 0)
        sendNext();
}

void SequenceSend::cancel()
{
    m_pause.stop();
    m_waitingForLine = false;
    finish(JobResult::quiet());
}
