#include "app/appicon.h"
#include "app/commandline.h"
#include "app/displaycheck.h"
#include "app/headlessscript.h"
#include "app/mainwindow.h"
#include "app/signalwatcher.h"
#include "widgets/caretrest.h"
#include "core/configpaths.h"
#include "core/dialogs.h"
#include "core/inisettingsstore.h"
#include "core/messages.h"
#include "core/portsettings.h"
#include "core/settingkeys.h"
#include "core/switches.h"
#include "widgets/qtdialogs.h"
#include "port/serialport.h"

#include <QApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTimer>

#include <cstdio>
#include <optional>

int main(int argc, char *argv[])
{
    // Before QApplication, which would need a display even to print the version.
    const ParsedCommandLine parsed = parseCommandLine(argc, argv);
    if (!parsed.run)
        return parsed.exitStatus;
    const CommandLine &line = *parsed.run;
    // A script for CI needs neither a display nor a window.
    if (!line.scriptFile.isEmpty())
        return runHeadlessScript(argc, argv, line);

    // Also before QApplication, which without a display would abort with Qt's English words.
    const QString program = QString::fromLocal8Bit(argv[0]);
    if (const QString why = missingDisplay(); !why.isEmpty()) {
        std::fputs(qPrintable(Messages::noDisplay(program, why)), stderr);
        return 1;
    }
    std::optional<DisplayFailureGuard> displayGuard(std::in_place, program);
    QApplication app(argc, argv);
    displayGuard.reset();
    // Settings are kept under the executable's own name, so a renamed copy keeps its own.
    app.setApplicationName(QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
    app.setWindowIcon(AppIcon::icon());
    // An idle window then wakes for nothing but the status strip's clock.
    CaretRest caretRest;
    // Without them message boxes and file dialogs would say Yes, No and Cancel under Chinese
    // menus; the program still works, so a missing package is only mentioned.
    if (!QtDialogs::installQtTranslations(app)) {
        qWarning("Qt's Chinese translations are missing from %s (package qt6-translations-l10n); "
                 "Qt's own buttons and dialogs stay in English.",
                 qUtf8Printable(QLibraryInfo::path(QLibraryInfo::TranslationsPath)));
    }

    // A file of its own lets a second window keep a second port; QSettings locks the file
    // while it writes, so two windows on one file take turns instead of mixing their lines.
    IniSettingsStore store(line.settingsFile.isEmpty() ? ConfigPaths::settingsFile()
                                                       : line.settingsFile);
    QString saveError;
    if (!line.settingsFile.isEmpty() && !QFileInfo::exists(line.settingsFile)) {
        PortSettings().save(store);
        saveError = store.saveError();
    }
    if (!line.port.isEmpty() && saveError.isEmpty()) {
        store.save(SettingKeys::comport(), line.port);
        saveError = store.saveError();
    }
    SerialPort port;
    QtDialogs dialogs(nullptr);
    MainWindow window(port, store, dialogs);
    window.start();
    // Once the window is on screen, so that what goes wrong is said over it.
    QTimer::singleShot(0, &window, [&window, &dialogs, &port, saveError, open = line.open] {
        if (!saveError.isEmpty())
            dialogs.message(saveError, Dialogs::Warning);
        if (open && !port.portOpen())
            window.runCommand(Switches::OpenPort);
    });

    SignalWatcher watcher;
    // The program runs on without it; only a logout or a kill would then skip the orderly close.
    if (!watcher.error().isEmpty()) {
        qWarning("%s", qUtf8Printable(watcher.error()));
    }
    QObject::connect(&watcher, &SignalWatcher::terminationRequested, &window, [&window] {
        window.exitProgram();
        // Leaves every event loop, also that of a message box that happens to be open.
        QCoreApplication::exit(0);
    });
    return app.exec();
}
