#include "app/FileNames.h"

#include <QDir>
#include <QFileInfo>
#include <QObject>
#include <QSettings>

namespace lumetra {

namespace {

// The settings key of the folder last used for each kind of file.  Images keep the key every
// dialog once shared, so that the folder remembered by an older version is found again.
QString lastFolderKey(FolderKind kind) {
    switch (kind) {
        case FolderKind::Images:
            return QStringLiteral("dialogs/lastFolder");
        case FolderKind::Profiles:
            return QStringLiteral("dialogs/lastProfileFolder");
        case FolderKind::Exports:
            return QStringLiteral("dialogs/lastExportFolder");
    }
    return QStringLiteral("dialogs/lastFolder");
}

}  // namespace

QString imageNameFilter() {
    return QObject::tr(
               "Images (*.ppm *.pgm *.pbm *.pnm *.pam *.png *.jpg *.jpeg *.bmp *.webp "
               "*.tif *.tiff *.avif *.jxl)") +
           QStringLiteral(";;") + QObject::tr("All files (*)");
}

QString withDefaultSuffix(const QString& path, const QString& suffix) {
    const QString name = QFileInfo(path).fileName();
    if (name.isEmpty() || !QFileInfo(path).suffix().isEmpty()) return path;
    return name.endsWith(QLatin1Char('.')) ? path + suffix : path + QLatin1Char('.') + suffix;
}

QString startFolder(const QSettings& settings, FolderKind kind) {
    const QString folder = settings.value(lastFolderKey(kind)).toString();
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) return folder;
    return QDir::homePath();
}

void rememberFolder(QSettings& settings, const QString& chosenFile, FolderKind kind) {
    if (chosenFile.isEmpty()) return;
    settings.setValue(lastFolderKey(kind), QFileInfo(chosenFile).absolutePath());
}

}  // namespace lumetra
