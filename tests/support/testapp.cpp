#include "testapp.h"

#include <QApplication>

QApplication &ensureApp()
{
    static int argc = 1;
    static char name[] = "velmir-test";
    static char *argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}
