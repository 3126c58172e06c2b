#include "port/networktransport.h"

#include "core/messages.h"

using namespace Qt::StringLiterals;

namespace {

NetworkLink::LineParameters withLine(NetworkLink::LineParameters params, const LineSettings &line)
{
    params.speed = quint32(line.speed);
    params.dataBits = int(line.dataBits);
    switch (line.parity) {
    case QSerialPort::EvenParity:
        params.parity = NetworkLink::Parity::Even;
        break;
    case QSerialPort::OddParity:
        params.parity = NetworkLink::Parity::Odd;
        break;
    case QSerialPort::MarkParity:
        params.parity = NetworkLink::Parity::Mark;
        break;
    case QSerialPort::SpaceParity:
        params.parity = NetworkLink::Parity::Space;
        break;
    default:
        params.parity = NetworkLink::Parity::None;
        break;
    }
    // One and a half stop bits are held as two with 5-bit words, which the server asks for
    // in the same way.
    params.stopBits = line.stopBits == QSerialPort::OneStop ? NetworkLink::StopBits::One
                                                            : NetworkLink::StopBits::Two;
    return params;
}

} // namespace

NetworkTransport::NetworkTransport(QObject *parent)
    : LineTransport(parent)
{
    connect(&m_link, &NetworkLink::readyRead, this, &LineTransport::readyRead);
    connect(&m_link, &NetworkLink::bytesWritten, this, &LineTransport::bytesWritten);
    connect(&m_link, &NetworkLink::opened, this, &LineTransport::opened);
    connect(&m_link, &NetworkLink::failed, this, &NetworkTransport::onFailed);
    connect(&m_link, &NetworkLink::lost, this, &NetworkTransport::onLost);
    connect(&m_link, &NetworkLink::modemLinesChanged, this, &LineTransport::modemLinesChanged);
    connect(&m_link, &NetworkLink::notice, this, &LineTransport::notice);
}

void NetworkTransport::open(int number, const QString &linkPath, const NetworkAddress &address,
                            const LineSetup &setup)
{
    m_name = u"COM"_s + QString::number(number);
    m_linkPath = linkPath;
    NetworkLink::LineParameters params = withLine({}, setup.line);
    params.handshaking = setup.handshaking;
    params.dtr = setup.dtr;
    params.rts = setup.rts;
    m_link.open(address, params);
}

void NetworkTransport::close()
{
    m_link.close();
}

QString NetworkTransport::target() const
{
    return isOpen() || isOpening() ? m_link.address().toString() : QString();
}

Result NetworkTransport::setBreak(bool on)
{
    if (!m_link.carriesBreak())
        return Result::failure(Messages::breakNotOnSocket(target()));
    m_link.setBreak(on);
    return Result::success();
}

Result NetworkTransport::setLineSettings(const LineSettings &line)
{
    // The server answers in its own time; a refusal is looked for only when opening, where
    // it can still be shown against the settings asked for.
    m_link.setLineParameters(withLine(m_link.lineParameters(), line));
    return Result::success();
}

Result NetworkTransport::setHandshaking(int code)
{
    NetworkLink::LineParameters params = m_link.lineParameters();
    params.handshaking = code;
    m_link.setLineParameters(params);
    return Result::success();
}

Result NetworkTransport::write(const QByteArray &bytes)
{
    if (m_link.write(bytes) != bytes.size())
        return Result::failure(Messages::sendFailed(m_name, Messages::networkLinkDown()));
    return Result::success();
}

void NetworkTransport::onFailed(const QString &cause)
{
    Q_EMIT failed(Messages::networkOpenFailed(m_name, m_linkPath, cause));
}

void NetworkTransport::onLost(const QString &cause)
{
    Q_EMIT lost(Messages::networkPortLost(m_name, cause));
}
