#include "app/displaycheck.h"

#include "core/messages.h"

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

QtMessageHandler previousHandler = nullptr;
// Set while the guard stands; the handler has no other way to learn them.
QString *guardedProgram = nullptr;
// The platform plugin's warnings while the guard stands ("could not connect to display"): the
// reason if the start fails, passed on if it does not.
struct HeldMessage
{
    QtMsgType type;
    QByteArray category;
    QString text;
};
QList<HeldMessage> *heldMessages = nullptr;

void onQtMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (guardedProgram && type != QtFatalMsg && context.category
        && qstrncmp(context.category, "qt.qpa", 6) == 0) {
        heldMessages->append({type, context.category, message});
        return;
    }
    if (type == QtFatalMsg && guardedProgram) {
        const bool unreachable = std::any_of(
                heldMessages->cbegin(), heldMessages->cend(), [](const HeldMessage &held) {
                    return held.text.contains(u"could not connect to display"_s);
                });
        const QString why = unreachable
                                    ? Messages::displayUnreachable(qEnvironmentVariable("DISPLAY"))
                            : heldMessages->isEmpty() ? message.section(u'\n', 0, 0)
                                                      : heldMessages->first().text;
        const QString text = Messages::noDisplay(*guardedProgram, why);
        std::fputs(qPrintable(text), stderr);
        std::fflush(stderr);
        // Nothing the program owns is open yet: no port, no file, no window.
        std::_Exit(1);
    }
    if (previousHandler)
        previousHandler(type, context, message);
}

} // namespace

QString missingDisplay()
{
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM").trimmed();
    const bool x11 = !qEnvironmentVariable("DISPLAY").isEmpty();
    const bool wayland = !qEnvironmentVariable("WAYLAND_DISPLAY").isEmpty();
    // Qt's default on Linux tries Wayland, then X11; a platform asked for by name needs its own.
    if (platform.isEmpty() && !x11 && !wayland)
        return Messages::displayNotSet();
    if (platform.startsWith(u"xcb"_s) && !x11)
        return Messages::displayNotSetFor(platform, u"DISPLAY"_s);
    if (platform.startsWith(u"wayland"_s) && !wayland)
        return Messages::displayNotSetFor(platform, u"WAYLAND_DISPLAY"_s);
    return QString();
}

DisplayFailureGuard::DisplayFailureGuard(const QString &program)
{
    guardedProgram = new QString(program);
    heldMessages = new QList<HeldMessage>;
    previousHandler = qInstallMessageHandler(onQtMessage);
}

DisplayFailureGuard::~DisplayFailureGuard()
{
    qInstallMessageHandler(previousHandler);
    for (const HeldMessage &held : std::as_const(*heldMessages)) {
        const QMessageLogContext context(nullptr, 0, nullptr, held.category.constData());
        qt_message_output(held.type, context, held.text);
    }
    delete heldMessages;
    heldMessages = nullptr;
    delete guardedProgram;
    guardedProgram = nullptr;
}
