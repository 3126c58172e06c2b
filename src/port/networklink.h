#pragma once

#include "port/networkaddress.h"
#include "port/telnetcodec.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>

class QTcpSocket;

// A serial line reached over the network, through an RFC 2217 server (telnet COM-PORT-OPTION:
// line settings and modem lines travel with the data) or a plain TCP socket. Nothing waits: open
// answers with opened() or failed(), an open link that drops says lost(), and what arrives is
// handed on in received(). Every message is Chinese and names the address.
class NetworkLink : public QObject
{
    Q_OBJECT

public:
    enum class Parity { None, Odd, Even, Mark, Space };
    enum class StopBits { One, OneAndHalf, Two };

    // The far serial port's settings, sent at open and whenever they change.
    struct LineParameters
    {
        quint32 speed = 9600;
        int dataBits = 8; // 5 to 8
        Parity parity = Parity::None;
        StopBits stopBits = StopBits::One;
        int handshaking = 0; // 0 none, 1 XON/XOFF, 2 RTS/CTS, 3 both
        bool dtr = true;
        bool rts = true;

        friend bool operator==(const LineParameters &, const LineParameters &) = default;
    };

    // How long connecting, and for RFC 2217 the negotiation, may take in all.
    static constexpr int DefaultOpenTimeoutMs = 10000;

    explicit NetworkLink(QObject *parent = nullptr);
    ~NetworkLink() override;

    // Starts connecting; the answer is opened() or failed(), never emitted from inside this
    // call. The link must be closed.
    void open(const NetworkAddress &address, const LineParameters &line);
    // Closes at once, or stops an open under way, without any signal. Data still queued goes
    // out while the server takes it, for at most a second, after the link is closed.
    void close();
    bool isOpen() const { return m_state == State::Open; }
    bool isOpening() const { return m_state == State::Connecting || m_state == State::Negotiating; }
    NetworkAddress address() const { return m_address; }
    void setOpenTimeout(int milliseconds) { m_openTimeoutMs = milliseconds; }

    // Queues the bytes (0xFF doubled in RFC 2217 mode) and returns their number, or -1 when
    // the link is not open. Never waits.
    qint64 write(const QByteArray &data);
    // Data bytes queued and not yet handed to the system.
    qint64 bytesToWrite() const { return m_unsentData; }

    // New settings for the far port; sent at once while open over RFC 2217.
    void setLineParameters(const LineParameters &line);
    LineParameters lineParameters() const { return m_line; }
    void setDtr(bool on);
    void setRts(bool on);

    // The far port's input lines, as the server last reported them; false over a plain socket
    // and while closed.
    bool cd() const;
    bool cts() const;
    bool dsr() const;

Q_SIGNALS:
    void opened();
    void failed(const QString &cause);
    void lost(const QString &cause);
    void received(const QByteArray &data);
    void bytesWritten(qint64 dataBytes);
    void modemLinesChanged();

private:
    enum class State { Closed, Connecting, Negotiating, Open };

    // Bytes handed to the socket, so that what it reports written can be told back in data
    // bytes: a telnet command carries none, escaped data fewer than it takes on the wire.
    struct Segment
    {
        qint64 wire = 0;
        qint64 data = 0;
        QByteArray escaped; // kept only when escaping made the segment longer
        qint64 wireDone = 0;
        bool halfIac = false;
    };

    // Line settings the server has yet to confirm after they were sent at open.
    enum Awaiting {
        AwaitBaud = 1,
        AwaitDataSize = 2,
        AwaitParity = 4,
        AwaitStopSize = 8,
        AwaitFlow = 16,
    };

    void onConnected();
    void onReadyRead();
    void onBytesWritten(qint64 wireBytes);
    void onErrorOccurred();
    void onDisconnected();
    void onOpenTimeout();

    void takeTelnet(const QByteArray &bytes);
    void handleComPort(const QByteArray &payload);
    // Notes the server's answer to one awaited setting; refusal is empty when it agrees.
    void confirm(int setting, const QString &refusal);
    void finishOpening();

    void sendCommand(const QByteArray &bytes);
    void sendComPort(quint8 command, QByteArrayView payload);
    void sendLineSettings();
    void sendDtr();
    void sendRts();

    QString socketCause() const;
    QString closedWhileOpeningCause() const;
    void fail(const QString &cause);
    void lose(const QString &cause);
    void dropSocket(bool drain);

    QTcpSocket *m_socket = nullptr;
    State m_state = State::Closed;
    NetworkAddress m_address;
    LineParameters m_line;
    int m_openTimeoutMs = DefaultOpenTimeoutMs;
    QTimer m_openTimer;
    // Counts opens and closes, so that a handler that closes the link while a signal is out is
    // noticed when the signal returns.
    quint64 m_session = 0;
    // Set while open() runs, when a failure must wait for the event loop.
    bool m_inOpen = false;

    TelnetCodec m_codec;
    bool m_settingsSent = false;
    // The line settings last sent, which the server's answers are checked against.
    LineParameters m_asked;
    bool m_lineChangedWhileOpening = false;
    int m_awaiting = 0;
    QString m_refused;
    // Data that came while the link was still being set up, delivered after opened().
    QByteArray m_early;
    quint8 m_modemState = 0;

    std::deque<Segment> m_segments;
    qint64 m_unsentData = 0;
};
