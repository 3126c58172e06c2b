#include "commands/filesend.h"

#include "commands/commandcontext.h"
#include "core/commport.h"
#include "core/colors.h"
#include "receive/hextext.h"
#include "core/messages.h"
#include "core/terminal.h"

#include <QFile>
#include <QTimer>

using namespace Qt::StringLiterals;

FileSend::FileSend(CommandContext &context, QObject *parent)
    : LongJob(parent)
    , m_context(context)
{
    // Queued, so that a write which reports progress at once does not re-enter the pump.
    connect(&m_context.port, &CommPort::bytesWritten, this, &FileSend::pump, Qt::QueuedConnection);
}

FileSend::~FileSend() = default;

void FileSend::setFile(std::unique_ptr<QFile> file, bool fast)
{
    Q_ASSERT(!running());
    m_file = std::move(file);
    m_fast = fast;
}

void FileSend::begin()
{
    Q_ASSERT(m_file);
    m_total = m_file->size();
    m_handed = 0;
    m_sent = 0;
    m_echoColumn = 0;
    m_state = State::Sending;
    reportProgress(0, qMax<qint64>(1, m_total));
    pump();
}

qint64 FileSend::sentSoFar() const
{
    return qMax<qint64>(0, m_handed - m_context.port.bytesToWrite());
}

void FileSend::pump()
{
    if (!running()) {
        return;
    }
    CommandContext &c = m_context;
    if (!c.port.portOpen()) {
        portClosed();
        return;
    }
    if (m_state == State::Sending) {
        // In byte-by-byte mode each byte waits until the line took the one before. A turn hands
        // over at most one queue's worth, so a line that drains at once (or a huge file) still
        // leaves the window its events; the line's progress report brings the next turn.
        const qint64 room = m_fast ? QueueHighWater : 1;
        qint64 handedNow = 0;
        while (m_state == State::Sending && c.port.bytesToWrite() < room && handedNow < room) {
            const QByteArray block = m_file->read(m_fast ? BlockBytes : 1);
            if (block.isEmpty()) {
                if (m_file->error() != QFileDevice::NoError) {
                    end(Messages::sendReadFailed(m_file->fileName(), sentSoFar(),
                                                 m_file->errorString()));
                    return;
                }
                m_state = State::Draining;
                break;
            }
            c.box.setSelReceived(false);
            c.box.setSelColor(TerminalColors::Echo);
            c.box.moveCaretToEnd();
            c.box.insertText(sendEchoText(block, m_echoColumn));
            const Result sent = c.port.output(block);
            if (!sent.ok()) {
                end(Messages::sendStoppedByClose(m_sent, m_total));
                return;
            }
            m_handed += block.size();
            handedNow += block.size();
        }
    }
    m_sent = sentSoFar();
    if (m_total > 0) {
        reportProgress(qMin(m_sent, m_total), m_total);
    }
    if (m_state == State::Draining && c.port.bytesToWrite() == 0) {
        end(QString());
    }
}

void FileSend::cancel()
{
    end(QString());
}

void FileSend::portClosed()
{
    if (running()) {
        end(Messages::sendStoppedByClose(m_sent, m_total));
    }
}

void FileSend::end(const QString &message)
{
    m_state = State::Idle;
    m_file.reset();
    finish(message.isEmpty() ? JobResult::quiet() : JobResult::box(message));
}
