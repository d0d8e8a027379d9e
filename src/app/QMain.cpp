// The desktop program: shows the main window and runs the event loop until it is closed.

#include <QApplication>

#include "app/Lumetra2Engine.h"
#include "app/QLumetraMainWindow.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    lumetra::QLumetraMainWindow window(lumetra::lumetra2Engine());
    window.show();
    return application.exec();
}
