#pragma once

// The main window: the measure's five parameters and six mask switches, the "&New" action
// that runs a batch on a worker thread, and the results table whose rows open error map
// windows.

#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

#include "app/EngineFactory.h"
#include "app/FileChooser.h"
#include "app/Notifier.h"
#include "engine/Comparison.h"
#include "ui_QLumetraMainWindow.h"

class QCloseEvent;
class QModelIndex;
class QProgressBar;
class QPushButton;

namespace lumetra {

class BatchRun;
class QLumetraErrorMapDialog;
struct BatchOutcome;

class QLumetraMainWindow : public QMainWindow {
    Q_OBJECT

  public:
    // `engine` builds the scorer of each batch.  Without a chooser or a notifier the window
    // asks with file dialogs and warns with message boxes.
    explicit QLumetraMainWindow(EngineFactory engine, std::unique_ptr<FileChooser> chooser = {},
                                std::unique_ptr<Notifier> notifier = {});
    ~QLumetraMainWindow() override;

    // Puts the default parameters (Parameters{}) into the five fields as their shortest texts
    // and checks the "Intra" boxes.
    void setupDefault();

    // The parameters as the form holds them now, the field texts read the same whatever the
    // locale.  Throws ParameterError naming each field that holds no number, or with
    // Parameters::validate()'s message when a value is unusable.
    Parameters parameters() const;

    // Starts scoring `degraded` against `original` on a worker thread and returns at once.
    // Parameters that parameters() refuses start nothing: the user is told why.
    // The table fills as the results arrive, one row per degraded file in the order given, and
    // batchFinished() follows the last.  Does nothing while a batch is running.  An original
    // that cannot be read, or an engine that cannot be built, leaves the previous results and
    // shows a warning.
    void runBatch(const QString& original, const QStringList& degraded);

    // Stops the running batch after the file being scored (the engine cannot be interrupted
    // inside a file); the rows so far stay.  Asked while the engine is being built, it keeps
    // the previous run's results.  The Cancel button of the status bar calls it.
    void cancelBatch();

    // Opens the error map window of a row; nothing (nullptr) for a failed or missing row.
    QLumetraErrorMapDialog* openErrorMap(int row);

    // Writes the results as CSV; warns and returns false when the file cannot be written.
    bool exportResults(const QString& path);

  signals:
    // A batch ended, whichever way: its rows are final and "&New" is enabled again.
    void batchFinished();

  protected:
    // Closing the window cancels a running batch; the destructor waits for its last file.
    void closeEvent(QCloseEvent* event) override;

  private slots:
    void on_actionNew_triggered();
    // A double-click or Enter on a row (the item view's "activated").
    void on_tableWidget_activated(const QModelIndex& index);
    void on_actionExportResults_triggered();

  private:
    void chooseAndRunBatch();
    std::optional<Parameters> usableParameters();
    void chooseAndExport();
    void connectBatch(const BatchRun& batch);
    void showCancelButton();
    void beginResults(int total);
    void showProgressBar(int total);
    void showProgress(int done);
    void appendComparison(const Comparison& result);
    void appendFailure(const QString& reason);
    void appendRow(const QStringList& cells, const QString& toolTip);
    void finishBatch(const BatchOutcome& outcome);
    void abandonBatch(const QString& reason);
    void markUnreachedFiles(const QString& reason);
    void endBatch();
    void updateActions();

    Ui_QLumetraMainWindow ui;
    QString _originalFile;
    QStringList _degradedFiles;
    // The parameters the current rows were scored with (the form may have changed since).
    Parameters _runParameters;
    // Entry k belongs to _degradedFiles[k] and table row k; empty when that file failed.
    std::vector<std::optional<Comparison>> _comparisons;
    // Why file k failed; empty for a scored file.
    QStringList _failures;

    EngineFactory _engine;
    std::unique_ptr<FileChooser> _chooser;
    std::unique_ptr<Notifier> _notifier;
    // The running batch, from "&New" until its last signal has been handled.
    std::unique_ptr<BatchRun> _batch;
    // The title to go back to when a batch ends before its engine is ready.
    QString _titleBeforeBatch;
    // Present from the moment a batch's engine is built until the batch ends.
    std::unique_ptr<QProgressBar> _progressBar;
    // Present while a batch runs.
    std::unique_ptr<QPushButton> _cancelButton;
    // The error map windows still open (closed ones delete themselves).
    QList<QPointer<QLumetraErrorMapDialog>> _errorMaps;
};

}  // namespace lumetra
