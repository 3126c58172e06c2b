#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Message boxes, prompts and file choice. Handlers receive this
// interface so that a test can answer as a person would.
class Dialogs
{
public:
    // Message box styles and answers, numbered as desktop message boxes number them.
    enum Style { OkOnly = 0, YesNo = 4, Exclamation = 48, Information = 64 };
    enum Answer { Ok = 1, Yes = 6, No = 7 };

    virtual ~Dialogs() = default;

    // An empty title means the application title.
    virtual int message(const QString &text, int style, const QString &title = QString()) = 0;
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
