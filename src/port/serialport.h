#pragma once

#include "core/commport.h"
#include "port/devicetransport.h"
#include "port/networktransport.h"

#include <QElapsedTimer>
#include <QTimer>

// The real serial line: a CommPort over the line a port number leads to, a local device or,
// when the number's link names rfc2217:// or socket://, a serial server on the network. It hands
// arriving bytes on in grouped chunks, queues what is sent without ever waiting on the caller's
// thread, reads the modem lines cheaply and says when they change, and closes itself (once, with
// a message) when the line goes away.
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
    bool portOpen() const override { return m_transport && m_transport->isOpen(); }
    bool portOpening() const override { return m_transport && m_transport->isOpening(); }

    void setDtrEnable(bool on) override;
    bool dtrEnable() const override { return m_dtr; }
    void setRtsEnable(bool on) override;
    bool rtsEnable() const override { return m_rts; }
    bool cdHolding() const override;
    bool ctsHolding() const override;
    bool dsrHolding() const override;

    Result output(const QByteArray &bytes) override;
    qint64 bytesToWrite() const override;
    Result sendBreak(int ms) override;

    // The device file the open port uses (links resolved), or the server's address for a
    // network port; empty while closed.
    QString devicePath() const;

private:
    static Expected<LineSettings> parseSettings(const QString &text);

    Result open();
    Result close();
    void closeTransport();
    QString portName() const;
    QString describe() const;
    LineSetup setup() const;

    void onReadyRead();
    void raiseReceive();
    int bitsPerByte() const;
    // How long the line takes to carry this many bytes at its present settings.
    qint64 lineTimeMs(qsizetype bytes) const;
    // Whether this much in this long kept the line busy enough to be read a burst at a time.
    bool keptLineBusy(qsizetype bytes, qint64 ms) const;
    void takeArrived();
    void modemLinesChanged();
    void onOpened();
    void onOpenFailed(const QString &message);
    void onLost(const QString &message);
    void endBreak();

    DeviceTransport m_device;
    NetworkTransport m_network;
    // The transport of the last opening; nothing before the first.
    LineTransport *m_transport = nullptr;

    int m_number = 1;
    QString m_settings = QStringLiteral("9600,N,8,1");
    LineSettings m_line;
    int m_handshaking = 0;
    bool m_dtr = true;
    bool m_rts = true;

    // Received bytes not yet handed on, and the grouping of arrivals into chunks.
    QByteArray m_pending;
    QTimer m_raiseTimer;
    QElapsedTimer m_lastArrival;
    QElapsedTimer m_burst;
    // Set while a busy line is read on the burst timer instead of at each arrival.
    bool m_streaming = false;
    // Gathers modem-line changes into one redraw a frame.
    QTimer m_modemTimer;
    QElapsedTimer m_lastModemChange;
    // Runs while the line is held in break; its end lets the line go.
    QTimer m_breakTimer;
};
