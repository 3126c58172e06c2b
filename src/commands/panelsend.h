#pragma once

#include "core/longjob.h"
#include "core/sendentry.h"

#include <QList>
#include <QObject>
#include <QTimer>

struct CommandContext;

// Sends one panel entry as a typed line goes: its text (or its codes, for a hex entry) in the
// typed colour at the end of the terminal, the count annotation, and the notice when the port is
// closed or refuses it. Each send that went out is announced for the history.
class PanelSender : public QObject
{
    Q_OBJECT

public:
    explicit PanelSender(CommandContext &context, QObject *parent = nullptr);

    // Whether the bytes were handed to the port. An entry that cannot be sent (a wrong hex
    // digit), or a send while another long job has the line or the terminal, is said in a
    // notice line and nothing goes out: bytes slipped into a transfer would spoil it.
    // record: announce it for the history; a sequence's sends, which may run for hours, would
    // wash the user's own sends out of it.
    bool send(const SendEntry &entry, bool record = true);
    // Holds the line in break for ms milliseconds; the outcome is said in a notice line.
    void sendBreak(int ms);
    // The one job whose own sends are let through while it runs: the panel's sequence.
    void allowDuring(const LongJob *job) { m_allowed = job; }

Q_SIGNALS:
    void sent(const SendEntry &entry);

private:
    bool lineInUse();

    CommandContext &m_context;
    const LongJob *m_allowed = nullptr;
};

// "顺序发送": the checked entries in order, each followed by its delay, a number of rounds or
// until stopped. The next entry waits both for the delay and for the line to have taken the one
// before, so a held line holds the sequence instead of piling entries up.
class SequenceSend : public LongJob
{
    Q_OBJECT

public:
    SequenceSend(CommandContext &context, PanelSender &sender, QObject *parent = nullptr);

    // Checks what would run and starts it as the one long job; rounds 0 runs until stopped. A
    // refusal (nothing checked, an entry that cannot be sent, the port closed) is said in a
    // message box and nothing starts.
    bool startSequence(const QList<SendEntry> &entries, int rounds);

protected:
    void begin() override;
    void cancel() override;

private:
    void sendNext();
    void lineTook();

    CommandContext &m_context;
    PanelSender &m_sender;
    QList<SendEntry> m_entries;
    int m_rounds = 1;
    qint64 m_sends = 0;
    QTimer m_pause;
    bool m_waitingForLine = false;
};
