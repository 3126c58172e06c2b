#include "scripteddialogs.h"

#include "core/appinfo.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>

QList<ScriptedDialogs::Call> ScriptedDialogs::calls(Kind kind) const
{
    QList<Call> matching;
    for (const Call &call : m_calls) {
        if (call.kind == kind)
            matching.append(call);
    }
    return matching;
}

int ScriptedDialogs::messageCount(const QString &text, Style style) const
{
    const QList<Call> shown = messages();
    return static_cast<int>(std::count_if(shown.cbegin(), shown.cend(), [&](const Call &call) {
        return call.text == text && call.style == style;
    }));
}

QByteArray ScriptedDialogs::styleName(Style style)
{
    switch (style) {
    case Plain:
        return "plain";
    case YesNo:
        return "yes-no";
    case Warning:
        return "warning";
    case Information:
        return "information";
    }
    return "style " + QByteArray::number(int(style));
}

Dialogs::Answer ScriptedDialogs::message(const QString &text, Style style, const QString &title)
{
    Call call;
    call.kind = Kind::Message;
    call.text = text;
    call.style = style;
    call.title = title.isEmpty() ? AppInfo::title() : title;
    record(call);

    if (!m_messageAnswers.isEmpty())
        return m_messageAnswers.dequeue();
    // Only a box with the single OK button can be answered without a script.
    if (style == YesNo) {
        ADD_FAILURE() << "unscripted question: " << text.toStdString();
        return No;
    }
    return Ok;
}

QString ScriptedDialogs::inputBox(const QString &prompt, const QString &defaultAnswer)
{
    Call call;
    call.kind = Kind::InputBox;
    call.text = prompt;
    call.title = AppInfo::title();
    call.defaultAnswer = defaultAnswer;
    record(call);

    if (m_inputAnswers.isEmpty()) {
        ADD_FAILURE() << "unscripted input box: " << prompt.toStdString();
        return QString();
    }
    return m_inputAnswers.dequeue();
}

std::optional<QString> ScriptedDialogs::openFile(const QString &filter)
{
    Call call;
    call.kind = Kind::OpenFile;
    call.filter = filter;
    record(call);

    if (m_openAnswers.isEmpty()) {
        ADD_FAILURE() << "unscripted open dialog: " << filter.toStdString();
        return std::nullopt;
    }
    return m_openAnswers.dequeue();
}

std::optional<QString> ScriptedDialogs::chooseFolder()
{
    Call call;
    call.kind = Kind::ChooseFolder;
    record(call);

    if (m_folderAnswers.isEmpty()) {
        ADD_FAILURE() << "unscripted folder dialog";
        return std::nullopt;
    }
    return m_folderAnswers.dequeue();
}

std::optional<QString> ScriptedDialogs::saveFile(const QString &filter)
{
    Call call;
    call.kind = Kind::SaveFile;
    call.filter = filter;
    record(call);

    if (m_saveAnswers.isEmpty()) {
        ADD_FAILURE() << "unscripted save dialog: " << filter.toStdString();
        return std::nullopt;
    }
    return m_saveAnswers.dequeue();
}

void ScriptedDialogs::record(const Call &call)
{
    m_calls.append(call);
    if (onCall)
        onCall(call);
}
