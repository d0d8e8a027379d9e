#include "app/QLumetraMainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMimeData>
#include <QModelIndex>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTableWidgetItem>
#include <QUrl>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "app/BatchRun.h"
#include "app/DialogFileChooser.h"
#include "app/FileNames.h"
#include "app/FileSaving.h"
#include "app/HelpText.h"
#include "app/MessageBoxNotifier.h"
#include "app/QLumetraComparisonViewer.h"
#include "app/QLumetraErrorMapDialog.h"
#include "app/ResultsCsv.h"
#include "engine/Profile.h"
#include "image/Error.h"

namespace lumetra {

namespace {

// Item data: the batch index of a row's file (on its file cell), and the number a cell sorts
// by (on its measure and score cells).
constexpr int kFileIndexRole = Qt::UserRole;
constexpr int kSortKeyRole = Qt::UserRole + 1;

// A field that holds no usable value: a red frame.
const char* const kProblemStyle = "QLineEdit { border: 2px solid #d02020; }";

// A table cell that sorts by its number when it has one, and by its text otherwise, so that
// "9" comes before "10" and failed rows sort as the worst.
class ResultItem : public QTableWidgetItem {
  public:
    using QTableWidgetItem::QTableWidgetItem;
    bool operator<(const QTableWidgetItem& other) const override {
        const QVariant mine = data(kSortKeyRole);
        const QVariant theirs = other.data(kSortKeyRole);
        if (mine.isValid() && theirs.isValid()) return mine.toDouble() < theirs.toDouble();
        return QTableWidgetItem::operator<(other);
    }
};

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

// The local files among dragged data, in the order given.
QStringList localFiles(const QMimeData* data) {
    QStringList files;
    if (!data) return files;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) files << url.toLocalFile();
    }
    return files;
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

    // Each field's tooltip ends with its default; every keystroke is judged at once.
    const FieldTexts defaults = parameterFieldTexts(Parameters{});
    const auto fields = parameterFields();
    for (std::size_t k = 0; k < fields.size(); ++k) {
        _fieldToolTips[k] = tr("%1 Default: %2.").arg(fields[k]->toolTip(), defaults[k]);
        connect(fields[k], &QLineEdit::textChanged, this, &QLumetraMainWindow::showFieldProblems);
    }
    QHeaderView* header = ui.tableWidget->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setStretchLastSection(true);
    ui.tableWidget->setHorizontalHeaderLabels(
        {tr("File name"), tr("Measure"), tr("Score"), tr("Note")});
    ui.tableWidget->verticalHeader()->hide();
    // Rows stay in the batch's order until the user clicks a column title.
    header->setSortIndicator(-1, Qt::AscendingOrder);
    ui.tableWidget->setSortingEnabled(true);
    // Inter-channel masking is not offered from the window.
    ui.checkBoxInterA->setEnabled(false);
    ui.checkBoxInterC1->setEnabled(false);
    ui.checkBoxInterC2->setEnabled(false);
    setupDefault();
    showFieldProblems();
}

// A running batch is cancelled and its file in progress waited for, before anything it reports
// to is destroyed.  The error map windows have no parent; they end with the main window.
QLumetraMainWindow::~QLumetraMainWindow() {
    _batch.reset();
    qDeleteAll(_errorMaps);
}

void QLumetraMainWindow::setupDefault() {
    showParameters(Parameters{});
}

// The fields, boxes and mapping of `parameters`.
void QLumetraMainWindow::showParameters(const Parameters& parameters) {
    _formBase = parameters;
    const FieldTexts texts = parameterFieldTexts(parameters);
    const auto fields = parameterFields();
    for (std::size_t k = 0; k < fields.size(); ++k) {
        fields[k]->setText(texts[k]);
        // Show each value from its first digit: a narrow field would otherwise show "00751".
        fields[k]->setCursorPosition(0);
    }
    const bool line = std::holds_alternative<LinearMapping>(parameters.mapping);
    const QString curve = line ? QString() : tr("logistic curve");
    for (QLineEdit* field : {ui.lineEditA, ui.lineEditB}) {
        field->setEnabled(line);
        field->setPlaceholderText(curve);
    }
    ui.checkBoxIntraA->setChecked(parameters.intraA);
    ui.checkBoxInterA->setChecked(parameters.interA);
    ui.checkBoxIntraC1->setChecked(parameters.intraC1);
    ui.checkBoxInterC1->setChecked(parameters.interC1);
    ui.checkBoxIntraC2->setChecked(parameters.intraC2);
    ui.checkBoxInterC2->setChecked(parameters.interC2);
}

