#include "app/FileNames.h"

#include <QDir>
#include <QFileInfo>
#include <QObject>
#include <QSettings>

namespace lumetra {

namespace {

// The settings key of the folder last used by any file dialog.
const char* const kLastFolderKey = "dialogs/lastFolder";

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

QString startFolder(const QSettings& settings) {
    const QString folder = settings.value(QString::fromLatin1(kLastFolderKey)).toString();
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) return folder;
    return QDir::homePath();
}

void rememberFolder(QSettings& settings, const QString& chosenFile) {
    if (chosenFile.isEmpty()) return;
    settings.setValue(QString::fromLatin1(kLastFolderKey), QFileInfo(chosenFile).absolutePath());
}

}  // namespace lumetra
