#pragma once

#include "platform/commport.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QTimer>

// The real serial line: a CommPort over Qt SerialPort that opens the device a port number
// leads to, hands arriving bytes on in grouped chunks, queues what is sent without ever waiting
// on the caller's thread, reads the modem lines cheaply, and closes itself (once, with a
// message) when the device goes away.
class SerialPort : public CommPort
{
    Q_OBJECT

public:
    explicit SerialPort(QObject *parent = nullptr);
    ~SerialPort() override;

    Result setCommPort(int number) override;
    int commPort() const override { return m_number; }
    Result setSettings(const QString &settings) override;
    QString settings() const override { return m_settings; }
    Result setHandshaking(int code) override;
    int handshaking() const override { return m_handshaking; }

    Result setPortOpen(bool open) override;
    // A port noticed lost is no longer open to its users, though closing it is still under way.
    bool portOpen() const override { return m_serial.isOpen() && !m_losing; }

    void setDtrEnable(bool on) override;
    bool dtrEnable() const override { return m_dtr; }
    void setRtsEnable(bool on) override;
    bool rtsEnable() const override { return m_rts; }
    bool cdHolding() const override;
    bool ctsHolding() const override;
    bool dsrHolding() const override;

    Result output(const QByteArray &bytes) override;
    qint64 bytesToWrite() const override { return m_serial.bytesToWrite(); }

    // The device file the open port uses (links resolved); empty while closed.
    QString devicePath() const { return m_device; }

private:
    // One parsed line-settings text.
    struct LineSettings
    {
        qint32 speed = 9600;
        QSerialPort::Parity parity = QSerialPort::NoParity;
        QSerialPort::DataBits dataBits = QSerialPort::Data8;
        QSerialPort::StopBits stopBits = QSerialPort::OneStop;
    };
    static Expected<LineSettings> parseSettings(const QString &text);

    Result open();
    Result close();
    void closeDevice();
    QString portName() const;
    QString describe() const;
    bool applyLineSettings(const LineSettings &line);
    bool applyHandshaking(int code);
    void applyModemLine(int line, bool on);
    bool modemLine(int line) const;

    void onReadyRead();
    void onErrorOccurred(QSerialPort::SerialPortError error);
    void raiseReceive();
    // How long the line takes to carry this many bytes at its present settings.
    qint64 lineTimeMs(qsizetype bytes) const;
    void takeArrived();
    void closeLost(QSerialPort::SerialPortError error, const QString &detail);

    QSerialPort m_serial;
    int m_number = 1;
    QString m_settings = QStringLiteral("9600,N,8,1");
    LineSettings m_line;
    int m_handshaking = 0;
    bool m_dtr = true;
    bool m_rts = true;
    QString m_device;

    // Received bytes not yet handed on, and the grouping of arrivals into chunks.
    QByteArray m_pending;
    QTimer m_raiseTimer;
    QElapsedTimer m_lastArrival;
    QElapsedTimer m_burst;

    // Set between noticing that the device went away and closing, so it is reported once.
    bool m_losing = false;

    // The device may not have modem lines at all (a pseudo-terminal); then they read false
    // without asking the system each time.
    mutable bool m_modemLinesKnownMissing = false;
    mutable int m_modemBits = 0;
    mutable QElapsedTimer m_modemBitsAge;
};
