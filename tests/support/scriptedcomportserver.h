#pragma once

#include "port/telnetcodec.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTcpServer>

#include <memory>

class QTcpSocket;

// An RFC 2217 server played by the test, for what ser2net in front of a pseudo-terminal cannot
// show: the far end's modem lines (a pseudo-terminal has none) and a refused setting (it takes
// any speed). It answers each COM-PORT command with the same value, except the speed when one
// is given, and keeps everything the client sent.
class ScriptedComPortServer : public QObject
{
public:
    explicit ScriptedComPortServer(quint32 answeredSpeed = 0);
    // A server that only talks: from the connection on, this unit over and over and nothing
    // else (a plain TCP log server reached by mistake).
    static std::unique_ptr<ScriptedComPortServer> streaming(const QByteArray &unit);

    bool isListening() const { return m_server.isListening(); }
    QString url() const;
    bool hasClient() const { return m_client != nullptr; }
    // Answers wait until released, to act while the client waits for them.
    void holdAnswers() { m_holding = true; }
    void releaseAnswers();
    // NOTIFY-MODEMSTATE with these bits (0x80 CD, 0x20 DSR, 0x10 CTS, low nibble their changes).
    void sendModemState(quint8 state);
    void sendData(const QByteArray &data);
    // Sends this unit over and over, as fast as the client takes it, until stopPumping().
    void pump(const QByteArray &unit);
    void stopPumping() { m_pumped.clear(); }
    // Stops reading, so that the client's data fills the buffers and the window closes, as a
    // held line behind the server does; the server's TCP still answers the probes.
    void holdWindow();
    void releaseWindow();
    bool clientGone() const { return m_gone; }
    qint64 heardBytes() const { return m_heardBytes; }

    QByteArray heard;

private:
    void onReadyRead();
    void topUp();

    QTcpServer m_server;
    QTcpSocket *m_client = nullptr;
    TelnetCodec m_codec;
    quint32 m_answeredSpeed;
    bool m_holding = false;
    QByteArray m_held;
    QByteArray m_pumped;
    bool m_greet = true;
    bool m_reading = true;
    bool m_gone = false;
    qint64 m_heardBytes = 0;
};
