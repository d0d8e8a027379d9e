#include "app/DialogFileChooser.h"

#include <QDir>
#include <QFileDialog>
#include <QObject>

namespace lumetra {

namespace {

// The open dialogs start here, as the program always has.
const char* const kStartDirectory = "/home";

// Netpbm first (the historical filter text, kept as is), then the other formats RgbImage reads.
QString imageFilter() {
    return QObject::tr("Images (*.ppm *.pbm *.ppm)") + QStringLiteral(";;") +
           QObject::tr("PNG images (*.png)") + QStringLiteral(";;") +
           QObject::tr("JPEG images (*.jpg *.jpeg)") + QStringLiteral(";;") +
           QObject::tr("BMP images (*.bmp)");
}

}  // namespace

QString DialogFileChooser::original() {
    return QFileDialog::getOpenFileName(_parent, QObject::tr("Choose original file"),
                                        QString::fromLatin1(kStartDirectory), imageFilter());
}

QStringList DialogFileChooser::degraded() {
    return QFileDialog::getOpenFileNames(_parent, QObject::tr("Choose degraded files"),
                                         QString::fromLatin1(kStartDirectory), imageFilter());
}

QString DialogFileChooser::resultsTarget() {
    return QFileDialog::getSaveFileName(_parent, QObject::tr("Export results"), QDir::homePath(),
                                        QObject::tr("CSV files (*.csv)"));
}

QString DialogFileChooser::imageTarget() {
    return QFileDialog::getSaveFileName(_parent, QObject::tr("Save image"), QDir::homePath(),
                                        QObject::tr("PNG images (*.png)"));
}

}  // namespace lumetra
