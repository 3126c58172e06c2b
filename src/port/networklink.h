#pragma once

#include "port/networkaddress.h"
#include "port/rfc2217session.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>
#include <optional>

class QTcpSocket;

// A serial line reached over the network, through an RFC 2217 server (telnet COM-PORT-OPTION:
// line settings and modem lines travel with the data, see Rfc2217Session) or a plain TCP socket.
// The link owns the socket: nothing waits, open answers with opened() or failed(), an open link
// that drops says lost(), and arrivals are announced with readyRead() and taken with
// takeArrived(), as from a local device. Every message names the address.
class NetworkLink : public QObject
{
    Q_OBJECT

public:
    using Parity = Rfc2217Session::Parity;
    using StopBits = Rfc2217Session::StopBits;
    using LineParameters = Rfc2217Session::LineParameters;

    // How long connecting, and for RFC 2217 the negotiation, may take in all.
    static constexpr int DefaultOpenTimeoutMs = 10000;
    // How long a server may leave data unacknowledged, or probes of its closed window
    // unanswered, before the connection counts as lost.
    static constexpr int DefaultLossTimeoutMs = 30000;

    explicit NetworkLink(QObject *parent = nullptr);
    ~NetworkLink() override;

    // Starts connecting; the answer is opened() or failed(), never emitted from inside this
    // call. The link must be closed or lost.
    void open(const NetworkAddress &address, const LineParameters &line);
    // Closes at once, or stops an open under way, without any signal. Data still queued goes
    // out while the server takes it, for at most a second, after the link is closed.
    void close();
    bool isOpen() const { return m_state == State::Open; }
    bool isOpening() const { return m_state == State::Connecting || m_state == State::Negotiating; }
    NetworkAddress address() const { return m_address; }
    void setOpenTimeout(int milliseconds) { m_openTimeoutMs = milliseconds; }
    void setLossTimeout(int milliseconds) { m_lossTimeoutMs = milliseconds; }

    // Queues the bytes (0xFF doubled in RFC 2217 mode) and returns their number, or -1 when
    // the link is not open or the system refused them (the loss follows). Never waits.
    qint64 write(const QByteArray &data);
    // Data bytes queued and not yet handed to the system.
    qint64 bytesToWrite() const { return m_unsentData; }
    // The device's bytes that arrived since the last call, also after lost() until close().
    QByteArray takeArrived();
    // How long the server has kept its window closed on data waiting to go; 0 while it takes.
    qint64 heldForMs() const { return m_heldSince.isValid() ? m_heldSince.elapsed() : 0; }

    // New settings for the far port; sent at once while open over RFC 2217.
    void setLineParameters(const LineParameters &line);
    LineParameters lineParameters() const { return m_line; }
    void setDtr(bool on);
    void setRts(bool on);

    // The far port's input lines, as the server last reported them; false over a plain socket
    // and while closed.
    // A plain socket has no way to ask the far port for a break.
    bool carriesBreak() const { return m_protocol.has_value(); }
    void setBreak(bool on);
    bool cd() const { return isOpen() && m_protocol && m_protocol->cd(); }
    bool cts() const { return isOpen() && m_protocol && m_protocol->cts(); }
    bool dsr() const { return isOpen() && m_protocol && m_protocol->dsr(); }

Q_SIGNALS:
    void opened();
    void failed(const QString &cause);
    void lost(const QString &cause);
    void readyRead();
    void bytesWritten(qint64 dataBytes);
    // At most once per arrival, however many notices the arrival held.
    void modemLinesChanged();
    // Something the user should know about an open link that stays open.
    void notice(const QString &text);

private:
    // Lost: the server went away, and what it sent before can still be taken.
    enum class State { Closed, Connecting, Negotiating, Open, Lost };

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

    void onConnected();
    void onReadyRead();
    void onBytesWritten(qint64 wireBytes);
    void onErrorOccurred();
    void onDisconnected();
    void onOpenTimeout();
    void checkHeld();

    // Passes server bytes through the session and acts on what it found; the device's data
    // is returned.
    QByteArray take(const QByteArray &bytes);
    bool sendCommand(const QByteArray &bytes);
    bool writeToSocket(const QByteArray &bytes);
    void setUserTimeout(int milliseconds);

    QString socketCause() const;
    void fail(const QString &cause);
    void lose(const QString &cause);
    void dropSocket(bool drain);

    QTcpSocket *m_socket = nullptr;
    State m_state = State::Closed;
    NetworkAddress m_address;
    LineParameters m_line;
    int m_openTimeoutMs = DefaultOpenTimeoutMs;
    int m_lossTimeoutMs = DefaultLossTimeoutMs;
    QTimer m_openTimer;
    // Counts opens and closes, so that a handler that closes the link while a signal is out is
    // noticed when the signal returns.
    quint64 m_session = 0;

    std::optional<Rfc2217Session> m_protocol;
    // Device bytes the negotiation let through, not yet taken.
    QByteArray m_early;

    std::deque<Segment> m_segments;
    qint64 m_unsentData = 0;

    // While data waits, the window the server offers is watched: a closed window whose probes
    // are answered is a held line, not a loss.
    QTimer m_heldTimer;
    QElapsedTimer m_heldSince;
    QElapsedTimer m_unansweredSince;
    int m_userTimeoutMs = -1;
};
