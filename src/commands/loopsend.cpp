#include "commands/loopsend.h"

#include "app/menus.h"
#include "commands/commandcontext.h"
#include "platform/commport.h"
#include "platform/dialogs.h"
#include "settings/vbnumber.h"

#include <QStringEncoder>

using namespace Qt::StringLiterals;

LoopSend::LoopSend(CommandContext &context)
    : m_context(context)
    , m_alive(std::make_shared<bool>(true))
{}

LoopSend::~LoopSend()
{
    *m_alive = false;
}

void LoopSend::stopRunning()
{
    m_stopping = true;
}

void LoopSend::clicked()
{
    CommandContext &c = m_context;
    if (!c.port.portOpen()) {
        return;
    }
    c.menus.setChecked(Menus::LoopSend, !c.menus.checked(Menus::LoopSend));
    if (!c.menus.checked(Menus::LoopSend)) {
        // This is the click that stops a running loop; the loop sees the mark at its test.
        return;
    }

    const QString message = c.dialogs.inputBox(u"Enter Your Message For Loop Send"_s);
    if (message.isEmpty()) {
        c.menus.setChecked(Menus::LoopSend, false);
        return;
    }
    // A negative or huge delay is refused rather than handed to the pause, where it would
    // freeze the window for weeks.
    const std::optional<int> delay = loopDelay(c.dialogs.inputBox(u"输入延时毫秒"_s, u"1000"_s));
    if (!delay) {
        c.menus.setChecked(Menus::LoopSend, false);
        return;
    }

    // The line speaks the desktop's code page 936.
    QStringEncoder toAnsi("GBK");
    Q_ASSERT(toAnsi.isValid());
    run(toAnsi.encode(message), *delay);
}

void LoopSend::run(const QByteArray &message, int delay)
{
    // Our own hold on the token: events may destroy this object and the context meanwhile.
    const std::shared_ptr<bool> alive = m_alive;
    CommandContext &c = m_context;

    do {
        // The carriage-return mark is read anew each pass, so a change applies to the next.
        QByteArray bytes = message;
        if (c.menus.checked(Menus::SendCr)) {
            bytes.append('\r');
        }
        // A failed write is answered below, once, by looking at the port.
        (void)c.port.output(bytes);

        c.dialogs.doEvents();
        if (!*alive) {
            return;
        }
        // Closed meanwhile, the loop could never send again and would only burn the CPU.
        if (m_stopping || !c.port.portOpen()) {
            c.menus.setChecked(Menus::LoopSend, false);
            return;
        }
        c.dialogs.sleep(delay);
    } while (c.menus.checked(Menus::LoopSend));
}
