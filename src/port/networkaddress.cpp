#include "port/networkaddress.h"

#include <QFile>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype MaxHostLength = 253;

bool isHostName(QStringView host)
{
    if (host.isEmpty() || host.size() > MaxHostLength)
        return false;
    if (host.startsWith(u'.') || host.startsWith(u'-') || host.endsWith(u'-')
        || host.contains(u".."_s))
        return false;
    // Letters of any script, so that a name in Chinese reaches the resolver, which spells it
    // for DNS; nothing that could be taken for another part of an address.
    for (const QChar c : host) {
        if (!(c.isLetterOrNumber() || c == u'-' || c == u'.' || c == u'_'))
            return false;
    }
    return true;
}

bool isIpv6Literal(QStringView host)
{
    if (!host.contains(u':'))
        return false;
    for (const QChar c : host) {
        const bool hex
                = (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
        if (!hex && c != u':' && c != u'.')
            return false;
    }
    return true;
}

} // namespace

std::optional<NetworkAddress> NetworkAddress::parse(QStringView target)
{
    NetworkAddress address;
    QStringView rest;
    if (target.startsWith(u"rfc2217://"_s, Qt::CaseInsensitive)) {
        address.kind = Rfc2217;
        rest = target.mid(10);
    } else if (target.startsWith(u"socket://"_s, Qt::CaseInsensitive)) {
        address.kind = Socket;
        rest = target.mid(9);
    } else {
        return std::nullopt;
    }

    // Host: an IPv6 address in brackets, or a name or IPv4 address up to the last colon.
    QStringView portText;
    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        if (close < 0 || rest.mid(close + 1, 1) != u":"_s)
            return std::nullopt;
        const QStringView host = rest.mid(1, close - 1);
        if (!isIpv6Literal(host))
            return std::nullopt;
        address.host = host.toString();
        portText = rest.mid(close + 2);
    } else {
        const qsizetype colon = rest.indexOf(u':');
        if (colon < 0)
            return std::nullopt;
        const QStringView host = rest.first(colon);
        if (!isHostName(host))
            return std::nullopt;
        address.host = host.toString();
        portText = rest.mid(colon + 1);
    }

    // Port: 1 to 65535, digits only.
    if (portText.isEmpty() || portText.size() > 5)
        return std::nullopt;
    for (const QChar c : portText) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    const int port = portText.toInt();
    if (port < 1 || port > 65535)
        return std::nullopt;
    address.port = quint16(port);
    return address;
}

std::optional<NetworkAddress> NetworkAddress::fromLink(const QString &linkPath)
{
    constexpr qsizetype MaxTarget = 4096;
    QByteArray target(MaxTarget, Qt::Uninitialized);
    const ssize_t n = ::readlink(QFile::encodeName(linkPath).constData(), target.data(),
                                 size_t(target.size()));
    if (n <= 0 || n >= MaxTarget)
        return std::nullopt;
    target.truncate(n);
    return parse(QFile::decodeName(target));
}

QString NetworkAddress::toString() const
{
    const QString scheme = kind == Rfc2217 ? u"rfc2217://"_s : u"socket://"_s;
    const QString shownHost = host.contains(u':') ? u'[' + host + u']' : host;
    return scheme + shownHost + u':' + QString::number(port);
}
