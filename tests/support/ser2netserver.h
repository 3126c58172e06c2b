#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// The real serial server, ser2net, on the loopback in front of one device (a pseudo-terminal
// in the tests), with a configuration written here and a port the system chose as free. It is
// stopped when this object goes, and dies with the test process if that dies first.
class Ser2NetServer
{
public:
    // How clients reach the device: RFC 2217, telnet without COM-PORT-OPTION, or raw TCP.
    enum class Accepter { Rfc2217, Telnet, Tcp };

    // The ser2net program, or empty when it is not installed.
    static QString program();

    // connector: the line settings and options after the device in ser2net's connector,
    // such as "9600n81,local".
    Ser2NetServer(const QString &device, Accepter accepter,
                  const QString &connector = QStringLiteral("9600n81,local"));
    ~Ser2NetServer();
    Ser2NetServer(const Ser2NetServer &) = delete;
    Ser2NetServer &operator=(const Ser2NetServer &) = delete;

    // Connection options for the configuration's options block, such as
    // "dev-to-net-bufsize: 4096"; set before start().
    void setOptions(const QStringList &options) { m_options = options; }

    // Starts the server and waits, with events running, until it listens (ten seconds at most).
    // Started again after stop(), it listens on the same port. False, with error(), if it
    // does not come up.
    bool start();
    // Ends the server (and with it every connection it holds).
    void stop();
    bool isRunning() const;

    quint16 port() const { return m_port; }
    qint64 processId() const { return m_process ? m_process->processId() : 0; }
    // rfc2217://127.0.0.1:PORT, or socket://... for raw TCP.
    QString url() const;
    QString error() const { return m_error; }

private:
    bool startOnce();
    bool isListening() const;
    QString log() const;

    QString m_device;
    Accepter m_accepter;
    QString m_connector;
    QStringList m_options;
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    bool m_portChosenHere = false;
    QString m_error;
};
