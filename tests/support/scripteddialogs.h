#pragma once

#include "core/dialogs.h"

#include <QList>
#include <QQueue>
#include <QString>

#include <functional>
#include <optional>

// Answers dialogs from queues the test fills, as a person at the desktop would, and records
// every dialog shown. A dialog nobody scripted fails the running test.
class ScriptedDialogs : public Dialogs
{
public:
    enum class Kind { Message, InputBox, OpenFile, SaveFile, ChooseFolder };

    struct Call
    {
        Kind kind = Kind::Message;
        // Message text or input prompt.
        QString text;
        Style style = Plain;
        // The title the user saw: the application title where none was given.
        QString title;
        QString filter;
        QString defaultAnswer;
    };

    // Queued answers, used in order. A box with only an OK button needs none: it is answered
    // OK when the queue is empty.
    void answerMessage(Answer answer) { m_messageAnswers.enqueue(answer); }
    void answerInput(const QString &text) { m_inputAnswers.enqueue(text); }
    // nullopt answers as Cancel.
    void answerOpen(std::optional<QString> path) { m_openAnswers.enqueue(std::move(path)); }
    void answerSave(std::optional<QString> path) { m_saveAnswers.enqueue(std::move(path)); }
    void answerFolder(std::optional<QString> path) { m_folderAnswers.enqueue(std::move(path)); }

    const QList<Call> &calls() const { return m_calls; }
    QList<Call> calls(Kind kind) const;
    QList<Call> messages() const { return calls(Kind::Message); }
    int messageCount(const QString &text, Style style) const;
    // The style as a word, for the transcripts tests compare.
    static QByteArray styleName(Style style);
    void clearCalls() { m_calls.clear(); }

    // Runs when a dialog is shown, before it is answered.
    std::function<void(const Call &)> onCall;

    Answer message(const QString &text, Style style, const QString &title = QString()) override;
    QString inputBox(const QString &prompt, const QString &defaultAnswer = QString()) override;
    std::optional<QString> openFile(const QString &filter) override;
    std::optional<QString> saveFile(const QString &filter) override;
    std::optional<QString> chooseFolder() override;

private:
    void record(const Call &call);

    QQueue<Answer> m_messageAnswers;
    QQueue<QString> m_inputAnswers;
    QQueue<std::optional<QString>> m_openAnswers;
    QQueue<std::optional<QString>> m_saveAnswers;
    QQueue<std::optional<QString>> m_folderAnswers;
    QList<Call> m_calls;
};
