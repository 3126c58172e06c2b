#pragma once

#include "platform/result.h"

#include <QByteArray>
#include <QObject>
#include <QString>

// The program's one serial line: configured once, opened on command, read and written as bytes.
// Every getter answers while the port is closed; the status strip polls them ten times a second.
class CommPort : public QObject
{
    Q_OBJECT

public:
    // The code that commEvent() gives while received bytes wait.
    static constexpr int EventReceive = 2;

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

    virtual Result setPortOpen(bool open) = 0;
    virtual bool portOpen() const = 0;

    virtual void setDtrEnable(bool on) = 0;
    virtual bool dtrEnable() const = 0;
    virtual void setRtsEnable(bool on) = 0;
    virtual bool rtsEnable() const = 0;
    virtual bool cdHolding() const = 0;
    virtual bool ctsHolding() const = 0;
    virtual bool dsrHolding() const = 0;

    // Bytes go out in order; an empty array sends nothing. Fails when the port is closed.
    virtual Result output(const QByteArray &bytes) = 0;
    // Returns and removes everything waiting.
    virtual QByteArray input() = 0;
    virtual int commEvent() const = 0;

Q_SIGNALS:
    // Raised on the UI thread whenever received bytes wait (commEvent() is then EventReceive).
    void commEventRaised();
    // The port closed itself because the device went away; the text names the port and cause.
    void lost(const QString &message);
};
