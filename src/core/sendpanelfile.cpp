#include "core/sendpanelfile.h"

#include "core/messages.h"
#include "core/regularfile.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStringDecoder>

using namespace Qt::StringLiterals;

namespace {

constexpr int FileVersion = 1;

using Entries = Expected<QList<SendEntry>>;

bool hasControlCharacter(const QString &text)
{
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            return true;
    }
    return false;
}

// One entry's object, or why it cannot be one.
Expected<SendEntry> readEntry(const QJsonValue &value)
{
    using Read = Expected<SendEntry>;
    if (!value.isObject())
        return Read::failure(Messages::panelFieldWrong(u"entries"_s));
    const QJsonObject o = value.toObject();
    SendEntry entry;

    const QJsonValue name = o.value(u"name"_s);
    if (!name.isUndefined() && !name.isString())
        return Read::failure(Messages::panelFieldWrong(u"name"_s));
    entry.name = name.toString();
    // A name is one line of a list; a break or control character in it is not a name.
    if (entry.name.size() > SendPanelFile::MaxNameChars || hasControlCharacter(entry.name))
        return Read::failure(Messages::panelFieldWrong(u"name"_s));

    const QJsonValue content = o.value(u"content"_s);
    if (!content.isString() || content.toString().size() > SendPanelFile::MaxContentChars)
        return Read::failure(Messages::panelFieldWrong(u"content"_s));
    entry.content = content.toString();

    const auto format = formatFromName(o.value(u"format"_s).toString(u"text"_s));
    if (!format)
        return Read::failure(Messages::panelFieldWrong(u"format"_s));
    entry.format = *format;
    const auto ending = endingFromName(o.value(u"ending"_s).toString(u"none"_s));
    if (!ending)
        return Read::failure(Messages::panelFieldWrong(u"ending"_s));
    entry.ending = *ending;
    const auto checksum = checksumFromName(o.value(u"checksum"_s).toString(u"none"_s));
    if (!checksum)
        return Read::failure(Messages::panelFieldWrong(u"checksum"_s));
    entry.checksum = *checksum;

    const QJsonValue delay = o.value(u"delay"_s);
    if (!delay.isUndefined()) {
        const double ms = delay.toDouble(-1);
        if (!delay.isDouble() || ms < 0 || ms > MaxEntryDelayMs || ms != double(int(ms)))
            return Read::failure(Messages::panelFieldWrong(u"delay"_s));
        entry.delayMs = int(ms);
    }
    const QJsonValue checked = o.value(u"checked"_s);
    if (!checked.isUndefined() && !checked.isBool())
        return Read::failure(Messages::panelFieldWrong(u"checked"_s));
    entry.checked = checked.toBool(true);
    return entry;
}

} // namespace

namespace SendPanelFile {

QByteArray toJson(const QList<SendEntry> &entries)
{
    QJsonArray list;
    for (const SendEntry &e : entries) {
        list.append(QJsonObject{
                {u"name"_s, e.name},
                {u"content"_s, e.content},
                {u"format"_s, formatName(e.format)},
                {u"ending"_s, endingName(e.ending)},
                {u"checksum"_s, checksumName(e.checksum)},
                {u"delay"_s, e.delayMs},
                {u"checked"_s, e.checked},
        });
    }
    const QJsonObject root{{u"version"_s, FileVersion}, {u"entries"_s, list}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

Expected<QList<SendEntry>> fromJson(QByteArrayView bytes)
{
    if (bytes.size() > MaxFileBytes)
        return Entries::failure(Messages::panelFileTooLarge(bytes.size(), MaxFileBytes));
    // The parser would take some broken sequences for replacement characters; a file that is
    // not UTF-8 was written by something else and is refused outright.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    if (utf8.hasError())
        return Entries::failure(Messages::panelFileNotUtf8());

    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError)
        return Entries::failure(Messages::panelFileNotJson(error.offset, error.errorString()));
    if (!doc.isObject())
        return Entries::failure(Messages::panelFieldWrong(u"version"_s));
    const QJsonObject root = doc.object();
    const QJsonValue version = root.value(u"version"_s);
    if (!version.isDouble() || version.toDouble() != FileVersion)
        return Entries::failure(Messages::panelFileVersion(version.toVariant().toString()));
    const QJsonValue list = root.value(u"entries"_s);
    if (!list.isArray())
        return Entries::failure(Messages::panelFieldWrong(u"entries"_s));
    const QJsonArray array = list.toArray();
    if (array.size() > MaxEntries)
        return Entries::failure(Messages::panelTooManyEntries(array.size(), MaxEntries));

    QList<SendEntry> entries;
    entries.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        const Expected<SendEntry> entry = readEntry(array.at(i));
        if (!entry)
            return Entries::failure(Messages::panelEntryRefused(i + 1, entry.message()));
        entries.append(*entry);
    }
    return entries;
}

Expected<QList<SendEntry>> load(const QString &path)
{
    const QString shown = QFileInfo(path).absoluteFilePath();
    auto file = openRegularFile(path);
    if (!file)
        return Entries::failure(file.message());
    if (const qint64 size = (*file)->size(); size > MaxFileBytes) {
        return Entries::failure(
                Messages::panelFileRefused(shown, Messages::panelFileTooLarge(size, MaxFileBytes)));
    }
    // One byte past the cap tells a file that grew while it was read.
    const QByteArray bytes = (*file)->read(MaxFileBytes + 1);
    if ((*file)->error() != QFileDevice::NoError)
        return Entries::failure(Messages::panelFileRefused(shown, (*file)->errorString()));
    Expected<QList<SendEntry>> entries = fromJson(bytes);
    if (!entries)
        return Entries::failure(Messages::panelFileRefused(shown, entries.message()));
    return entries;
}

Result save(const QString &path, const QList<SendEntry> &entries)
{
    const QString shown = QFileInfo(path).absoluteFilePath();
    // Writing would replace a FIFO or a device node with a file, or block on it.
    if (isSpecialFile(path))
        return Result::failure(
                Messages::panelFileSaveFailed(shown, Messages::notARegularFile(shown)));
    const QByteArray bytes = toJson(entries);
    if (bytes.size() > MaxFileBytes) {
        return Result::failure(Messages::panelFileSaveFailed(
                shown, Messages::panelFileTooLarge(bytes.size(), MaxFileBytes)));
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return Result::failure(Messages::panelFileSaveFailed(shown, file.errorString()));
    if (file.write(bytes) != bytes.size() || !file.commit())
        return Result::failure(Messages::panelFileSaveFailed(shown, file.errorString()));
    return Result::success();
}

QString panelPath(const QString &settingsPath)
{
    const QFileInfo info(settingsPath);
    return info.dir().filePath(info.completeBaseName() + u".panel.json"_s);
}

QString historyPath(const QString &settingsPath)
{
    const QFileInfo info(settingsPath);
    return info.dir().filePath(info.completeBaseName() + u".history.json"_s);
}

} // namespace SendPanelFile
