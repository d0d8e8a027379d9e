#include "app/BatchRun.h"

#include <QThread>
#include <cassert>
#include <cstdint>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "engine/EngineMemory.h"
#include "image/Error.h"
#include "image/ImageHeader.h"
#include "image/SystemMemory.h"

namespace lumetra {

namespace {

// Paths go to the image library in the local 8-bit encoding.
std::string localPath(const QString& path) {
    return path.toLocal8Bit().toStdString();
}

// What a file calls for saying, each notice with the Comparison menu's setting that changes
// it, as the command line names its options.
QStringList noticeTexts(const LoadedImage& loaded) {
    QStringList texts;
    for (const LoadNotice& notice : loaded.notices) {
        QString text = QString::fromStdString(notice.text);
        if (notice.kind == NoticeKind::ColourAsStored) {
            text += BatchRun::tr(" (Comparison > Convert colours to sRGB converts it)");
        } else if (notice.kind == NoticeKind::OrientationAsStored) {
            text += BatchRun::tr(" (Comparison > Apply EXIF orientation turns it)");
        }
        texts << text;
    }
    return texts;
}

// What became of one degraded file: its comparison, or why there is none, and what it calls
// for saying (a file that failed may still have been read).
struct FileResult {
    std::optional<Comparison> comparison;
    QString reason;
    QStringList notices;
};

// Reads one degraded file and scores it.  Whatever reading or scoring throws becomes the
// file's failure, so that the batch can go on with the next file.
FileResult scoreFile(const Scorer& scorer, const QString& file, ReadChoices reading,
                     const ColourSpace& originalColour) {
    FileResult result;
    try {
        const std::string path = localPath(file);
        LoadedImage loaded = loadImage(path, kMaxImagePixels, reading);
        result.notices = noticeTexts(loaded);
        const std::string mismatch = colourMismatch(originalColour, loaded.colour, reading.colour);
        if (!mismatch.empty()) result.notices << QString::fromStdString(mismatch);
        result.comparison = scorer(path, loaded.image);
    } catch (const Error& e) {
        result.reason = QString::fromLocal8Bit(e.what());  // the message names the file
    } catch (const std::bad_alloc&) {
        result.reason = BatchRun::tr("not enough memory to compare \"%1\"").arg(file);
    } catch (const std::exception& e) {
        result.reason =
            BatchRun::tr("cannot compare \"%1\": %2").arg(file, QString::fromLocal8Bit(e.what()));
    }
    return result;
}

}  // namespace

BatchRun::BatchRun(QString original, QStringList degraded, Parameters parameters,
                   EngineFactory engine, QObject* parent, ReadChoices reading)
    : QObject(parent),
      _original(std::move(original)),
      _degraded(std::move(degraded)),
      _parameters(parameters),
      _engine(std::move(engine)),
      _reading(reading) {}

BatchRun::~BatchRun() {
    cancel();
    if (_thread) _thread->wait();
}

// The worker thread only reads the members set at construction (and the atomic flag), so
// the window may read them at the same time.
BatchOutcome BatchRun::run() {
    // A comparison the machine cannot hold is refused from the original's header, before the
    // original is read or the engine built, instead of the system ending the program.
    const std::string original = localPath(_original);
    const ImageHeader header = readImageHeader(original);
    const std::string memoryShort = memoryProblem(
        engineMemory(std::uint64_t{header.rows} * header.cols, 1, kBytesPerPixelInFlight),
        availableMemory());
    if (!memoryShort.empty()) {
        throw MemoryLimitError("comparing against \"" + original + "\" (" +
                               std::to_string(header.cols) + " x " + std::to_string(header.rows) +
                               " pixels) " + memoryShort);
    }
    // The original's pixels live only while the engine is built; what it declares stays.
    ColourSpace originalColour;
    QStringList originalNotices;
    const Scorer scorer = [&] {
        const LoadedImage loaded = loadImage(original, kMaxImagePixels, _reading);
        originalColour = loaded.colour;
        originalNotices = noticeTexts(loaded);
        return _engine(loaded.image, _parameters);
    }();
    BatchOutcome outcome{static_cast<int>(_degraded.size()), 0, 0};
    if (_cancelRequested.load()) return outcome;  // asked while the engine was being built
    emit started(outcome.total);
    if (!originalNotices.isEmpty()) emit noticed(-1, originalNotices);

    for (; outcome.done < outcome.total; ++outcome.done) {
        if (_cancelRequested.load()) break;
        emit progress(outcome.done, outcome.total);
        const FileResult result =
            scoreFile(scorer, _degraded.at(outcome.done), _reading, originalColour);
        if (!result.notices.isEmpty()) emit noticed(outcome.done, result.notices);
        if (result.comparison) {
            emit compared(*result.comparison);
        } else {
            ++outcome.failures;
            emit failed(result.reason);
        }
    }
    return outcome;
}

bool BatchRun::start() {
    assert(!_thread && "a batch runs once");
    _thread.reset(QThread::create([this] { runInBackground(); }));
    _thread->start();
    // A thread that could not be created is neither running nor finished.
    return _thread->isRunning() || _thread->isFinished();
}

void BatchRun::cancel() {
    _cancelRequested.store(true);
}

// An exception that left the thread's function would end the program.
void BatchRun::runInBackground() {
    try {
        emit finished(run());
    } catch (const std::bad_alloc&) {
        emit abandoned(tr("Not enough memory."));
    } catch (const std::exception& e) {
        emit abandoned(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        emit abandoned(tr("An unknown error stopped the comparison."));
    }
}

}  // namespace lumetra
