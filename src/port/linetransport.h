#pragma once

#include "core/result.h"

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

// One line-settings text, read.
struct LineSettings
{
    qint32 speed = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

// Everything a line starts with when it opens.
struct LineSetup
{
    LineSettings line;
    int handshaking = 0; // 0 none, 1 XON/XOFF, 2 RTS/CTS, 3 both
    bool dtr = true;
    bool rts = true;
};

// What carries the port's bytes: a local serial device, or a connection to a serial server.
// The port object keeps the settings, groups arrivals and speaks to the program; a transport
// moves bytes and sets lines, and nothing above the port object knows which one it is.
//
// Each transport opens in its own way: a device at once, a network server later, with opened()
// or failed(). Arrivals are announced with readyRead() and kept until takeArrived(). When the line
// goes away, lost() comes while the transport still holds what arrived before; the port takes it
// and then closes the transport.
class LineTransport : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Closes without a signal, or stops an opening under way.
    virtual void close() = 0;
    // Open and usable; false from the moment a loss is noticed.
    virtual bool isOpen() const = 0;
    virtual bool isOpening() const = 0;
    // The device file or the server's address in use; empty while closed.
    virtual QString target() const = 0;

    // Changes on the open line; a refusal leaves the line as it was and says why.
    virtual Result setLineSettings(const LineSettings &line) = 0;
    virtual Result setHandshaking(int code) = 0;
    virtual void setDtr(bool on) = 0;
    virtual void setRts(bool on) = 0;
    virtual bool cd() const = 0;
    virtual bool cts() const = 0;
    virtual bool dsr() const = 0;

    // Queues bytes without waiting; the message says why when the line will not take them.
    virtual Result write(const QByteArray &bytes) = 0;
    virtual qint64 bytesToWrite() const = 0;
    // Starts or ends a break on the line; the message says why when it cannot.
    virtual Result setBreak(bool on) = 0;
    virtual QByteArray takeArrived() = 0;
    // While reading is held, arrivals are not announced and wake no one; takeArrived() still
    // takes everything waiting. False when the transport cannot hold, or no longer can: a line
    // that fails while held is watched again, so that its loss is reported as usual.
    virtual bool holdReading(bool hold)
    {
        Q_UNUSED(hold);
        return false;
    }

Q_SIGNALS:
    void readyRead();
    void bytesWritten(qint64 bytes);
    void opened();
    // The message names the port, where it leads and why, ready to show.
    void failed(const QString &message);
    void lost(const QString &message);
    // CD, CTS or DSR changed at the far end of the open line.
    void modemLinesChanged();
    // Something the user should know about the open line, ready to show in the terminal.
    void notice(const QString &text);
};
