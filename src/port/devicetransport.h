#pragma once

#include "port/linetransport.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTimer>

// A local serial device under Qt SerialPort: opened with exclusive access, every refusal
// explained, the modem lines read cheaply and their changes reported, and a device that goes away
// reported once.
class DeviceTransport : public LineTransport
{
    Q_OBJECT

public:
    explicit DeviceTransport(QObject *parent = nullptr);
    ~DeviceTransport() override;

    // Opens the device a port number's path leads to (a link or a conventional device name),
    // within the call.
    Result open(int number, const QString &path, const LineSetup &setup);

    void close() override;
    bool isOpen() const override { return m_serial.isOpen() && !m_losing; }
    bool isOpening() const override { return false; }
    QString target() const override { return m_device; }

    Result setLineSettings(const LineSettings &line) override;
    Result setHandshaking(int code) override;
    void setDtr(bool on) override;
    void setRts(bool on) override;
    bool cd() const override;
    bool cts() const override;
    bool dsr() const override;

    Result write(const QByteArray &bytes) override;
    qint64 bytesToWrite() const override { return m_serial.bytesToWrite(); }
    Result setBreak(bool on) override;
    QByteArray takeArrived() override;
    bool holdReading(bool hold) override;

private:
    // The cause of a refusal, as the system or Qt gave it.
    Result applyLineSettings(const LineSettings &line);
    Result applyHandshaking(int code);
    void applyModemLine(int line, bool on);
    bool modemLine(int line) const;
    // Reads the modem lines from the system into the cache; false when the device has none.
    bool readModemBits() const;
    void pollModemLines();
    QString describe() const;

    // Reads what waits on the device past Qt, while its watch is held.
    QByteArray readHeld();
    void releaseReading();

    void onErrorOccurred(QSerialPort::SerialPortError error);
    void reportLost(QSerialPort::SerialPortError error, const QString &detail);

    QSerialPort m_serial;
    int m_number = 0;
    QString m_device;
    LineSettings m_line;
    int m_handshaking = 0;

    // Set between noticing that the device went away and closing, so it is reported once.
    bool m_losing = false;

    // The device may not have modem lines at all (a pseudo-terminal); then they read false
    // without asking the system each time.
    mutable bool m_modemLinesKnownMissing = false;
    mutable int m_modemBits = 0;
    mutable QElapsedTimer m_modemBitsAge;
    // The system tells no one when an input line changes: while the device has modem lines they
    // are read now and then, and a change is reported. Not while closed, nor for a device without.
    QTimer m_modemPoll;
    int m_polledInputs = 0;

    // Qt's watch on the device while reading is held; a read that failed while held ends the
    // holding until the device is opened again.
    QPointer<QSocketNotifier> m_heldWatch;
    bool m_holdRefused = false;
};
