#pragma once

#include "core/checksum.h"
#include "core/textencoding.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

// One stored command of the send panel, and what it becomes on the line.
//
// How the panel's pieces fit: SendEntry and entryFrame (here) say what an entry sends;
// sendpanelfile.h keeps lists of entries on disk and refuses a file it cannot trust; the
// commands' PanelSender writes a send into the terminal and the port, and SequenceSend runs the
// checked entries as a long job; the widgets' SendPanel edits the rows and asks for all of it.
struct SendEntry
{
    enum class Format { Text, Hex };
    enum class Ending { None, Cr, Lf, CrLf };

    QString name;
    QString content;
    Format format = Format::Text;
    Ending ending = Ending::None;
    ChecksumKind checksum = ChecksumKind::None;
    // The pause after this entry in a sequence.
    int delayMs = 0;
    // Whether a sequence sends it.
    bool checked = true;

    friend bool operator==(const SendEntry &, const SendEntry &) = default;
};

// The longest pause an entry may ask for, an hour; more is a typing slip.
inline constexpr int MaxEntryDelayMs = 3'600'000;

// What an entry puts on the line: the data, its checksum, then the line ending.
struct EntryFrame
{
    QByteArray bytes;
    // The count annotation's figure: typed characters and escapes of a text entry as a typed
    // line counts them, plus one per checksum and ending byte; every byte of a hex entry.
    int count = 0;
    // What the terminal shows of it: the text as typed, or the frame's codes.
    QString shown;
    // Why it cannot be sent, naming the position for a hex entry; empty when it can.
    QString error;

    bool ok() const { return error.isEmpty(); }
};

EntryFrame entryFrame(const SendEntry &entry, TextEncoding encoding = TextEncoding::Gbk);

// The names stored files use: "text"/"hex" and "none"/"cr"/"lf"/"crlf".
QString formatName(SendEntry::Format format);
std::optional<SendEntry::Format> formatFromName(QStringView name);
QString endingName(SendEntry::Ending ending);
std::optional<SendEntry::Ending> endingFromName(QStringView name);
// What the row's list shows: "无", "CR", "LF", "CR LF".
QString endingLabel(SendEntry::Ending ending);
inline constexpr SendEntry::Ending AllEndings[] = {SendEntry::Ending::None, SendEntry::Ending::Cr,
                                                   SendEntry::Ending::Lf, SendEntry::Ending::CrLf};
