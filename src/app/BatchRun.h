#pragma once

// One batch: an original image, degraded images scored against it in the order given, and
// the engine built once for the original.  Not a widget: it reports through signals.  The
// window starts it on a worker thread of its own (start()), so that the event loop keeps
// running while files are scored; the signals then reach receivers in the window's thread
// queued, in the order they were emitted.

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>

#include "app/EngineFactory.h"
#include "engine/Comparison.h"
#include "image/ImageLoading.h"

class QThread;

namespace lumetra {

// How a batch ended: how many of its files were reached and how many of those failed.
struct BatchOutcome {
    int total = 0;     // files in the batch
    int done = 0;      // files scored or failed before the run ended
    int failures = 0;  // of the files done, those that could not be read or scored

    // The run stopped on request before the last file.
    bool cancelled() const { return done < total; }
};

class BatchRun : public QObject {
    Q_OBJECT

  public:
    // Every file, the original too, is read as `reading` says (colour space and EXIF
    // orientation as stored, or converted to sRGB and turned; image/ImageLoading.h).
    BatchRun(QString original, QStringList degraded, Parameters parameters, EngineFactory engine,
             QObject* parent = nullptr, ReadChoices reading = {});
    // A batch still running on its worker thread is cancelled, and the file in progress is
    // waited for: nothing of the batch outlives this object.
    ~BatchRun() override;

    const QString& original() const { return _original; }
    const Parameters& parameters() const { return _parameters; }
    const QStringList& degraded() const { return _degraded; }

    // Runs the batch in the calling thread.  Reads the original and builds the engine, emits
    // started(), then for each degraded file emits progress(i, total), reads and scores the
    // file and emits compared() or, when the file cannot be read or scored, failed() and goes
    // on.  Exactly one of compared()/failed() follows each progress(), in file order.  What a
    // file calls for saying comes as noticed(): the original's after started(), a degraded
    // file's between its progress() and its compared()/failed().  Before
    // started() and before each file the run stops if cancel() was called.  Errors of the
    // original or of the engine set-up pass through untouched.
    BatchOutcome run();

    // Runs the batch on a worker thread, once.  No exception leaves that thread: the run ends
    // with finished() or, when the original or the engine set-up fails, with abandoned().
    // False when no thread could be started; then no signal follows.
    [[nodiscard]] bool start();

    // Asks the run to stop before the next file; the file being scored cannot be interrupted
    // and is finished.  May be called from any thread.
    void cancel();

  signals:
    // The engine is built; `total` files follow.
    void started(int total);
    // `done` files of `total` are finished; the next one is about to be scored.
    void progress(int done, int total);
    // The next file in order was scored.
    void compared(const lumetra::Comparison& result);
    // The next file in order could not be read or scored; `reason` names the file.
    void failed(const QString& reason);
    // What file `file` (an index into degraded(), or -1 for the original) calls for saying
    // ("declares colour profile ICC \"Display P3\", not sRGB; ..."), one line per notice, each
    // with the setting that changes it where one does; emitted only when there is something to
    // say.  A degraded file declaring another colour space than the original, both scored as
    // stored, is said so: its measure includes the colour change.
    void noticed(int file, const QStringList& notices);
    // The run on the worker thread ended normally or by cancel(); its last signal.
    void finished(const lumetra::BatchOutcome& outcome);
    // The run on the worker thread stopped on an error outside the per-file scoring (the
    // original, the engine set-up); its last signal.
    void abandoned(const QString& reason);

  private:
    // The body of the worker thread: run() with every exception turned into abandoned().
    void runInBackground();

    const QString _original;
    const QStringList _degraded;
    const Parameters _parameters;
    const EngineFactory _engine;
    const ReadChoices _reading;
    std::atomic<bool> _cancelRequested{false};
    std::unique_ptr<QThread> _thread;
};

}  // namespace lumetra

Q_DECLARE_METATYPE(lumetra::Comparison)
Q_DECLARE_METATYPE(lumetra::BatchOutcome)
