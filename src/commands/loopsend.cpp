#include "commands/loopsend.h"

#include "commands/commandcontext.h"
#include "core/commport.h"
#include "core/dialogs.h"
#include "core/jobrunner.h"
#include "core/lineconvert.h"
#include "core/switches.h"
#include "core/typednumber.h"

using namespace Qt::StringLiterals;

LoopSend::LoopSend(CommandContext &context, QObject *parent)
    : LongJob(parent)
    , m_context(context)
{
    m_pause.setSingleShot(true);
    connect(&m_pause, &QTimer::timeout, this, &LoopSend::sendNext);
    connect(&m_context.port, &CommPort::bytesWritten, this, [this] {
        if (m_waitingForLine && m_context.port.bytesToWrite() == 0) {
            sendNext();
        }
    });
}

void LoopSend::clicked()
{
    CommandContext &c = m_context;
    if (!c.port.portOpen()) {
        return;
    }
    if (running()) {
        stop();
        return;
    }
    // Another long job holds the line or the terminal: the click is ignored as with the port
    // closed.
    if (c.jobs.busy()) {
        return;
    }
    c.switches.setChecked(Switches::LoopSend, true);

    const QString message = c.dialogs.inputBox(u"Enter Your Message For Loop Send"_s);
    if (message.isEmpty()) {
        c.switches.setChecked(Switches::LoopSend, false);
        return;
    }
    // A negative or huge delay is refused rather than handed to the pause.
    const std::optional<int> delay = loopDelay(c.dialogs.inputBox(u"输入延时毫秒"_s, u"1000"_s));
    if (!delay) {
        c.switches.setChecked(Switches::LoopSend, false);
        return;
    }
    // The port may have closed while the prompts were up.
    if (!c.port.portOpen()) {
        c.switches.setChecked(Switches::LoopSend, false);
        return;
    }

    m_message = encodeText(message, c.encoding);
    m_pause.setInterval(*delay);
    if (!c.jobs.run(this)) {
        c.switches.setChecked(Switches::LoopSend, false);
    }
}

void LoopSend::begin()
{
    sendNext();
}

void LoopSend::sendNext()
{
    CommandContext &c = m_context;
    m_waitingForLine = false;
    if (!running()) {
        return;
    }
    if (!c.port.portOpen()) {
        end(JobResult::quiet());
        return;
    }
    if (c.port.bytesToWrite() > 0) {
        m_waitingForLine = true;
        return;
    }
    // The carriage-return mark is read anew each pass, so a change applies to the next.
    QByteArray bytes = m_message;
    if (c.switches.checked(Switches::SendCr)) {
        bytes.append('\r');
    }
    const Result sent = c.port.output(bytes);
    if (!sent.ok()) {
        end(JobResult::box(sent.message()));
        return;
    }
    m_pause.start();
}

void LoopSend::cancel()
{
    end(JobResult::quiet());
}

void LoopSend::end(const JobResult &result)
{
    m_waitingForLine = false;
    m_pause.stop();
    m_context.switches.setChecked(Switches::LoopSend, false);
    finish(result);
}