bool QLumetraMainWindow::loadProfileFile(const QString& path) {
    Profile profile;
    try {
        profile = loadProfile(QFile::encodeName(path).toStdString());
    } catch (const ProfileError& e) {
        _notifier->warning(
            tr("Cannot load the profile.\n\n%1").arg(QString::fromStdString(e.what())));
        return false;
    }
    showParameters(profile.parameters);
    showProfile(path, profile.parameters.mapping);
    return true;
}

// A lasting note at the status bar's right: which profile is in use and how it scores.
void QLumetraMainWindow::showProfile(const QString& path, const ScoreMapping& mapping) {
    if (!_profileLabel) {
        _profileLabel = std::make_unique<QLabel>();
        _profileLabel->setObjectName(QStringLiteral("profileLabel"));
        ui.statusBar->addPermanentWidget(_profileLabel.get());
    }
    const QString scoring = QString::fromStdString(mappingText(mapping));
    _profileLabel->setText(tr("Profile %1: %2").arg(QFileInfo(path).fileName(), scoring));
    _profileLabel->setToolTip(path);
    ui.statusBar->showMessage(
        std::holds_alternative<LinearMapping>(mapping)
            ? tr("Profile %1 loaded: score line %2").arg(path, scoring)
            : tr("Profile %1 loaded: scores with a %2; the a and b fields do not apply")
                  .arg(path, scoring));
}

std::array<QLineEdit*, kParameterFieldCount> QLumetraMainWindow::parameterFields() const {
    return {ui.lineEditAlpha, ui.lineEditBeta, ui.lineEditCo,
            ui.lineEditA,     ui.lineEditB,    ui.lineEditPixelsPerDegree};
}

FormReading QLumetraMainWindow::readForm() const {
    FieldTexts texts;
    const auto fields = parameterFields();
    for (std::size_t k = 0; k < fields.size(); ++k) texts[k] = fields[k]->text();
    Parameters switches = _formBase;
    switches.intraA = ui.checkBoxIntraA->isChecked();
    switches.interA = ui.checkBoxInterA->isChecked();
    switches.intraC1 = ui.checkBoxIntraC1->isChecked();
    switches.interC1 = ui.checkBoxInterC1->isChecked();
    switches.intraC2 = ui.checkBoxIntraC2->isChecked();
    switches.interC2 = ui.checkBoxInterC2->isChecked();
    return readParameterFields(texts, switches);
}

// Marks each field that holds no usable value, says why in the status bar, and keeps "&New"
// disabled until every field is mended.
void QLumetraMainWindow::showFieldProblems() {
    const FormReading form = readForm();
    markFields(form.problems);
    showFieldMessage(form.message());
    updateActions();
}

// A red frame, and the problem under the field's own tooltip.
void QLumetraMainWindow::markFields(const FieldTexts& problems) {
    const auto fields = parameterFields();
    for (std::size_t k = 0; k < fields.size(); ++k) {
        const bool bad = !problems[k].isEmpty();
        fields[k]->setStyleSheet(bad ? QString::fromLatin1(kProblemStyle) : QString());
        fields[k]->setToolTip(bad ? _fieldToolTips[k] + QStringLiteral("\n\n") + problems[k]
                                  : _fieldToolTips[k]);
    }
}

// Once the fields are mended their message goes, unless another has replaced it since.
void QLumetraMainWindow::showFieldMessage(const QString& message) {
    if (!message.isEmpty()) {
        ui.statusBar->showMessage(message);
    } else if (!_fieldMessage.isEmpty() && ui.statusBar->currentMessage() == _fieldMessage) {
        ui.statusBar->clearMessage();
    }
    _fieldMessage = message;
}

