#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;

// Turns SIGTERM and SIGHUP into a Qt signal on the UI thread, so that a logout or a kill
// closes the port and the capture file the same way the exit command does.
class SignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit SignalWatcher(QObject *parent = nullptr);
    // With interrupt, Ctrl+C (SIGINT) too: a run without a window ends on it the same way.
    explicit SignalWatcher(bool interrupt, QObject *parent = nullptr);
    ~SignalWatcher() override;

    // Why the signals are not watched, or empty when they are.
    QString error() const { return m_error; }
    // The number of the last signal that came, for an exit status of 128 plus it.
    int lastSignal() const { return m_signal; }

Q_SIGNALS:
    void terminationRequested();

private:
    void onReadable();

    QSocketNotifier *m_notifier = nullptr;
    QString m_error;
    bool m_interrupt = false;
    int m_signal = 0;
};
