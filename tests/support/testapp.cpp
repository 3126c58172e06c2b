#include "testapp.h"

#include <QApplication>

QApplication &ensureApp()
{
    static int argc = 1;
    static char name[] = "velmir-test";
    static char *argv[] = {name, nullptr};
    // Never destroyed: at exit Qt's own registries are gone before a static would be, and
    // destroying the application after them crashes.
    static QApplication *app = new QApplication(argc, argv);
    return *app;
}
