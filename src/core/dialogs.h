#pragma once

#include <QString>

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
    // The file dialog in folder mode: an existing folder, or nullopt when cancelled.
    virtual std::optional<QString> chooseFolder() = 0;
};
