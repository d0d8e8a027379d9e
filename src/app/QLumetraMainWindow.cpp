#include "app/QLumetraMainWindow.h"

#include <QCoreApplication>
#include <QDoubleValidator>
#include <QHeaderView>
#include <QLocale>
#include <QModelIndex>
#include <QProgressBar>
#include <QSaveFile>
#include <QTableWidgetItem>
#include <functional>
#include <new>
#include <utility>

#include "app/BatchRun.h"
#include "app/DialogFileChooser.h"
#include "app/MessageBoxNotifier.h"
#include "app/QLumetraErrorMapDialog.h"
#include "app/ResultFormat.h"
#include "app/ResultsCsv.h"
#include "image/Error.h"

namespace lumetra {

namespace {

// The measure's default parameters, as the fields show them.
const char* const kDefaultAlpha = "1";
const char* const kDefaultBeta = "4";
const char* const kDefaultCo = "5";
const char* const kDefaultA = "0.000751";
const char* const kDefaultB = "3.8";

// A field validator that accepts exactly the numbers QString::toFloat reads when the run
// starts: C-locale notation without group separators (a default validator would let "1,000"
// or, in many locales, "3,8" through, and the run would then silently use 0).
QDoubleValidator* numberValidator(QObject* owner) {
    auto* validator = new QDoubleValidator(owner);
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    validator->setLocale(c);
    return validator;
}

// Marks a batch as running for the lifetime of the scope, whatever way the scope is left.
class RunningScope {
  public:
    RunningScope(bool& running, std::function<void()> changed)
        : _running(running), _changed(std::move(changed)) {
        _running = true;
        _changed();
    }
    RunningScope(const RunningScope&) = delete;
    RunningScope& operator=(const RunningScope&) = delete;
    ~RunningScope() {
        _running = false;
        _changed();
    }

  private:
    bool& _running;
    std::function<void()> _changed;
};

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

// The error map windows have no parent; they end with the program's main window.
QLumetraMainWindow::~QLumetraMainWindow() {
    qDeleteAll(_errorMaps);
}

void QLumetraMainWindow::setupDefault() {
    ui.lineEditAlpha->setText(QString::fromLatin1(kDefaultAlpha));
    ui.lineEditBeta->setText(QString::fromLatin1(kDefaultBeta));
    ui.lineEditCo->setText(QString::fromLatin1(kDefaultCo));
    ui.lineEditA->setText(QString::fromLatin1(kDefaultA));
    ui.lineEditB->setText(QString::fromLatin1(kDefaultB));
    ui.checkBoxIntraA->setChecked(true);
    ui.checkBoxIntraC1->setChecked(true);
    ui.checkBoxIntraC2->setChecked(true);
}

MeasureParameters QLumetraMainWindow::parameters() const {
    return {ui.lineEditAlpha->text().toFloat(), ui.lineEditBeta->text().toFloat(),
            ui.lineEditCo->text().toFloat(),    ui.lineEditA->text().toFloat(),
            ui.lineEditB->text().toFloat(),     ui.checkBoxIntraA->isChecked(),
            ui.checkBoxInterA->isChecked(),     ui.checkBoxIntraC1->isChecked(),
            ui.checkBoxInterC1->isChecked(),    ui.checkBoxIntraC2->isChecked(),
            ui.checkBoxInterC2->isChecked()};
}

void QLumetraMainWindow::on_actionNew_triggered() {
    chooseAndRunBatch();
}

void QLumetraMainWindow::on_tableWidget_doubleClicked(const QModelIndex& index) {
    openErrorMap(index.row());
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
    // The event loop runs between files, so "&New" could otherwise start a nested batch.
    if (_batchRunning) return;
    const RunningScope running(_batchRunning, [this] { updateActions(); });
    executeBatch(original, degraded);
}

// The one place where a batch's errors are caught: nothing may leave a slot by exception.
void QLumetraMainWindow::executeBatch(const QString& original, const QStringList& degraded) {
    BatchRun batch(original, degraded, parameters(), _engine);
    connect(&batch, &BatchRun::started, this,
            [&](int total) { beginResults(original, degraded, total); });
    connect(&batch, &BatchRun::progress, this, &QLumetraMainWindow::showProgress);
    connect(&batch, &BatchRun::compared, this, &QLumetraMainWindow::appendComparison);
    connect(&batch, &BatchRun::failed, this, &QLumetraMainWindow::appendFailure);

    const QString previousTitle = windowTitle();
    setWindowTitle(original);
    ui.statusBar->showMessage(tr("Initializing lumetra"));
    try {
        finishBatch(batch.run([] { QCoreApplication::processEvents(QEventLoop::AllEvents); }));
    } catch (const Error& e) {
        abandonBatch(original, previousTitle, QString::fromLocal8Bit(e.what()));
    } catch (const std::bad_alloc&) {
        abandonBatch(original, previousTitle, tr("Not enough memory."));
    }
}

// The engine is built: the new run's files replace the old ones and the table empties.
void QLumetraMainWindow::beginResults(const QString& original, const QStringList& degraded,
                                      int total) {
    ui.statusBar->clearMessage();
    _progressBar = std::make_unique<QProgressBar>(this);
    _progressBar->setRange(0, total);
    _progressBar->setTextVisible(true);
    ui.statusBar->addWidget(_progressBar.get(), 1);

    _originalFile = original;
    _degradedFiles = degraded;
    _comparisons.clear();
    _failures.clear();
    ui.tableWidget->setRowCount(0);
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

void QLumetraMainWindow::finishBatch(int failures) {
    ui.statusBar->removeWidget(_progressBar.get());
    _progressBar.reset();
    if (failures > 0) {
        ui.statusBar->showMessage(
            tr("%1 of %2 files failed").arg(failures).arg(_degradedFiles.size()));
    }
}

void QLumetraMainWindow::abandonBatch(const QString& original, const QString& previousTitle,
                                      const QString& reason) {
    if (!_progressBar) {
        // The original or the engine failed: nothing was replaced, the previous run stays.
        setWindowTitle(previousTitle);
        ui.statusBar->clearMessage();
        _notifier->warning(
            tr("Cannot compare against the original \"%1\".\n\n%2").arg(original, reason));
        return;
    }
    // Stopped part-way: the files not reached still get their rows, so that rows, files and
    // results stay aligned.
    const QString notCompared = tr("not compared: %1").arg(reason);
    while (_comparisons.size() < static_cast<std::size_t>(_degradedFiles.size())) {
        appendFailure(notCompared);
    }
    ui.statusBar->removeWidget(_progressBar.get());
    _progressBar.reset();
    _notifier->warning(tr("The comparison against \"%1\" stopped.\n\n%2").arg(original, reason));
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
    ui.actionNew->setEnabled(!_batchRunning);
    ui.actionExportResults->setEnabled(!_batchRunning && !_comparisons.empty());
}

}  // namespace lumetra
