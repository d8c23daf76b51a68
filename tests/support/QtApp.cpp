#include "QtApp.h"

#include <QApplication>
#include <cstdlib>

#include "app/Application.h"

void EnsureQApplication() {
    if (QApplication::instance())
        return;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "kelpora-tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    SetUpApplication(*app); // as the program does
}
