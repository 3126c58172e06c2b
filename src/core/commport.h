#pragma once

#include "core/result.h"

#include <QByteArray>
#include <QObject>
#include <QString>

// The program's one serial line: configured once, opened on command, read and written as bytes.
// Every getter answers while the port is closed; lineStateChanged() says when the ones the status
// strip shows may have changed, so that nobody has to poll them.
class CommPort : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    ~CommPort() override = default;

    virtual Result setCommPort(int number) = 0;
    virtual int commPort() const = 0;
    // "9600,N,8,1": speed, parity letter, data bits, stop bits.
    virtual Result setSettings(const QString &settings) = 0;
    virtual QString settings() const = 0;
    // 0 none, 1 XON/XOFF, 2 RTS/CTS, 3 both.
    virtual Result setHandshaking(int code) = 0;
    virtual int handshaking() const = 0;

    // A local device opens or fails within setPortOpen(true). A port behind a serial server on
    // the network needs a round trip or more: the call then succeeds with portOpening() true,
    // and the outcome follows as opened() or openFailed(), never from inside the call.
    // setPortOpen(false) while opening stops the attempt without a signal.
    virtual Result setPortOpen(bool open) = 0;
    virtual bool portOpen() const = 0;
    virtual bool portOpening() const = 0;

    virtual void setDtrEnable(bool on) = 0;
    virtual bool dtrEnable() const = 0;
    virtual void setRtsEnable(bool on) = 0;
    virtual bool rtsEnable() const = 0;
    virtual bool cdHolding() const = 0;
    virtual bool ctsHolding() const = 0;
    virtual bool dsrHolding() const = 0;

    // Queues bytes to go out in order and returns at once; the line takes them as it can, and
    // bytesWritten reports each step. Nothing queued is ever dropped while the port stays open.
    // Fails when the port is closed. Senders of much data keep the queue short themselves by
    // waiting for bytesWritten (see bytesToWrite).
    virtual Result output(const QByteArray &bytes) = 0;
    // Bytes queued by output() that the line has not yet taken.
    virtual qint64 bytesToWrite() const = 0;

    // Holds the line in break (a long space) for ms milliseconds, then lets it go by itself; the
    // call returns at once. Fails, saying why, when the port is closed, a break is already held
    // or the line cannot carry one.
    virtual Result sendBreak(int ms)
    {
        Q_UNUSED(ms);
        return Result::failure(QString());
    }

Q_SIGNALS:
    // An opening under way has finished: the port is open.
    void opened();
    // An opening under way has failed and left the port closed; the text names the port, where
    // it leads and the cause.
    void openFailed(const QString &message);
    // What arrived from the line, in order, gathered into chunks; raised on the UI thread.
    void received(const QByteArray &bytes);
    // The line took this many queued bytes.
    void bytesWritten(qint64 bytes);
    // The port closed itself because the device went away; the text names the port and cause.
    void lost(const QString &message);
    // The port number, the line settings, the open state, DTR, RTS or an input line (CD, CTS,
    // DSR) may have changed. It may come when nothing did; the getters tell.
    void lineStateChanged();
    // Something the user should know about the open line that needs no answer (a server that
    // misbehaved and was worked around); shown as a line in the terminal.
    void notice(const QString &text);
};
