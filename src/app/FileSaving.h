#pragma once

// Saving the window's exports: each file appears whole or not at all, through the core's
// atomic writer (image/FileOutput.h).  A full disk, a missing folder or a target that cannot be
// replaced leaves the old file, or nothing, behind and gives one message naming the file.

#include <QString>

class QByteArray;
class QImage;

namespace lumetra {

// Writes `bytes` to `path`; returns why it could not ("cannot write "<path>": No space left on
// device"), empty when the file was written.
QString saveBytes(const QString& path, const QByteArray& bytes);

// Writes `image` to `path` as PNG, the same way.
QString savePng(const QString& path, const QImage& image);

}  // namespace lumetra
