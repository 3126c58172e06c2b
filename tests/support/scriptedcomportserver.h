#pragma once

#include "port/telnetcodec.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTcpServer>

class QTcpSocket;

// An RFC 2217 server played by the test, for what ser2net in front of a pseudo-terminal cannot
// show: the far end's modem lines (a pseudo-terminal has none) and a refused setting (it takes
// any speed). It answers each COM-PORT command with the same value, except the speed when one
// is given, and keeps everything the client sent.
class ScriptedComPortServer : public QObject
{
public:
    explicit ScriptedComPortServer(quint32 answeredSpeed = 0);

    bool isListening() const { return m_server.isListening(); }
    QString url() const;
    bool hasClient() const { return m_client != nullptr; }
    // Answers wait until released, to act while the client waits for them.
    void holdAnswers() { m_holding = true; }
    void releaseAnswers();
    // NOTIFY-MODEMSTATE with these bits (0x80 CD, 0x20 DSR, 0x10 CTS, low nibble their changes).
    void sendModemState(quint8 state);
    void sendData(const QByteArray &data);

    QByteArray heard;

private:
    void onReadyRead();

    QTcpServer m_server;
    QTcpSocket *m_client = nullptr;
    TelnetCodec m_codec;
    quint32 m_answeredSpeed;
    bool m_holding = false;
    QByteArray m_held;
};