// The form's parameters, or none when a field is unusable: the batch does not start, and the
// user is told which fields to mend.
std::optional<Parameters> QLumetraMainWindow::usableParameters() {
    const FormReading form = readForm();
    if (form.usable()) return form.parameters;
    _notifier->warning(tr("Cannot start the comparison.\n\n%1").arg(form.message()));
    return std::nullopt;
}

void QLumetraMainWindow::on_actionLoadProfile_triggered() {
    const QString path = _chooser->profile();
    if (!path.isEmpty()) loadProfileFile(path);
}

void QLumetraMainWindow::on_actionNew_triggered() {
    chooseAndRunBatch();
}

void QLumetraMainWindow::on_tableWidget_activated(const QModelIndex& index) {
    if (QLumetraComparisonViewer* viewer =
            newComparisonViewer(this, _originalFile, _degradedFiles, _comparisons,
                                _resultParameters, fileIndexOfRow(index.row()))) {
        showCascaded(*viewer, viewer->size());
    }
}

void QLumetraMainWindow::on_actionExportResults_triggered() {
    chooseAndExport();
}

void QLumetraMainWindow::on_actionQuit_triggered() {
    close();
}

void QLumetraMainWindow::on_actionHelp_triggered() {
    _notifier->information(tr("Lumetra help"), helpText());
}

void QLumetraMainWindow::on_actionAbout_triggered() {
    _notifier->information(tr("About Lumetra"), aboutText(QApplication::applicationVersion()));
}

// Either dialog cancelled: no run, and the window stays exactly as it was.
void QLumetraMainWindow::chooseAndRunBatch() {
    const QString original = _chooser->original();
    if (original.isEmpty()) return;
    const QStringList degraded = _chooser->degraded();
    if (degraded.isEmpty()) return;
    runBatch(original, degraded);
}

void QLumetraMainWindow::chooseAndExport() {
    const QString path = _chooser->resultsTarget();
    if (!path.isEmpty()) exportResults(withDefaultSuffix(path, QStringLiteral("csv")));
}

bool QLumetraMainWindow::runBatch(const QString& original, const QStringList& degraded) {
    if (_batch || degraded.isEmpty()) return false;  // one batch at a time, and something to do
    const std::optional<Parameters> parameters = usableParameters();
    if (!parameters) return false;
    _waitingOriginal.clear();  // this comparison has its original
    // The Comparison menu's colour and orientation settings, as --colour srgb and
    // --orientation apply.
    const ReadChoices reading{
        ui.actionConvertToSrgb->isChecked() ? ColourHandling::ToSrgb : ColourHandling::AsStored,
        ui.actionApplyOrientation->isChecked() ? OrientationHandling::Apply
                                               : OrientationHandling::AsStored};
    _batch = std::make_unique<BatchRun>(original, degraded, *parameters, _engine, nullptr, reading);
    connectBatch(*_batch);
    _titleBeforeBatch = windowTitle();
    setWindowTitle(original);
    ui.statusBar->showMessage(tr("Initializing lumetra"));
    showCancelButton();
    updateActions();
    if (!_batch->start()) abandonBatch(tr("No worker thread could be started."));
    return true;
}

void QLumetraMainWindow::openFiles(const QStringList& files) {
    if (files.isEmpty()) return;
    if (_batch) {
        ui.statusBar->showMessage(tr("A comparison is running: drop the files when it ends."));
        return;
    }
    QStringList degraded = files;
    const bool firstIsOriginal = _waitingOriginal.isEmpty();
    const QString original = firstIsOriginal ? degraded.takeFirst() : _waitingOriginal;
    _waitingOriginal = original;
    const QString name = QFileInfo(original).fileName();
    if (degraded.isEmpty()) {
        ui.statusBar->showMessage(
            tr("Original: %1 (the first file dropped). Drop the degraded files next.").arg(name));
        return;
    }
    if (!runBatch(original, degraded)) return;  // the original keeps waiting
    if (firstIsOriginal) {
        ui.statusBar->showMessage(tr("Original: %1 (the first file dropped)").arg(name));
    }
}

void QLumetraMainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!localFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void QLumetraMainWindow::dropEvent(QDropEvent* event) {
    const QStringList files = localFiles(event->mimeData());
    if (files.isEmpty()) return;
    event->acceptProposedAction();
    openFiles(files);
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
    _resultParameters = _batch->parameters();
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
    appendRow(comparisonRow(file, result));
}

