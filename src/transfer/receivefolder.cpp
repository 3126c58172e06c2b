#include "transfer/receivefolder.h"

#include "receive/linetext.h"
#include "core/messages.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace {

// What a name may take on disk (a file system's 255 bytes), less room for the part's suffix and a
// number that keeps an existing file.
constexpr qsizetype MaxNameBytes = 255 - 10 - 8;

qsizetype diskBytes(const QString &name)
{
    return QFile::encodeName(name).size();
}

// A name too long for the file system keeps its start and its extension, with "…" where the
// middle went: the file is received all the same, and the user is shown what it is called.
QString fitted(const QString &name)
{
    if (diskBytes(name) <= MaxNameBytes)
        return name;
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString ext = dot > 0 && name.size() - dot <= 16 ? name.mid(dot) : QString();
    QString stem = name.left(name.size() - ext.size());
    const QString mark = u"…"_s;
    while (!stem.isEmpty() && diskBytes(stem + mark + ext) > MaxNameBytes) {
        stem.chop(1);
        if (!stem.isEmpty() && stem.back().isHighSurrogate())
            stem.chop(1);
    }
    return stem + mark + ext;
}

bool taken(const QString &path)
{
    // A dangling symbolic link does not "exist", but opening its name would follow it.
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

QString numbered(const QString &name, int n)
{
    // ".profile" has no stem before its dot: the number goes at the end.
    const qsizetype dot = name.indexOf(u'.', 1);
    const QString stem = dot < 0 ? name : name.left(dot);
    const QString ext = dot < 0 ? QString() : name.mid(dot);
    return u"%1 (%2)%3"_s.arg(stem).arg(n).arg(ext);
}

} // namespace

ReceiveFolder::ReceiveFolder(const QString &folder, TextEncoding encoding)
    : m_folder(folder)
    , m_encoding(encoding)
{}

ReceiveFolder::~ReceiveFolder()
{
    if (m_part.isOpen())
        abandon();
}

QString ReceiveFolder::safeName(const QByteArray &senderName, TextEncoding encoding)
{
    QString name = lineText(senderName, encoding);
    // Senders from either world: both kinds of separator end a folder's name.
    const qsizetype slash = qMax(name.lastIndexOf(u'/'), name.lastIndexOf(u'\\'));
    name = name.mid(slash + 1);
    name.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    name = name.trimmed();
    if (name.isEmpty() || name == u"."_s || name == u".."_s)
        return {};
    return fitted(name);
}

QString ReceiveFolder::path(const QString &name) const
{
    return QDir(m_folder).filePath(name);
}

QString ReceiveFolder::freeName(const QString &name) const
{
    for (int n = 0;; ++n) {
        const QString candidate = n == 0 ? name : numbered(name, n);
        if (!taken(path(candidate)) && !taken(path(candidate + partSuffix())))
            return candidate;
    }
}

Result ReceiveFolder::begin(const QByteArray &name, qint64)
{
    if (m_part.isOpen())
        abandon();
    const QString safe = safeName(name, m_encoding);
    if (safe.isEmpty())
        return Result::failure(Messages::transferNameRefused(lineText(name, m_encoding)));
    m_name = freeName(safe);
    m_part.setFileName(path(m_name + partSuffix()));
    // NewOnly: should a file appear under that name meanwhile, it is not ours to write over.
    if (!m_part.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return Result::failure(
                Messages::transferWriteFailed(m_part.fileName(), m_part.errorString()));
    return Result::success();
}

Expected<qint64> ReceiveFolder::resume(const QByteArray &name, qint64 size)
{
    const QString safe = safeName(name, m_encoding);
    QString part;
    QString partName;
    for (int n = 0; !safe.isEmpty() && n < 1000; ++n) {
        const QString candidate = n == 0 ? safe : numbered(safe, n);
        const QString candidatePart = path(candidate + partSuffix());
        if (taken(candidatePart)) {
            part = candidatePart;
            partName = candidate;
        } else if (!taken(path(candidate))) {
            break;
        }
    }
    const QFileInfo info(part);
    // A link or anything but a plain file is not ours to append to; a part as long as the file
    // or longer is not this file's.
    if (part.isEmpty() || info.isSymLink() || !info.isFile() || size <= 0 || info.size() >= size
        || info.size() == 0) {
        const Result begun = begin(name, size);
        if (!begun)
            return Expected<qint64>::failure(begun.message());
        return qint64(0);
    }
    if (m_part.isOpen())
        abandon();
    m_name = partName;
    m_part.setFileName(part);
    if (!m_part.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::ExistingOnly))
        return Expected<qint64>::failure(
                Messages::transferWriteFailed(m_part.fileName(), m_part.errorString()));
    return m_part.size();
}

Result ReceiveFolder::write(QByteArrayView data)
{
    if (m_part.write(data.data(), data.size()) != data.size())
        return Result::failure(
                Messages::transferWriteFailed(m_part.fileName(), m_part.errorString()));
    return Result::success();
}

Expected<QString> ReceiveFolder::complete()
{
    if (!m_part.flush()) {
        const QString why = m_part.errorString();
        abandon();
        return Expected<QString>::failure(Messages::transferWriteFailed(m_part.fileName(), why));
    }
    m_part.close();
    // rename() never replaces a file; one that appeared meanwhile moves ours to the next name.
    QFile part(m_part.fileName());
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (part.rename(path(m_name)))
            return path(m_name);
        if (!taken(m_part.fileName()))
            break;
        m_name = freeName(m_name);
    }
    return Expected<QString>::failure(
            Messages::transferWriteFailed(path(m_name), part.errorString()));
}

QString ReceiveFolder::abandon()
{
    if (!m_part.isOpen())
        return {};
    m_part.close();
    return m_part.fileName();
}
