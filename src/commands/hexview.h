#pragma once

#include "core/longjob.h"

#include <QByteArray>
#include <QTimer>

struct CommandContext;

// The hexadecimal view of a file: asks for the file, empties the terminal and writes the dump
// line by line on timer turns, so that the window stays alive and the clear button, which reads
// "停止" from the moment the file is asked for, can stop it between two lines. The terminal takes
// no typing while the dump is written.
class HexView : public LongJob
{
    Q_OBJECT

public:
    // Bytes on one line of the view.
    static constexpr qsizetype LineBytes = 24;
    // The largest file shown.
    static constexpr qint64 MaxBytes = 65535;

    explicit HexView(CommandContext &context, QObject *parent = nullptr);

    // The view needs no port: it goes on when the port closes.
    void portClosed() override {}

protected:
    void begin() override;
    // Looked at before the next line: the byte the stop was raised before still goes, alone.
    void cancel() override;

private:
    void writeLines();
    void end(const JobResult &result);

    CommandContext &m_context;
    QTimer m_timer;
    QByteArray m_data;
    qsizetype m_next = 0;
    qint64 m_total = 0;
    bool m_stopping = false;
};
