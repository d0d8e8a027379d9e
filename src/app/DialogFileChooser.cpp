#include "app/DialogFileChooser.h"

#include <QFileDialog>
#include <QObject>
#include <QSettings>

#include "app/FileNames.h"

namespace lumetra {

namespace {

// A save dialog that adds `suffix` to a name without one before it asks about overwriting.
QString chooseTarget(QWidget* parent, const QString& title, const QString& filter,
                     const QString& suffix, const QString& proposedName = QString()) {
    QSettings settings;
    QFileDialog dialog(parent, title, startFolder(settings, FolderKind::Exports), filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(suffix);
    if (!proposedName.isEmpty()) dialog.selectFile(proposedName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
    const QString path = dialog.selectedFiles().constFirst();
    rememberFolder(settings, path, FolderKind::Exports);
    return path;
}

}  // namespace

QString DialogFileChooser::original() {
    QSettings settings;
    const QString path = QFileDialog::getOpenFileName(_parent, QObject::tr("Choose original file"),
                                                      startFolder(settings), imageNameFilter());
    rememberFolder(settings, path);
    return path;
}

QStringList DialogFileChooser::degraded() {
    QSettings settings;
    const QStringList paths = QFileDialog::getOpenFileNames(
        _parent, QObject::tr("Choose degraded files"), startFolder(settings), imageNameFilter());
    if (!paths.isEmpty()) rememberFolder(settings, paths.constFirst());
    return paths;
}

QString DialogFileChooser::resultsTarget() {
    return chooseTarget(_parent, QObject::tr("Export results"), QObject::tr("CSV files (*.csv)"),
                        QStringLiteral("csv"));
}

QString DialogFileChooser::profile() {
    QSettings settings;
    const QString path =
        QFileDialog::getOpenFileName(_parent, QObject::tr("Load calibration profile"),
                                     startFolder(settings, FolderKind::Profiles),
                                     QObject::tr("Lumetra profiles (*.json);;All files (*)"));
    rememberFolder(settings, path, FolderKind::Profiles);
    return path;
}

QString DialogFileChooser::imageTarget(const QString& proposedName) {
    return chooseTarget(_parent, QObject::tr("Save image"), QObject::tr("PNG images (*.png)"),
                        QStringLiteral("png"), proposedName);
}

QString DialogFileChooser::exportFolder() {
    QSettings settings;
    const QString folder = QFileDialog::getExistingDirectory(
        _parent, QObject::tr("Export all maps into"), startFolder(settings, FolderKind::Exports));
    // The folder itself is remembered, not its parent.
    if (!folder.isEmpty())
        rememberFolder(settings, folder + QStringLiteral("/-"), FolderKind::Exports);
    return folder;
}

}  // namespace lumetra
