#pragma once

#include "core/textencoding.h"

#include "transfer/ymodemreceiver.h"

#include <QFile>
#include <QString>

// Received files in the folder the user chose, and nowhere else. The sender's name is only a
// suggestion, read in the line's encoding: its base name is kept, without control characters and
// shortened in the middle when the file system would refuse its length; nothing that names a folder
// (absolute paths, "..", separators) survives, and a name with nothing left is refused. An existing
// file is never overwritten: "name (1).ext", "name (2).ext"... A file is written under the name
// with partSuffix() and renamed when whole, so a broken transfer leaves a part that says so.
class ReceiveFolder : public ReceiveSink
{
public:
    // "未完成" is "unfinished": the part's name tells a reader of Chinese what it is.
    static QString partSuffix() { return QStringLiteral(".未完成"); }

    // Names arrive in the line's encoding, the one the terminal reads the line in.
    explicit ReceiveFolder(const QString &folder, TextEncoding encoding = TextEncoding::Gbk);
    ~ReceiveFolder() override;

    // The name the sender's name becomes, or empty when nothing usable is left.
    static QString safeName(const QByteArray &senderName,
                            TextEncoding encoding = TextEncoding::Gbk);

    Result begin(const QByteArray &name, qint64 size) override;
    // Takes up the part of the last attempt at this name ("name.未完成", or "name (2).未完成" when
    // "name" and "name (1)" are whole) when it is shorter than size.
    Expected<qint64> resume(const QByteArray &name, qint64 size) override;
    Result write(QByteArrayView data) override;
    Expected<QString> complete() override;
    QString abandon() override;

private:
    // The first of name, "stem (1).ext", ... that neither exists nor has a part in the folder.
    QString freeName(const QString &name) const;
    QString path(const QString &name) const;

    QString m_folder;
    TextEncoding m_encoding;
    QString m_name;
    QFile m_part;
};
