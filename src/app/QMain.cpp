// The desktop program: shows the main window and runs the event loop until it is closed.
//   lumetra-gui [ORIGINAL [DEGRADED...]]
// compares the degraded images with the original at once; an original given alone waits for
// degraded files chosen or dropped.

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QIcon>
#include <QStringList>

#include "app/Lumetra2Engine.h"
#include "app/QLumetraMainWindow.h"

namespace {

// Paths as the window shows and exports them: absolute, whatever the folder it started in.
QStringList absolutePaths(const QStringList& paths) {
    QStringList absolute;
    for (const QString& path : paths) absolute << QFileInfo(path).absoluteFilePath();
    return absolute;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // Where QSettings keeps the folder last used by the file dialogs.
    QApplication::setOrganizationName(QStringLiteral("Lumetra"));
    QApplication::setApplicationName(QStringLiteral("lumetra-gui"));
    QApplication::setApplicationVersion(QStringLiteral(LUMETRA_VERSION));
    // The installed menu entry (lumetra-gui.desktop) and icon, for the window manager and taskbar.
    QApplication::setDesktopFileName(QStringLiteral("lumetra-gui"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("lumetra")));

    QCommandLineParser parser;
    parser.setApplicationDescription(QApplication::translate(
        "main",
        "Predicts how visible the differences between a colour image and degraded "
        "versions of it are."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        QStringLiteral("original"),
        QApplication::translate("main",
                                "The original image; compared at once with the "
                                "degraded images that follow."),
        QStringLiteral("[ORIGINAL"));
    parser.addPositionalArgument(QStringLiteral("degraded"),
                                 QApplication::translate("main", "Degraded images of its size."),
                                 QStringLiteral("[DEGRADED...]]"));
    parser.process(application);

    lumetra::QLumetraMainWindow window(lumetra::lumetra2Engine());
    window.show();
    window.openFiles(absolutePaths(parser.positionalArguments()),
                     lumetra::QLumetraMainWindow::FileSource::CommandLine);
    return application.exec();
}
