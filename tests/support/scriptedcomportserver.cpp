#include "scriptedcomportserver.h"

#include "support/qtprinters.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QtEndian>

using namespace Qt::StringLiterals;

ScriptedComPortServer::ScriptedComPortServer(quint32 answeredSpeed)
    : m_answeredSpeed(answeredSpeed)
{
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        m_client = m_server.nextPendingConnection();
        connect(m_client, &QTcpSocket::readyRead, this, &ScriptedComPortServer::onReadyRead);
        connect(m_client, &QTcpSocket::bytesWritten, this, &ScriptedComPortServer::topUp);
        connect(m_client, &QTcpSocket::disconnected, this, [this] { m_gone = true; });
        // Options the client has no use for, before anything else.
        if (m_greet)
            m_client->write(bytes({255, 251, 1, 255, 253, 24, 255, 253, 44}));
        topUp();
    });
}

QString ScriptedComPortServer::url() const
{
    return u"rfc2217://127.0.0.1:%1"_s.arg(m_server.serverPort());
}

void ScriptedComPortServer::releaseAnswers()
{
    m_holding = false;
    m_client->write(std::exchange(m_held, QByteArray()));
}

void ScriptedComPortServer::sendModemState(quint8 state)
{
    m_client->write(TelnetCodec::subnegotiation(TelnetCodec::OptionComPort, bytes({107, state})));
}

void ScriptedComPortServer::sendData(const QByteArray &data)
{
    m_client->write(TelnetCodec::escape(data));
}

std::unique_ptr<ScriptedComPortServer> ScriptedComPortServer::streaming(const QByteArray &unit)
{
    auto server = std::make_unique<ScriptedComPortServer>();
    server->m_greet = false;
    server->m_pumped = unit;
    return server;
}

void ScriptedComPortServer::pump(const QByteArray &unit)
{
    m_pumped = unit;
    topUp();
}

void ScriptedComPortServer::topUp()
{
    if (!m_client || m_pumped.isEmpty())
        return;
    // Keeps a little queued, so that the stream runs as fast as the client takes it.
    while (m_client->bytesToWrite() < 256 * 1024)
        m_client->write(m_pumped.repeated(qMax<qsizetype>(1, 16 * 1024 / m_pumped.size())));
}

void ScriptedComPortServer::holdWindow()
{
    m_reading = false;
    m_client->setReadBufferSize(1);
}

void ScriptedComPortServer::releaseWindow()
{
    m_reading = true;
    m_client->setReadBufferSize(0);
    onReadyRead();
}

void ScriptedComPortServer::onReadyRead()
{
    if (!m_reading)
        return;
    const QByteArray incoming = m_client->readAll();
    m_heardBytes += incoming.size();
    // A flood of data is counted, not kept.
    if (heard.size() < 64 * 1024)
        heard += incoming;
    TelnetCodec::Decoded decoded;
    m_codec.decode(incoming, decoded);
    for (const TelnetCodec::Subnegotiation &sub : std::as_const(decoded.subnegotiations)) {
        if (sub.option != TelnetCodec::OptionComPort || sub.payload.isEmpty())
            continue;
        QByteArray answer = sub.payload;
        answer[0] = char(quint8(answer[0]) + 100);
        if (sub.payload[0] == 1 && m_answeredSpeed != 0) {
            answer.resize(5);
            qToBigEndian(m_answeredSpeed, answer.data() + 1);
        }
        if (m_holding)
            m_held += TelnetCodec::subnegotiation(TelnetCodec::OptionComPort, answer);
        else
            m_client->write(TelnetCodec::subnegotiation(TelnetCodec::OptionComPort, answer));
    }
}
