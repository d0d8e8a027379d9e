#pragma once

// The main window: the measure's five parameters, six mask switches and the viewing
// conditions, the "&New" action that runs a batch on a worker thread, files dropped onto the
// window or given on the command line, and the sortable results table whose rows open error
// map windows.

#include <QFutureWatcher>
#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QStringList>
#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "app/EngineFactory.h"
#include "app/FileChooser.h"
#include "app/Notifier.h"
#include "app/ParameterForm.h"
#include "app/QLumetraComparisonViewer.h"
#include "app/ResultFormat.h"
#include "app/WindowPlacement.h"
#include "engine/Comparison.h"
#include "ui_QLumetraMainWindow.h"

class QCloseEvent;
class QDragEnterEvent;
class QDropEvent;
class QLabel;
class QLineEdit;
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

    // Puts the default parameters (Parameters{}) into the six fields as their shortest texts
    // and checks the "Intra" boxes.
    void setupDefault();

    // Starts scoring `degraded` against `original` on a worker thread and returns at once,
    // true when the batch started.  Parameters the form cannot give start nothing: the
    // user is told why.  An empty `degraded` starts nothing and changes nothing.
    // The table fills as the results arrive, one row per degraded file, and batchFinished()
    // follows the last.  Does nothing while a batch is running.  An original that cannot be
    // read, or an engine that cannot be built, leaves the previous results and shows a
    // warning.
    bool runBatch(const QString& original, const QStringList& degraded);

    // Files dropped onto the window or given on the command line.  When no original is
    // waiting, the first file is the original; the other files are compared with the
    // original at once.  A file given alone becomes the waiting original, and the status bar
    // says so.
    // Where files come from, for what the status bar says of them.
    enum class FileSource { Dropped, CommandLine };
    // When results are shown, every file joins them as a degraded file of the same original
    // (addFiles); replacing the original is its own action.
    void openFiles(const QStringList& files, FileSource source = FileSource::Dropped);

    // Scores `degraded` against the current original with the form's parameters and appends
    // their rows; false when nothing started (no original yet, a batch running, an unusable
    // form).
    bool addFiles(const QStringList& degraded);

    // Reads every file of the run again and scores it with the form's parameters, keeping
    // the original (Rescore, Ctrl+R, and Reload, F5); false when nothing started.
    bool rescore();

    // Stops the running batch after the file being scored (the engine cannot be interrupted
    // inside a file); the rows so far stay.  Asked while the engine is being built, it keeps
    // the previous run's results.  The Cancel button of the status bar calls it.
    void cancelBatch();

    // Opens the error map window of a table row (rows follow the table's sort order);
    // nothing (nullptr) for a failed or missing row.
    QLumetraErrorMapDialog* openErrorMap(int row);

    // Shows a table row's file in the run's one comparison viewer, opening it when needed;
    // the viewer, or nullptr for a failed or missing row.
    QLumetraComparisonViewer* openViewer(int row);
    QLumetraComparisonViewer* viewer() const { return _viewer; }

    // Writes every map of the run into `folder` (exportMaps in ViewerExport.h); warns and
    // returns false when a file cannot be written.
    bool exportMaps(const QString& folder);

    // The index, in the batch's order, of the file shown in table row `row`; -1 for no row.
    int fileIndexOfRow(int row) const;

    // Gives a new top-level window its place: `wanted` fitted to the screen of this window,
    // a step right and down from the last one placed; then shows it.
    void showCascaded(QWidget& window, QSize wanted);

    // Loads a calibration profile (loadProfile) into the form: its parameters fill the fields
    // and switches, and its score mapping is kept with them.  A logistic mapping has no fields:
    // the a and b fields are disabled while it is in use.  The status bar shows the profile
    // and its mapping from then on.  A profile that cannot be loaded is reported in a warning
    // and leaves the form as it was; returns false then.
    bool loadProfileFile(const QString& path);

    // Writes the results as CSV, after comment lines naming the original, the parameters and
    // the viewing conditions (resultsCsv); warns and returns false when the file cannot be
    // written.
    bool exportResults(const QString& path);

  signals:
    // A batch ended, whichever way: its rows are final and "&New" is enabled again.
    void batchFinished();
    // The explanation maps of the last exportMaps() are written, or have failed (warned).
    void mapsExported();

  protected:
    // Closing the window cancels a running batch; the destructor waits for its last file.
    void closeEvent(QCloseEvent* event) override;
    // Local files dropped anywhere on the window go to openFiles().
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private slots:
    void on_actionNew_triggered();
    // A double-click on a row, or Enter: the row's comparison viewer.
    void on_tableWidget_activated(const QModelIndex& index);
    void on_actionExportResults_triggered();
    void on_actionAddFiles_triggered();
    void on_actionReplaceOriginal_triggered();
    void on_actionReload_triggered();
    void on_actionRescore_triggered();
    void on_actionExportMaps_triggered();
    void on_actionLoadProfile_triggered();
    void on_actionQuit_triggered();
    void on_actionHelp_triggered();
    void on_actionAbout_triggered();

  private:
    std::array<QLineEdit*, kParameterFieldCount> parameterFields() const;
    FormReading readForm() const;
    void showFieldProblems();
    void markFields(const FieldTexts& problems);
    void showFieldMessage(const QString& message);
    void showParameters(const Parameters& parameters);
    void showProfile(const QString& path, const ScoreMapping& mapping);
    void finishMapExport();
    void restoreSettings();
    void saveSettings() const;
    void chooseAndRunBatch();
    bool mayDiscardResults(const QString& question);
    bool startBatch(const QString& original, const QStringList& degraded, bool append);
    void markStaleRow(int row, const FormReading& form);
    void markStaleRows();
    void showStaleCount();
    void showRowDetails(int row);
    void updateDetails(int row);
    QString originalNoticeMessage() const;
    void showInViewer(int file);
    void stepViewer(int step);
    std::optional<Parameters> usableParameters();
    void chooseAndExport();
    void connectBatch(const BatchRun& batch);
    void showCancelButton();
    void beginResults(int total);
    void showProgressBar(int total);
    void showProgress(int done);
    void noteFileNotices(int file, const QStringList& notices);
    void appendComparison(const Comparison& result);
    void appendFailure(const QString& reason);
    void appendRow(const ResultRow& row);
    void finishBatch(const BatchOutcome& outcome);
    void abandonBatch(const QString& reason);
    void markUnreachedFiles(const QString& reason);
    void endBatch();
    void updateActions();

    Ui_QLumetraMainWindow ui;
    // Each parameter field's own tooltip, shown with its problem when it has one.
    FieldTexts _fieldToolTips;
    // What the form does not show: the score mapping (a profile's curve) and the switches'
    // base; the fields and boxes are read over it.
    Parameters _formBase;
    // The status bar's note of the profile loaded; absent until one is.
    std::unique_ptr<QLabel> _profileLabel;
    // The status bar's last word on the fields, cleared once they are mended.
    QString _fieldMessage;
    // The original of the next comparison, dropped or given without degraded files.
    QString _waitingOriginal;
    // The parameters of the batch running and, once it has begun, of the results shown.
    Parameters _resultParameters;
    QString _originalFile;
    QStringList _degradedFiles;
    // Entry k belongs to _degradedFiles[k] and table row k; empty when that file failed.
    std::vector<std::optional<Comparison>> _comparisons;
    // Why file k failed; empty for a scored file.
    QStringList _failures;
    // What file k calls for saying (a profile, an orientation, a colour space other than the
    // original's); the original's own; and the next file's, until its row is added.
    QList<QStringList> _fileNotices;
    QStringList _originalNotices;
    QStringList _nextNotices;
    // The parameters file k was scored with; rows whose parameters differ from the form's
    // are out of date.
    std::vector<Parameters> _fileParameters;
    // The running batch appends to the files shown instead of replacing them.
    bool _appending = false;
    // Files shown before the running batch's first (0 when it replaces them).
    int _batchBase = 0;
    // The status bar's note of results out of date; absent while none is.
    std::unique_ptr<QLabel> _staleLabel;
    // Writes the explanation maps of an export; the destructor waits for it.
    QFutureWatcher<QStringList> _mapExport;
    // The run's one comparison viewer, while open (it deletes itself when closed).
    QPointer<QLumetraComparisonViewer> _viewer;

    EngineFactory _engine;
    // The viewer's explainer; empty for the production one.
    Explainer _explainer;
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
    // Where the next map window opens.
    WindowCascade _cascade;
};

}  // namespace lumetra
