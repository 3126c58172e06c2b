#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Message boxes, prompts and file choice. Handlers receive this
// interface so that a test can answer as a person would.
class Dialogs
{
public:
    // What a message box shows: a plain note, a yes-or-no question, a warning or a notice,
    // the last two with their icon and an OK button.
    enum Style { Plain, YesNo, Warning, Information };
    // Closing a box without a button answers Cancel.
    enum Answer { Ok, Yes, No, Cancel };

    virtual ~Dialogs() = default;

    // An empty title means the application title.
    virtual Answer message(const QString &text, Style style, const QString &title = QString()) = 0;
    // The answer, or the empty text when cancelled.
    virtual QString inputBox(const QString &prompt, const QString &defaultAnswer = QString()) = 0;
    // filter is "description|pattern", e.g. "所有文件|*.*". nullopt when cancelled.
    virtual std::optional<QString> openFile(const QString &filter) = 0;
    virtual std::optional<QString> saveFile(const QString &filter) = 0;
    // One or more existing files; nullopt when cancelled. Without a dialog that offers several,
    // the one openFile() gives.
    virtual std::optional<QStringList> openFiles(const QString &filter)
    {
        const std::optional<QString> one = openFile(filter);
        return one ? std::optional<QStringList>(QStringList{*one}) : std::nullopt;
    }
    // The file dialog in folder mode: an existing folder, or nullopt when cancelled.
    virtual std::optional<QString> chooseFolder() = 0;
};
