#pragma once

#include "core/longjob.h"

#include <memory>

class QFile;
struct CommandContext;

// A file going out over the line, driven by the line itself: blocks are queued only while the
// port's queue is short, and more follow when the line reports that it took bytes. Nothing waits
// on the window's thread, so a held line holds only the send, and nothing is dropped.
//
// States: idle, sending (reading and queueing), draining (all queued, waiting for the line).
// The user's stop queues nothing more, and what the line already holds still goes; a closed port
// ends the send with a box that says how much of the file went out.
class FileSend : public LongJob
{
    Q_OBJECT

public:
    // A file is read this much at a time, so its size does not matter.
    static constexpr qint64 BlockBytes = 64 * 1024;
    // The port's queue is refilled only below this, which bounds the memory a send holds.
    static constexpr qint64 QueueHighWater = 256 * 1024;

    explicit FileSend(CommandContext &context, QObject *parent = nullptr);
    ~FileSend() override;

    // The open file that the next start sends; fast queues whole blocks, else one byte per write.
    void setFile(std::unique_ptr<QFile> file, bool fast);
    void portClosed() override;
    bool holdsLine() const override { return true; }

protected:
    void begin() override;
    void cancel() override;

private:
    enum class State { Idle, Sending, Draining };

    void pump();
    // An empty message ends the send quietly.
    void end(const QString &message);
    qint64 sentSoFar() const;

    CommandContext &m_context;
    std::unique_ptr<QFile> m_file;
    State m_state = State::Idle;
    bool m_fast = true;
    qint64 m_total = 0;
    qint64 m_handed = 0;
    // What the line had taken when last looked at while the port was open.
    qint64 m_sent = 0;
    int m_echoColumn = 0;
};
