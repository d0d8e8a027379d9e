#pragma once

// Fakes and small files for the desktop tests: a chooser with fixed answers, a notifier that
// records warnings, an engine that records what it is given, a gate that holds the engine
// inside a call, and tiny PPM files.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/EngineFactory.h"
#include "app/FileChooser.h"
#include "app/Notifier.h"
#include "engine/Comparison.h"
#include "image/Array.h"
#include "image/Error.h"

namespace lumetra::testing {

// Points QSettings at a folder of its own for the life of the object, so that tests never
// read or write the user's settings; create it before the first window.
class TemporarySettings {
  public:
    TemporarySettings() {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("LumetraTests"));
        QCoreApplication::setApplicationName(QStringLiteral("lumetra-gui-test"));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, _dir.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, _dir.path());
    }
    // Forgets everything remembered so far: each test starts from a first run.
    static void clear() { QSettings().clear(); }
    QString path() const { return _dir.path(); }

  private:
    QTemporaryDir _dir;
};

// Answers the dialogs with fixed texts and counts the questions.
class FakeFileChooser : public FileChooser {
  public:
    QString originalAnswer;
    QStringList degradedAnswer;
    QString resultsAnswer;
    QString imageAnswer;
    QString profileAnswer;
    int profileAsked = 0;
    int originalAsked = 0;
    int degradedAsked = 0;
    int resultsAsked = 0;

    QString original() override {
        ++originalAsked;
        return originalAnswer;
    }
    QStringList degraded() override {
        ++degradedAsked;
        return degradedAnswer;
    }
    QString resultsTarget() override {
        ++resultsAsked;
        return resultsAnswer;
    }
    QString folderAnswer;
    QStringList proposedNames;  // the names imageTarget() was asked to propose
    QString imageTarget(const QString& proposedName) override {
        proposedNames << proposedName;
        return imageAnswer;
    }
    QString exportFolder() override { return folderAnswer; }
    QString profile() override {
        ++profileAsked;
        return profileAnswer;
    }
};

class RecordingNotifier : public Notifier {
  public:
    QStringList warnings;
    // "<title>\n<text>" of each information shown.
    QStringList informations;
    void warning(const QString& text) override { warnings << text; }
    void information(const QString& title, const QString& text) override {
        informations << title + QLatin1Char('\n') + text;
    }
    // Questions asked, answered with `confirmAnswer`.
    QStringList questions;
    bool confirmAnswer = true;
    bool confirm(const QString& text) override {
        questions << text;
        return confirmAnswer;
    }
};

// Holds the batch's worker thread inside an engine call until the test thread lets it
// through, so that a test can look at the window, its event loop running, while a file is
// being scored.  Calls pass one by one (letThrough) or all of them (open).
class Gate {
  public:
    // Worker side: counts the arrival, then waits for a pass.
    void enter() {
        std::unique_lock lock(_mutex);
        ++_arrived;
        _changed.wait(lock, [this] { return _open || _passes > 0; });
        if (!_open) --_passes;
    }
    // Calls that have reached the gate so far, held or let through.
    int arrived() const {
        const std::lock_guard lock(_mutex);
        return _arrived;
    }
    void letThrough(int calls = 1) {
        const std::lock_guard lock(_mutex);
        _passes += calls;
        _changed.notify_all();
    }
    void open() {
        const std::lock_guard lock(_mutex);
        _open = true;
        _changed.notify_all();
    }

  private:
    mutable std::mutex _mutex;
    std::condition_variable _changed;
    int _arrived = 0;
    int _passes = 0;
    bool _open = false;
};

// What the fake engine saw, and what it answers.  The engine runs on the batch's worker
// thread: read the log once the batch has finished (the thread is joined by then).
struct EngineLog {
    std::vector<Parameters> builds;  // one entry per engine built
    QStringList scored;              // paths handed to the scorer, in order
    // Results handed out in call order; the k-th call gets results[k % size] (a zero result
    // of the original's size when there are none).
    std::vector<Comparison> results;
    std::function<void()> onBuild;  // runs while an engine is being built (worker thread)
    std::function<void()> onScore;  // runs before each file is scored (worker thread)
    bool failBuild = false;         // the engine cannot be built (an original too small)
};

// An engine that records its parameters and paths and answers from the log.  Like the real
// one, it rejects a degraded image whose size differs from the original's.
inline EngineFactory fakeEngine(std::shared_ptr<EngineLog> log) {
    return [log](const RgbImage& original, const Parameters& parameters) -> Scorer {
        if (log->onBuild) log->onBuild();
        if (log->failBuild) throw SizeMismatchError("the original is too small");
        log->builds.push_back(parameters);
        const std::uint32_t rows = original.rows();
        const std::uint32_t cols = original.cols();
        return [log, rows, cols](const std::string& path, const RgbImage& degraded) {
            if (log->onScore) log->onScore();
            if (degraded.rows() != rows || degraded.cols() != cols) {
                throw SizeMismatchError("\"" + path + "\" differs in size from the original");
            }
            const std::size_t call = static_cast<std::size_t>(log->scored.size());
            log->scored << QString::fromStdString(path);
            if (log->results.empty()) return Comparison(0.0f, 0.0f, Array<float>(rows, cols));
            return log->results[call % log->results.size()];
        };
    };
}

// A comparison whose rows x cols map is zero but for 1 in row 0, column `mark`: its picture
// is black with one blue pixel at x = mark, which tells the maps apart.
inline Comparison markedComparison(float mobj, float nobj, std::uint32_t rows, std::uint32_t cols,
                                   std::uint32_t mark = 0) {
    Array<float> map(rows, cols);
    map(0, mark) = 1.0f;
    return Comparison(mobj, nobj, map);
}

// Writes a binary PPM of rows x cols grey pixels into `dir` and returns its path.
inline QString writePpm(const QDir& dir, const QString& name, int rows, int cols,
                        unsigned char grey = 128) {
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return path;
    file.write(QStringLiteral("P6\n%1 %2\n255\n").arg(cols).arg(rows).toLatin1());
    file.write(QByteArray(rows * cols * 3, static_cast<char>(grey)));
    return path;
}

}  // namespace lumetra::testing
