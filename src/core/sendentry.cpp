#include "core/sendentry.h"

#include "core/hexinput.h"
#include "core/lineconvert.h"
#include "core/messages.h"

using namespace Qt::StringLiterals;

namespace {

QByteArray endingBytes(SendEntry::Ending ending)
{
    switch (ending) {
    case SendEntry::Ending::None:
        return {};
    case SendEntry::Ending::Cr:
        return "\r"_ba;
    case SendEntry::Ending::Lf:
        return "\n"_ba;
    case SendEntry::Ending::CrLf:
        return "\r\n"_ba;
    }
    Q_UNREACHABLE();
    return {};
}

} // namespace

EntryFrame entryFrame(const SendEntry &entry, TextEncoding encoding)
{
    EntryFrame frame;
    QByteArray data;
    if (entry.format == SendEntry::Format::Hex) {
        const HexInput input = parseHexInput(entry.content);
        if (!input.ok()) {
            frame.error = input.error;
            return frame;
        }
        data = input.bytes;
    } else {
        // As a typed line: the escapes and the line's encoding, without the typed line's CR,
        // since the entry's own ending takes its place.
        const ConvertedLine line = convertLine(entry.content, false, encoding);
        data = line.bytes;
        frame.count = line.count;
    }
    const QByteArray check = entry.checksum == ChecksumKind::None
                                     ? QByteArray()
                                     : checksumBytes(entry.checksum, data);
    const QByteArray ending = endingBytes(entry.ending);
    frame.bytes = data + check + ending;
    if (frame.bytes.isEmpty()) {
        frame.error = Messages::panelEntryEmpty();
        return frame;
    }
    if (entry.format == SendEntry::Format::Hex) {
        frame.count = int(frame.bytes.size());
        frame.shown = QString::fromLatin1(frame.bytes.toHex(' ').toUpper());
    } else {
        frame.count += int(check.size() + ending.size());
        frame.shown = entry.content;
    }
    return frame;
}

QString formatName(SendEntry::Format format)
{
    return format == SendEntry::Format::Hex ? u"hex"_s : u"text"_s;
}

std::optional<SendEntry::Format> formatFromName(QStringView name)
{
    if (name == u"text")
        return SendEntry::Format::Text;
    if (name == u"hex")
        return SendEntry::Format::Hex;
    return std::nullopt;
}

QString endingName(SendEntry::Ending ending)
{
    switch (ending) {
    case SendEntry::Ending::None:
        return u"none"_s;
    case SendEntry::Ending::Cr:
        return u"cr"_s;
    case SendEntry::Ending::Lf:
        return u"lf"_s;
    case SendEntry::Ending::CrLf:
        return u"crlf"_s;
    }
    Q_UNREACHABLE();
    return {};
}

std::optional<SendEntry::Ending> endingFromName(QStringView name)
{
    for (const SendEntry::Ending ending : AllEndings) {
        if (name == endingName(ending))
            return ending;
    }
    return std::nullopt;
}

QString endingLabel(SendEntry::Ending ending)
{
    switch (ending) {
    case SendEntry::Ending::None:
        return u"无"_s;
    case SendEntry::Ending::Cr:
        return u"CR"_s;
    case SendEntry::Ending::Lf:
        return u"LF"_s;
    case SendEntry::Ending::CrLf:
        return u"CR LF"_s;
    }
    Q_UNREACHABLE();
    return {};
}
