#include "app/FileSaving.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <cstdio>

#include "image/Error.h"
#include "image/FileOutput.h"

namespace lumetra {

QString saveBytes(const QString& path, const QByteArray& bytes) {
    // The file system's own bytes for the name, as QFile would use them.
    const QByteArray name = QFile::encodeName(path);
    try {
        writeFileAtomically(name.toStdString(), [&](std::FILE* file) {
            const auto size = static_cast<std::size_t>(bytes.size());
            return std::fwrite(bytes.constData(), 1, size, file) == size;
        });
    } catch (const Error& e) {
        return QString::fromLocal8Bit(e.what());
    }
    return {};
}

QString savePng(const QString& path, const QImage& image) {
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    if (image.isNull() || !image.save(&buffer, "PNG")) {
        return QStringLiteral("cannot write \"%1\": the picture cannot be encoded as PNG")
            .arg(path);
    }
    return saveBytes(path, encoded);
}

}  // namespace lumetra
