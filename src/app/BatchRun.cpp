#include "app/BatchRun.h"

#include <new>
#include <optional>
#include <string>
#include <utility>

#include "image/Error.h"

namespace lumetra {

namespace {

// Paths go to the image library in the local 8-bit encoding.
std::string localPath(const QString& path) {
    return path.toLocal8Bit().toStdString();
}

}  // namespace

BatchRun::BatchRun(QString original, QStringList degraded, MeasureParameters parameters,
                   EngineFactory engine, QObject* parent)
    : QObject(parent),
      _original(std::move(original)),
      _degraded(std::move(degraded)),
      _parameters(parameters),
      _engine(std::move(engine)) {}

int BatchRun::run(const std::function<void()>& betweenFiles) {
    const Scorer scorer = _engine(RgbImage(localPath(_original)), _parameters);
    const int total = static_cast<int>(_degraded.size());
    emit started(total);

    int failures = 0;
    for (int i = 0; i < total; ++i) {
        emit progress(i, total);
        if (betweenFiles) betweenFiles();

        std::optional<Comparison> result;
        QString reason;
        try {
            result = scoreFile(scorer, _degraded[i]);
        } catch (const Error& e) {
            reason = QString::fromLocal8Bit(e.what());
        } catch (const std::bad_alloc&) {
            reason = tr("not enough memory to compare \"%1\"").arg(_degraded[i]);
        }
        if (result) {
            emit compared(*result);
        } else {
            ++failures;
            emit failed(reason);
        }
    }
    return failures;
}

Comparison BatchRun::scoreFile(const Scorer& scorer, const QString& file) {
    const std::string path = localPath(file);
    const RgbImage degraded(path);
    return scorer(path, degraded);
}

}  // namespace lumetra
