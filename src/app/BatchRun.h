#pragma once

// One batch: an original image, degraded images scored against it in the order given, and
// the engine built once for the original.  Not a widget: it reports through signals, and the
// caller decides what happens between two files (the window lets its event loop run).

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

#include "app/EngineFactory.h"
#include "engine/Comparison.h"

namespace lumetra {

class BatchRun : public QObject {
    Q_OBJECT

  public:
    BatchRun(QString original, QStringList degraded, MeasureParameters parameters,
             EngineFactory engine, QObject* parent = nullptr);

    // Reads the original and builds the engine, emits started(), then for each degraded file
    // emits progress(i, total), calls `betweenFiles` (when set), reads and scores the file
    // and emits compared() or, when the file cannot be read or scored, failed() and goes on.
    // Exactly one of compared()/failed() follows each progress(), in file order.
    // Errors of the original or of the engine set-up pass through untouched.
    // Returns the number of files that failed.
    int run(const std::function<void()>& betweenFiles = {});

  signals:
    // The engine is built; `total` files follow.
    void started(int total);
    // `done` files of `total` are finished; the next one is about to be scored.
    void progress(int done, int total);
    // The next file in order was scored.
    void compared(const lumetra::Comparison& result);
    // The next file in order could not be read or scored; `reason` names the file.
    void failed(const QString& reason);

  private:
    // Reads one degraded file and scores it; throws what reading or scoring throws.
    static Comparison scoreFile(const Scorer& scorer, const QString& file);

    QString _original;
    QStringList _degraded;
    MeasureParameters _parameters;
    EngineFactory _engine;
};

}  // namespace lumetra

Q_DECLARE_METATYPE(lumetra::Comparison)
