#pragma once

#include "port/linetransport.h"
#include "port/networklink.h"

// A serial line behind a serial server, for a port whose link names rfc2217:// or socket://:
// the port's settings and lines go to the far port over the network link, and its answers
// and losses are worded for the port.
class NetworkTransport : public LineTransport
{
    Q_OBJECT

public:
    explicit NetworkTransport(QObject *parent = nullptr);

    // Starts connecting; the answer is opened() or failed(), never from inside this call.
    void open(int number, const QString &linkPath, const NetworkAddress &address,
              const LineSetup &setup);

    void close() override;
    bool isOpen() const override { return m_link.isOpen(); }
    bool isOpening() const override { return m_link.isOpening(); }
    QString target() const override;

    Result setLineSettings(const LineSettings &line) override;
    Result setHandshaking(int code) override;
    void setDtr(bool on) override { m_link.setDtr(on); }
    void setRts(bool on) override { m_link.setRts(on); }
    bool cd() const override { return m_link.cd(); }
    bool cts() const override { return m_link.cts(); }
    bool dsr() const override { return m_link.dsr(); }

    Result write(const QByteArray &bytes) override;
    qint64 bytesToWrite() const override { return m_link.bytesToWrite(); }
    Result setBreak(bool on) override;
    QByteArray takeArrived() override { return m_link.takeArrived(); }

private:
    void onFailed(const QString &cause);
    void onLost(const QString &cause);

    NetworkLink m_link;
    QString m_name;
    QString m_linkPath;
};
