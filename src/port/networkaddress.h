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
    // The address a symbolic link's own text names (a link may point at any text, and
    // ln -s rfc2217://lab-7:3001 COM5 is how a user says it), or nothing for a link to a
    // device, a file that is not a link, or no file at all. Read with readlink(2): QFileInfo
    // would turn the text into an absolute path and fold its "//".
    static std::optional<NetworkAddress> fromLink(const QString &linkPath);
    // The text parse() reads back to this address.
    QString toString() const;

    friend bool operator==(const NetworkAddress &, const NetworkAddress &) = default;
};
