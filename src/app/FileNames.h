#pragma once

// What the file dialogs offer and complete: the image formats that are read, the folder to
// start in (the one last used, kept across runs in QSettings) and the suffix a saved file
// gets when its name has none.  Tested without dialogs.

#include <QString>

class QSettings;

namespace lumetra {

// The open dialogs' filter: every format RgbImage reads (Netpbm's PPM, PGM, PBM, PNM and PAM,
// PNG, JPEG, BMP, WebP, TIFF, AVIF, JPEG XL), then all files.
QString imageNameFilter();

// `path`, with "." and `suffix` added when its file name has no suffix: "out" -> "out.csv";
// "out.txt" is kept as it is.
QString withDefaultSuffix(const QString& path, const QString& suffix);

// What a dialog chooses; each kind remembers its own last folder, so that loading a profile
// does not move the next image dialog away from the images.
enum class FolderKind { Images, Profiles, Exports };

// The folder of the file of `kind` last chosen, when it still exists; else the home folder.
QString startFolder(const QSettings& settings, FolderKind kind = FolderKind::Images);

// Keeps the folder of `chosenFile` for the next dialog, in this run and the next.
void rememberFolder(QSettings& settings, const QString& chosenFile,
                    FolderKind kind = FolderKind::Images);

}  // namespace lumetra
