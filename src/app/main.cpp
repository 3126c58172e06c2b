#include "app/appicon.h"
#include "app/mainwindow.h"
#include "app/signalwatcher.h"
#include "platform/configpaths.h"
#include "platform/inisettingsstore.h"
#include "platform/qtdialogs.h"
#include "platform/serialport.h"

#include <QApplication>
#include <QFileInfo>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // Settings are kept under the executable's own name, so a renamed copy keeps its own.
    app.setApplicationName(QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
    app.setWindowIcon(AppIcon::icon());

    IniSettingsStore store(ConfigPaths::settingsFile());
    SerialPort port;
    QtDialogs dialogs(nullptr);
    MainWindow window(port, store, dialogs);
    window.start();

    SignalWatcher watcher;
    QObject::connect(&watcher, &SignalWatcher::terminationRequested, &window, [&window] {
        window.exitProgram();
        // Leaves every event loop, also that of a message box that happens to be open.
        QCoreApplication::exit(0);
    });
    return app.exec();
}