void QLumetraMainWindow::appendFailure(const QString& reason) {
    const QString file = _degradedFiles.value(static_cast<qsizetype>(_comparisons.size()));
    _comparisons.emplace_back(std::nullopt);
    _failures.append(reason);
    appendRow(failureRow(file, reason));
    ui.statusBar->showMessage(reason);
}

// Sorting is paused while the row's cells go in (a sorted table would move the row after its
// first cell), and the table is sorted again as the user last asked.
void QLumetraMainWindow::appendRow(const ResultRow& row) {
    QTableWidget* table = ui.tableWidget;
    table->setSortingEnabled(false);
    const int at = table->rowCount();
    table->insertRow(at);
    for (int column = 0; column < row.cells.size(); ++column) {
        auto* item = new ResultItem(row.cells[column]);
        item->setToolTip(row.toolTip);
        table->setItem(at, column, item);
    }
    table->item(at, static_cast<int>(ResultColumn::File))
        ->setData(kFileIndexRole, static_cast<int>(_comparisons.size()) - 1);
    table->item(at, static_cast<int>(ResultColumn::Measure))->setData(kSortKeyRole, row.measureKey);
    table->item(at, static_cast<int>(ResultColumn::Score))->setData(kSortKeyRole, row.scoreKey);
    if (row.kind != RowKind::Scored) {
        const auto icon = row.kind == RowKind::Warning ? QStyle::SP_MessageBoxWarning
                                                       : QStyle::SP_MessageBoxCritical;
        table->item(at, static_cast<int>(ResultColumn::Note))->setIcon(style()->standardIcon(icon));
    }
    table->setSortingEnabled(true);
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
    // The names and numbers take the width they need, measured once over all the rows; the
    // note takes the rest.
    for (const ResultColumn column :
         {ResultColumn::File, ResultColumn::Measure, ResultColumn::Score}) {
        ui.tableWidget->resizeColumnToContents(static_cast<int>(column));
    }
    _batch.reset();
    ui.statusBar->removeWidget(_progressBar.get());
    _progressBar.reset();
    ui.statusBar->removeWidget(_cancelButton.get());
    _cancelButton.reset();
    updateActions();
}

int QLumetraMainWindow::fileIndexOfRow(int row) const {
    const QTableWidgetItem* item = ui.tableWidget->item(row, static_cast<int>(ResultColumn::File));
    return item ? item->data(kFileIndexRole).toInt() : -1;
}

QLumetraErrorMapDialog* QLumetraMainWindow::openErrorMap(int row) {
    const int file = fileIndexOfRow(row);
    if (file < 0 || static_cast<std::size_t>(file) >= _comparisons.size()) return nullptr;
    const std::optional<Comparison>& result = _comparisons[static_cast<std::size_t>(file)];
    if (!result) return nullptr;  // a failed file has no map
    auto* dialog = new QLumetraErrorMapDialog(_originalFile, _degradedFiles[file], result->err());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // Closing the main window ends the program even while maps are open.
    dialog->setAttribute(Qt::WA_QuitOnClose, false);
    _errorMaps.removeAll(nullptr);
    _errorMaps.append(dialog);
    showCascaded(*dialog, dialog->wantedSize());
    return dialog;
}

void QLumetraMainWindow::showCascaded(QWidget& window, QSize wanted) {
    const QRect place = _cascade.next(wanted, screen()->availableGeometry());
    window.resize(place.size());
    window.move(place.topLeft());
    window.show();
}

bool QLumetraMainWindow::exportResults(const QString& path) {
    const QByteArray csv =
        resultsCsv({_originalFile, _resultParameters}, _degradedFiles, _comparisons, _failures)
            .toUtf8();
    const QString problem = saveBytes(path, csv);
    if (problem.isEmpty()) return true;
    _notifier->warning(tr("The results were not exported: %1").arg(problem));
    return false;
}

void QLumetraMainWindow::updateActions() {
    ui.actionNew->setEnabled(!_batch && _fieldMessage.isEmpty());
    ui.actionExportResults->setEnabled(!_batch && !_comparisons.empty());
}

}  // namespace lumetra
