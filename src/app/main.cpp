#include "app/appicon.h"
#include "app/mainwindow.h"
#include "app/signalwatcher.h"
#include "widgets/caretrest.h"
#include "core/configpaths.h"
#include "core/inisettingsstore.h"
#include "widgets/qtdialogs.h"
#include "port/serialport.h"

#include <QApplication>
#include <QFileInfo>
#include <QLibraryInfo>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
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

    IniSettingsStore store(ConfigPaths::settingsFile());
    SerialPort port;
    QtDialogs dialogs(nullptr);
    MainWindow window(port, store, dialogs);
    window.start();

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
