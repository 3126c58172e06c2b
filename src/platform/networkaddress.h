#pragma once

#include <QString>
#include <QStringView>

#include <optional>

// Where a serial server listens, as the URL forms that pyserial made familiar name it:
// rfc2217://HOST:PORT for a telnet COM-PORT-OPTION server (line settings and modem lines travel
// with the data), socket://HOST:PORT for a plain TCP byte stream. HOST is a name, an IPv4
// address, or an IPv6 address in brackets.
struct NetworkAddress
{
    enum Kind { Rfc2217, Socket };

    Kind kind = Rfc2217;
    QString host;
    quint16 port = 0;

    // The address a target text names, or nothing when the text is not one of the two forms
    // (the scheme is read regardless of case; nothing may follow the port).
    static std::optional<NetworkAddress> parse(QStringView target);
    // The text parse() reads back to this address.
    QString toString() const;

    friend bool operator==(const NetworkAddress &, const NetworkAddress &) = default;
};
