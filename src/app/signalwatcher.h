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
    ~SignalWatcher() override;

    // Why the signals are not watched, or empty when they are.
    QString error() const { return m_error; }

Q_SIGNALS:
    void terminationRequested();

private:
    void onReadable();

    QSocketNotifier *m_notifier = nullptr;
    QString m_error;
};
