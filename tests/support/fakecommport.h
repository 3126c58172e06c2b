#pragma once

#include "core/commport.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

// A serial port whose lines, state and incoming bytes the test sets, recording what the
// program writes and configures. Like the real one, it says when what the strip shows changed.
class FakeCommPort : public CommPort
{
    Q_OBJECT

public:
    using CommPort::CommPort;

    Result setCommPort(int number) override;
    int commPort() const override { return m_commPort; }
    Result setSettings(const QString &settings) override;
    QString settings() const override { return m_settings; }
    Result setHandshaking(int code) override;
    int handshaking() const override { return m_handshaking; }

    Result setPortOpen(bool open) override;
    bool portOpen() const override { return m_open; }
    bool portOpening() const override { return false; }

    void setDtrEnable(bool on) override;
    bool dtrEnable() const override { return m_dtr; }
    void setRtsEnable(bool on) override;
    bool rtsEnable() const override { return m_rts; }
    bool cdHolding() const override { return m_cd; }
    bool ctsHolding() const override { return m_cts; }
    bool dsrHolding() const override { return m_dsr; }

    Result output(const QByteArray &bytes) override;
    qint64 bytesToWrite() const override { return 0; }

    // The peer's side: input lines, incoming bytes, loss of the device.
    void setCd(bool on);
    void setCts(bool on);
    void setDsr(bool on);
    // Hands bytes on as received, at once.
    void inject(const QByteArray &bytes);
    // Closes the port as a vanished device would and reports it.
    void loseDevice(const QString &message);

    // The next call of the named setter fails with this message, leaving the state alone.
    // Names: "setCommPort", "setSettings", "setHandshaking", "setPortOpen", "output".
    void failNext(const QString &setter, const QString &message);

    // Everything output() accepted, joined, and each call's bytes.
    QByteArray written() const { return m_written; }
    const QList<QByteArray> &writes() const { return m_writes; }
    void clearWritten();
    // Every configuring call in order, e.g. "setSettings 9600,N,8,1", "setPortOpen 1",
    // "setDtrEnable 0"; failed calls end in " failed".
    const QStringList &log() const { return m_log; }

private:
    // The scripted failure for this setter, if one is waiting; it is used up.
    std::optional<QString> takeFailure(const QString &setter);
    Result logged(const QString &entry, const QString &setter);

    int m_commPort = 1;
    QString m_settings = QStringLiteral("9600,N,8,1");
    int m_handshaking = 0;
    bool m_open = false;
    bool m_dtr = false;
    bool m_rts = false;
    bool m_cd = false;
    bool m_cts = false;
    bool m_dsr = false;
    QByteArray m_written;
    QList<QByteArray> m_writes;
    QStringList m_log;
    QList<std::pair<QString, QString>> m_failures;
};
