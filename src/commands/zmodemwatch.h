#pragma once

#include "commands/zmodemjobs.h"
#include "core/lineclaim.h"
#include "transfer/zmodemdetector.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QPointer>

#include <functional>

struct CommandContext;

// Starts ZMODEM when the far end begins it while no long job runs: sz's ZRQINIT starts a receive,
// rz's ZRINIT a send. The header is kept from the terminal: from where it begins, the line is
// held (and what arrives dropped, the far end repeats itself) until the job takes it. A far end
// that keeps beginning and failing (a ZRQINIT flood in plain text) is not followed after the
// first time until it has been quiet for a moment.
class ZmodemWatch : public QObject, public LineWatcher, private LineTaker
{
    Q_OBJECT

public:
    // Starts the job for what was found, or gives nullptr when none can start now.
    using Starter = std::function<ModemJob *(ZmodemDetector::Found found)>;

    ZmodemWatch(CommandContext &context, Starter starter, QObject *parent = nullptr);
    ~ZmodemWatch() override;

    void setEnabled(bool on);
    bool enabled() const { return m_enabled; }

    qsizetype watch(QByteArrayView bytes) override;

    // After a far-end start that came to nothing, further starts wait this long after the last.
    static constexpr int HoldOffMs = 3000;

private:
    qsizetype takeFromLine(QByteArrayView bytes) override;
    void start(ZmodemDetector::Found found);
    void jobEnded(const JobResult &result);
    void letGo();

    CommandContext &m_context;
    Starter m_starter;
    ZmodemDetector m_detector;
    bool m_enabled = true;
    QPointer<ModemJob> m_job;
    QDeadlineTimer m_holdOff;
};
