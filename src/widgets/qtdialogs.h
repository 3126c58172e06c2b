#pragma once

#include "core/dialogs.h"

#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>

class QAbstractFileIconProvider;
class QCoreApplication;
class QWidget;

// The desktop's message boxes, prompts and file dialogs, parented to the main window.
class QtDialogs : public Dialogs
{
public:
    explicit QtDialogs(QWidget *parent);
    ~QtDialogs() override;

    Answer message(const QString &text, Style style, const QString &title = QString()) override;
    QString inputBox(const QString &prompt, const QString &defaultAnswer = QString()) override;
    std::optional<QString> openFile(const QString &filter) override;
    std::optional<QString> saveFile(const QString &filter) override;
    std::optional<QString> chooseFolder() override;

    // "description|pattern[|description|pattern...]" in Qt's "description (patterns)" form;
    // patterns separated by ';' become blank-separated, "*.*" means every file, and each
    // pattern is offered in both letter cases because the file systems here are case-sensitive.
    static QStringList qtNameFilters(const QString &filter);
    // The suffix a save dialog appends to a bare name: "RTF" for "*.RTF", none for wildcards.
    static QString defaultSuffix(const QString &filter);
    // Makes Qt's own texts (standard buttons, the file dialog with its dates and file types)
    // Chinese like the rest of the interface, whatever the desktop's language. False when
    // Qt's translations are missing.
    static bool installQtTranslations(QCoreApplication &app);

private:
    enum class Mode { Open, Save, Folder };
    std::optional<QString> runFileDialog(const QString &filter, Mode mode);

    QPointer<QWidget> m_parent;
    // Outlives every file dialog, whose folder reader uses it from its own thread.
    std::unique_ptr<QAbstractFileIconProvider> m_fileIcons;
    // Offered again by the next file dialog, with its folder.
    QString m_lastFile;
    QString m_lastFolder;
};
