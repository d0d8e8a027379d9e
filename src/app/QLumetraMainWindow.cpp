#include "app/QLumetraMainWindow.h"

#include <QCloseEvent>
#include <QDoubleValidator>
#include <QHeaderView>
#include <QLocale>
#include <QModelIndex>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QTableWidgetItem>
#include <string>
#include <utility>
#include <vector>

#include "app/BatchRun.h"
#include "app/DialogFileChooser.h"
#include "app/MessageBoxNotifier.h"
#include "app/QLumetraComparisonViewer.h"
#include "app/QLumetraErrorMapDialog.h"
#include "app/ResultFormat.h"
#include "app/ResultsCsv.h"
#include "args/NumberText.h"
#include "image/Error.h"

namespace lumetra {

namespace {

// A field validator that accepts the numbers readFloat reads when the run starts: C-locale
// notation without group separators (a default validator would let "1,000" or, in many
// locales, "3,8" through).  Text on the way to a number ("", "-", "1e") can still be left in
// a field; the run then refuses to start.
QDoubleValidator* numberValidator(QObject* owner) {
    auto* validator = new QDoubleValidator(owner);
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    validator->setLocale(c);
    return validator;
}

// The status bar's word on a batch that ended: nothing when every file was scored.
QString outcomeMessage(const BatchOutcome& outcome) {
    if (outcome.cancelled()) {
        const QString cancelled = QLumetraMainWindow::tr("Cancelled after %1 of %2 files")
                                      .arg(outcome.done)
                                      .arg(outcome.total);
        if (outcome.failures == 0) return cancelled;
        return QLumetraMainWindow::tr("%1, %2 failed").arg(cancelled).arg(outcome.failures);
    }
    if (outcome.failures == 0) return QString();
    return QLumetraMainWindow::tr("%1 of %2 files failed").arg(outcome.failures).arg(outcome.total);
}

}  // namespace

QLumetraMainWindow::QLumetraMainWindow(EngineFactory engine, std::unique_ptr<FileChooser> chooser,
                                       std::unique_ptr<Notifier> notifier)
    : QMainWindow(nullptr),
      _engine(std::move(engine)),
      _chooser(std::move(chooser)),
      _notifier(std::move(notifier)) {
    ui.setupUi(this);
    if (!_chooser) _chooser = std::make_unique<DialogFileChooser>(this);
    if (!_notifier) _notifier = std::make_unique<MessageBoxNotifier>(this);

    for (QLineEdit* field :
         {ui.lineEditAlpha, ui.lineEditBeta, ui.lineEditCo, ui.lineEditA, ui.lineEditB}) {
        field->setValidator(numberValidator(field));
    }
    ui.tableWidget->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    ui.tableWidget->setHorizontalHeaderLabels({tr("File name"), tr("Measure"), tr("Score")});
    ui.tableWidget->verticalHeader()->hide();
    // Inter-channel masking is not offered from the window.
    ui.checkBoxInterA->setEnabled(false);
    ui.checkBoxInterC1->setEnabled(false);
    ui.checkBoxInterC2->setEnabled(false);
    setupDefault();
    updateActions();
}

// A running batch is cancelled and its file in progress waited for, before anything it reports
// to is destroyed.  The error map windows have no parent; they end with the main window.
QLumetraMainWindow::~QLumetraMainWindow() {
    _batch.reset();
    qDeleteAll(_errorMaps);
}

void QLumetraMainWindow::setupDefault() {
    const Parameters defaults;
    const auto show = [](QLineEdit* field, float value) {
        field->setText(QString::fromStdString(shortestText(value)));
    };
    show(ui.lineEditAlpha, defaults.alpha);
    show(ui.lineEditBeta, defaults.beta);
    show(ui.lineEditCo, defaults.co);
    show(ui.lineEditA, defaults.a);
    show(ui.lineEditB, defaults.b);
    // Show each value from its first digit: a narrow field would otherwise show "00751".
    for (QLineEdit* field :
         {ui.lineEditAlpha, ui.lineEditBeta, ui.lineEditCo, ui.lineEditA, ui.lineEditB}) {
        field->setCursorPosition(0);
    }
    ui.checkBoxIntraA->setChecked(true);
    ui.checkBoxIntraC1->setChecked(true);
    ui.checkBoxIntraC2->setChecked(true);
}

// The fields are named as Parameters names its values, so that both kinds of message read
// alike.  Every field is read before anything is thrown: the message names them all.
Parameters QLumetraMainWindow::parameters() const {
    Parameters p;
    std::string unread;
    const auto read = [&unread](const QLineEdit* field, const char* name, float& value) {
        const std::string text = field->text().toStdString();
        if (const std::optional<float> number = readFloat(text)) {
            value = *number;
            return;
        }
        if (!unread.empty()) unread += "; ";
        unread += std::string(name) + " must be a number (got \"" + text + "\")";
    };
    read(ui.lineEditAlpha, "alpha", p.alpha);
    read(ui.lineEditBeta, "beta", p.beta);
    read(ui.lineEditCo, "co", p.co);
    read(ui.lineEditA, "a", p.a);
    read(ui.lineEditB, "b", p.b);
    if (!unread.empty()) throw ParameterError(unread);
    p.intraA = ui.checkBoxIntraA->isChecked();
    p.interA = ui.checkBoxInterA->isChecked();
    p.intraC1 = ui.checkBoxIntraC1->isChecked();
    p.interC1 = ui.checkBoxInterC1->isChecked();
    p.intraC2 = ui.checkBoxIntraC2->isChecked();
    p.interC2 = ui.checkBoxInterC2->isChecked();
    p.validate();
    return p;
}

// The one place the window catches a parameter error: the batch does not start, and the user
// is told which fields to mend.
std::optional<Parameters> QLumetraMainWindow::usableParameters() {
    try {
        return parameters();
    } catch (const ParameterError& e) {
        _notifier->warning(
            tr("Cannot start the comparison.\n\n%1").arg(QString::fromUtf8(e.what())));
        return std::nullopt;
    }
}

void QLumetraMainWindow::on_actionNew_triggered() {
    chooseAndRunBatch();
}

void QLumetraMainWindow::on_tableWidget_activated(const QModelIndex& index) {
    openComparisonViewer(this, _originalFile, _degradedFiles, _comparisons, _runParameters,
                         index.row());
}

void QLumetraMainWindow::on_actionExportResults_triggered() {
    chooseAndExport();
}

void QLumetraMainWindow::chooseAndRunBatch() {
    const QString original = _chooser->original();
    if (original.isEmpty()) return;  // cancelled: no run, the previous results stay
    runBatch(original, _chooser->degraded());
}

void QLumetraMainWindow::chooseAndExport() {
    const QString path = _chooser->resultsTarget();
    if (!path.isEmpty()) exportResults(path);
}

void QLumetraMainWindow::runBatch(const QString& original, const QStringList& degraded) {
    if (_batch) return;  // one batch at a time
    const std::optional<Parameters> parameters = usableParameters();
    if (!parameters) return;
    _batch = std::make_unique<BatchRun>(original, degraded, *parameters, _engine);
    connectBatch(*_batch);
    _titleBeforeBatch = windowTitle();
    setWindowTitle(original);
    ui.statusBar->showMessage(tr("Initializing lumetra"));
    showCancelButton();
    updateActions();
    if (!_batch->start()) abandonBatch(tr("No worker thread could be started."));
}

void QLumetraMainWindow::cancelBatch() {
    if (!_batch) return;
    _batch->cancel();
    if (_cancelButton) _cancelButton->setEnabled(false);  // it has been heard
}

void QLumetraMainWindow::closeEvent(QCloseEvent* event) {
    cancelBatch();
    QMainWindow::closeEvent(event);
}

// The batch signals from its worker thread; queued, they reach the window in its own thread in
// the order they were sent.  Errors arrive as failed() for one file and as abandoned() for the
// original or the engine set-up: no exception reaches this thread.
void QLumetraMainWindow::connectBatch(const BatchRun& batch) {
    const auto queued = Qt::QueuedConnection;
    connect(&batch, &BatchRun::started, this, &QLumetraMainWindow::beginResults, queued);
    connect(&batch, &BatchRun::progress, this, &QLumetraMainWindow::showProgress, queued);
    connect(&batch, &BatchRun::compared, this, &QLumetraMainWindow::appendComparison, queued);
    connect(&batch, &BatchRun::failed, this, &QLumetraMainWindow::appendFailure, queued);
    connect(&batch, &BatchRun::finished, this, &QLumetraMainWindow::finishBatch, queued);
    connect(&batch, &BatchRun::abandoned, this, &QLumetraMainWindow::abandonBatch, queued);
}

// The engine is built: the new run's files replace the old ones and the table empties.
void QLumetraMainWindow::beginResults(int total) {
    ui.statusBar->clearMessage();
    showProgressBar(total);
    _originalFile = _batch->original();
    _degradedFiles = _batch->degraded();
    _runParameters = _batch->parameters();
    _comparisons.clear();
    _failures.clear();
    ui.tableWidget->setRowCount(0);
}

// Permanent, so that the status bar's messages ("Initializing lumetra", a failed file's
// reason) do not hide it as they hide the progress bar.
void QLumetraMainWindow::showCancelButton() {
    _cancelButton = std::make_unique<QPushButton>(tr("Cancel"), this);
    _cancelButton->setObjectName(QStringLiteral("cancelButton"));
    connect(_cancelButton.get(), &QPushButton::clicked, this, &QLumetraMainWindow::cancelBatch);
    ui.statusBar->addPermanentWidget(_cancelButton.get());
}

void QLumetraMainWindow::showProgressBar(int total) {
    _progressBar = std::make_unique<QProgressBar>(this);
    _progressBar->setRange(0, total);
    _progressBar->setTextVisible(true);
    ui.statusBar->addWidget(_progressBar.get(), 1);
}

void QLumetraMainWindow::showProgress(int done) {
    _progressBar->setValue(done);
}

void QLumetraMainWindow::appendComparison(const Comparison& result) {
    const QString file = _degradedFiles.value(static_cast<qsizetype>(_comparisons.size()));
    _comparisons.emplace_back(result);
    _failures.append(QString());
    appendRow(comparisonCells(file, result), QString());
}

void QLumetraMainWindow::appendFailure(const QString& reason) {
    const QString file = _degradedFiles.value(static_cast<qsizetype>(_comparisons.size()));
    _comparisons.emplace_back(std::nullopt);
    _failures.append(reason);
    appendRow(failureCells(file), reason);
    ui.statusBar->showMessage(reason);
}

void QLumetraMainWindow::appendRow(const QStringList& cells, const QString& toolTip) {
    const int row = ui.tableWidget->rowCount();
    ui.tableWidget->insertRow(row);
    for (int column = 0; column < cells.size(); ++column) {
        auto* item = new QTableWidgetItem(cells[column]);
        if (!toolTip.isEmpty()) item->setToolTip(toolTip);
        ui.tableWidget->setItem(row, column, item);
    }
}

// Files a cancelled run never reached are dropped: files, results and rows stay aligned.  A
// run cancelled before its engine was ready replaced nothing: the previous run stays.
void QLumetraMainWindow::finishBatch(const BatchOutcome& outcome) {
    const bool resultsReplaced = _progressBar != nullptr;
    if (resultsReplaced) {
        _degradedFiles = _degradedFiles.first(outcome.done);
    } else {
        setWindowTitle(_titleBeforeBatch);
    }
    endBatch();
    ui.statusBar->showMessage(resultsReplaced ? outcomeMessage(outcome) : tr("Cancelled"));
    emit batchFinished();
}

// When the original or the engine failed nothing was replaced and the previous run stays.
void QLumetraMainWindow::abandonBatch(const QString& reason) {
    const QString original = _batch->original();
    const bool resultsReplaced = _progressBar != nullptr;
    if (resultsReplaced) {
        markUnreachedFiles(tr("not compared: %1").arg(reason));
    } else {
        setWindowTitle(_titleBeforeBatch);
        ui.statusBar->clearMessage();
    }
    endBatch();
    _notifier->warning((resultsReplaced ? tr("The comparison against \"%1\" stopped.\n\n%2")
                                        : tr("Cannot compare against the original \"%1\".\n\n%2"))
                           .arg(original, reason));
    emit batchFinished();
}

// Stopped part-way: the files not reached still get their rows, so that rows, files and
// results stay aligned.
void QLumetraMainWindow::markUnreachedFiles(const QString& reason) {
    while (_comparisons.size() < static_cast<std::size_t>(_degradedFiles.size())) {
        appendFailure(reason);
    }
}

// The batch has sent its last signal: its worker thread ends at once and is joined here.
void QLumetraMainWindow::endBatch() {
    _batch.reset();
    ui.statusBar->removeWidget(_progressBar.get());
    _progressBar.reset();
    ui.statusBar->removeWidget(_cancelButton.get());
    _cancelButton.reset();
    updateActions();
}

QLumetraErrorMapDialog* QLumetraMainWindow::openErrorMap(int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= _comparisons.size()) return nullptr;
    const std::optional<Comparison>& result = _comparisons[static_cast<std::size_t>(row)];
    if (!result) return nullptr;  // a failed file has no map
    auto* dialog = new QLumetraErrorMapDialog(_originalFile, _degradedFiles[row], result->err());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // Closing the main window ends the program even while maps are open.
    dialog->setAttribute(Qt::WA_QuitOnClose, false);
    _errorMaps.removeAll(nullptr);
    _errorMaps.append(dialog);
    dialog->show();
    return dialog;
}

bool QLumetraMainWindow::exportResults(const QString& path) {
    const QByteArray csv = resultsCsv(_degradedFiles, _comparisons, _failures).toUtf8();
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(csv) == csv.size() && file.commit()) {
        return true;
    }
    _notifier->warning(tr("Cannot write the results to \"%1\": %2").arg(path, file.errorString()));
    return false;
}

void QLumetraMainWindow::updateActions() {
    ui.actionNew->setEnabled(!_batch);
    ui.actionExportResults->setEnabled(!_batch && !_comparisons.empty());
}

}  // namespace lumetra
