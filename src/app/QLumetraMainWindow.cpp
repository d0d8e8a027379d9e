#include "app/QLumetraMainWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
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
#include <QSet>
#include <QSettings>
#include <QStyle>
#include <QTableWidgetItem>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "app/BatchRun.h"
#include "app/DialogFileChooser.h"
#include "app/ErrorMapPicture.h"
#include "app/FileNames.h"
#include "app/FileSaving.h"
#include "app/HelpText.h"
#include "app/Lumetra2Explainer.h"
#include "app/MessageBoxNotifier.h"
#include "app/QLumetraComparisonViewer.h"
#include "app/QLumetraErrorMapDialog.h"
#include "app/ResultsCsv.h"
#include "app/ViewerData.h"
#include "app/ViewerMaps.h"
#include "engine/Profile.h"
#include "image/Error.h"
#include "image/ErrorMapImage.h"
#include "image/HeatMap.h"
#include "image/Percentiles.h"
#include "image/RgbImage.h"

namespace lumetra {

namespace {

// Item data: the batch index of a row's file (on its file cell), the number a cell sorts by
// (on its measure and score cells), and the note the row had when it was scored (on its note
// cell), which an out-of-date mark covers until the row is current again.
constexpr int kFileIndexRole = Qt::UserRole;
constexpr int kSortKeyRole = Qt::UserRole + 1;
constexpr int kNoteRole = Qt::UserRole + 2;
constexpr int kStaleRole = Qt::UserRole + 3;

// A field that holds no usable value is flagged red through its palette's base colour, and
// its "problem" property says so.  A style sheet would draw a red frame, but a widget under a
// style sheet takes the application's font instead of the window's: the field shrank, and
// the form shifted.
constexpr QRgb kProblemBase = qRgb(0xff, 0xc8, 0xc8);
const char* const kProblemProperty = "problem";

// Room around a file name in its cell (the item's margins and a little air), in pixels.
constexpr int kCellPadding = 16;

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

// `one` for a count of 1, else `many` with the count for its %1.
QString counted(int count, const QString& one, const QString& many) {
    return count == 1 ? one : many.arg(count);
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
    setWindowTitle(tr("Lumetra"));
    if (!_chooser) _chooser = std::make_unique<DialogFileChooser>(this);
    if (!_notifier) _notifier = std::make_unique<MessageBoxNotifier>(this);

    // Each field's tooltip ends with its default; every keystroke is judged at once.
    const FieldTexts defaults = parameterFieldTexts(Parameters{});
    const auto fields = parameterFields();
    for (std::size_t k = 0; k < fields.size(); ++k) {
        _fieldToolTips[k] = tr("%1 Default: %2.").arg(fields[k]->toolTip(), defaults[k]);
        connect(fields[k], &QLineEdit::textChanged, this, &QLumetraMainWindow::showFieldProblems);
    }
    for (QCheckBox* box : {ui.checkBoxIntraA, ui.checkBoxInterA, ui.checkBoxIntraC1,
                           ui.checkBoxInterC1, ui.checkBoxIntraC2, ui.checkBoxInterC2}) {
        connect(box, &QCheckBox::toggled, this, &QLumetraMainWindow::showFieldProblems);
    }
    connect(&_mapExport, &QFutureWatcher<QStringList>::finished, this,
            &QLumetraMainWindow::finishMapExport);
    connect(ui.tableWidget, &QTableWidget::currentCellChanged, this,
            [this](int row) { showRowDetails(row); });
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
    restoreSettings();
    showFieldProblems();
}

// The window's place, the table's columns and the form's parameters as the last run left
// them.  The parameters are kept as a profile's JSON text, so that a profile's mapping comes
// back with them; a text this version cannot read leaves the defaults.
void QLumetraMainWindow::restoreSettings() {
    const QSettings settings;
    restoreGeometry(settings.value(QStringLiteral("mainWindow/geometry")).toByteArray());
    restoreState(settings.value(QStringLiteral("mainWindow/state")).toByteArray());
    ui.tableWidget->horizontalHeader()->restoreState(
        settings.value(QStringLiteral("mainWindow/columns")).toByteArray());
    const QString model = settings.value(QStringLiteral("model/parameters")).toString();
    if (model.isEmpty()) return;
    try {
        showParameters(parseProfile(model.toStdString(), "settings").parameters);
    } catch (const ProfileError&) {
        // Written by another version, or edited by hand: the defaults stay.
    }
}

// The form's parameters are kept only when usable, so that a field left half-typed does not
// spoil the next start.
void QLumetraMainWindow::saveSettings() const {
    QSettings settings;
    settings.setValue(QStringLiteral("mainWindow/geometry"), saveGeometry());
    settings.setValue(QStringLiteral("mainWindow/state"), saveState());
    settings.setValue(QStringLiteral("mainWindow/columns"),
                      ui.tableWidget->horizontalHeader()->saveState());
    const FormReading form = readForm();
    if (form.usable()) {
        Profile profile;
        profile.parameters = form.parameters;
        settings.setValue(QStringLiteral("model/parameters"),
                          QString::fromStdString(profileJson(profile)));
    }
}

// A running batch is cancelled and its file in progress waited for, before anything it reports
// to is destroyed.  The error map windows have no parent; they end with the main window.
QLumetraMainWindow::~QLumetraMainWindow() {
    _batch.reset();
    _mapExport.waitForFinished();  // no map file is left half written
    qDeleteAll(_errorMaps);
    delete _viewer.data();
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
    // The lasting note says which profile and how it scores; the passing message adds only
    // what the note does not.
    if (std::holds_alternative<LinearMapping>(mapping)) {
        ui.statusBar->clearMessage();
    } else {
        ui.statusBar->showMessage(tr("The a and b fields do not apply to a logistic curve."));
    }
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

// Flags each field that holds no usable value, says why in the status bar, and keeps "&New"
// disabled until every field is mended.
void QLumetraMainWindow::showFieldProblems() {
    const FormReading form = readForm();
    markFields(form.problems);
    showFieldMessage(form.message());
    markStaleRows();
    updateActions();
}

// A red ground, and the problem under the field's own tooltip.
void QLumetraMainWindow::markFields(const FieldTexts& problems) {
    const auto fields = parameterFields();
    for (std::size_t k = 0; k < fields.size(); ++k) {
        const bool bad = !problems[k].isEmpty();
        if (fields[k]->property(kProblemProperty).toBool() != bad) {
            fields[k]->setProperty(kProblemProperty, bad);
            QPalette flagged = palette();
            flagged.setColor(QPalette::Base, QColor(kProblemBase));
            flagged.setColor(QPalette::Text, Qt::black);
            // An empty palette gives the field back the window's.
            fields[k]->setPalette(bad ? flagged : QPalette());
        }
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
    openViewer(index.row());
}

void QLumetraMainWindow::on_actionAddFiles_triggered() {
    if (_originalFile.isEmpty()) {
        chooseAndRunBatch();  // nothing to add to yet: a new comparison
        return;
    }
    const QStringList degraded = _chooser->degraded();
    if (!degraded.isEmpty()) addFiles(degraded);
}

void QLumetraMainWindow::on_actionReplaceOriginal_triggered() {
    const QString original = _chooser->original();
    if (original.isEmpty()) return;
    if (_degradedFiles.isEmpty()) {
        _waitingOriginal = original;
        ui.statusBar->showMessage(
            tr("Original: %1. Add the degraded files next.").arg(QFileInfo(original).fileName()));
        return;
    }
    if (!mayDiscardResults(tr("Compare %1 with \"%2\" instead?")
                               .arg(counted(static_cast<int>(_degradedFiles.size()), tr("the file"),
                                            tr("the %1 files")),
                                    QFileInfo(original).fileName()))) {
        return;
    }
    runBatch(original, _degradedFiles);
}

void QLumetraMainWindow::on_actionReload_triggered() {
    rescore();
}

void QLumetraMainWindow::on_actionRescore_triggered() {
    rescore();
}

void QLumetraMainWindow::on_actionExportMaps_triggered() {
    const QString folder = _chooser->exportFolder();
    if (!folder.isEmpty()) exportMaps(folder);
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
    if (!mayDiscardResults(
            tr("Start a new comparison against \"%1\"?").arg(QFileInfo(original).fileName()))) {
        return;
    }
    runBatch(original, degraded);
}

// Results would be lost: the user is asked first.  True when there are none, or the user
// agrees.
bool QLumetraMainWindow::mayDiscardResults(const QString& question) {
    if (_comparisons.empty()) return true;
    return _notifier->confirm(tr("%1\n\n%2 against \"%3\" will be discarded.")
                                  .arg(question,
                                       counted(static_cast<int>(_comparisons.size()),
                                               tr("The result"), tr("The %1 results")),
                                       QFileInfo(_originalFile).fileName()));
}

bool QLumetraMainWindow::addFiles(const QStringList& degraded) {
    if (_originalFile.isEmpty()) return false;
    return startBatch(_originalFile, degraded, true);
}

bool QLumetraMainWindow::rescore() {
    if (_originalFile.isEmpty() || _degradedFiles.isEmpty()) return false;
    return runBatch(_originalFile, _degradedFiles);
}

void QLumetraMainWindow::chooseAndExport() {
    const QString path = _chooser->resultsTarget();
    if (!path.isEmpty()) exportResults(withDefaultSuffix(path, QStringLiteral("csv")));
}

bool QLumetraMainWindow::runBatch(const QString& original, const QStringList& degraded) {
    return startBatch(original, degraded, false);
}

bool QLumetraMainWindow::startBatch(const QString& original, const QStringList& degraded,
                                    bool append) {
    if (_batch || degraded.isEmpty()) return false;  // one batch at a time, and something to do
    const std::optional<Parameters> parameters = usableParameters();
    if (!parameters) return false;
    _waitingOriginal.clear();  // this comparison has its original
    _appending = append;
    // The Comparison menu's colour and orientation settings, as --colour srgb and
    // --orientation apply.
    const ReadChoices reading{
        ui.actionConvertToSrgb->isChecked() ? ColourHandling::ToSrgb : ColourHandling::AsStored,
        ui.actionApplyOrientation->isChecked() ? OrientationHandling::Apply
                                               : OrientationHandling::AsStored};
    _batch = std::make_unique<BatchRun>(original, degraded, *parameters, _engine, nullptr, reading);
    connectBatch(*_batch);
    _titleBeforeBatch = windowTitle();
    setWindowTitle(tr("%1 - Lumetra").arg(QFileInfo(original).fileName()));
    ui.statusBar->showMessage(tr("Initializing lumetra"));
    showCancelButton();
    updateActions();
    if (!_batch->start()) abandonBatch(tr("No worker thread could be started."));
    return true;
}

void QLumetraMainWindow::openFiles(const QStringList& files, FileSource source) {
    if (files.isEmpty()) return;
    if (_batch) {
        ui.statusBar->showMessage(tr("A comparison is running: drop the files when it ends."));
        return;
    }
    // Results are shown: the files join them, compared with the same original.
    if (!_originalFile.isEmpty()) {
        addFiles(files);
        return;
    }
    QStringList degraded = files;
    const bool firstIsOriginal = _waitingOriginal.isEmpty();
    const QString original = firstIsOriginal ? degraded.takeFirst() : _waitingOriginal;
    _waitingOriginal = original;
    const QString name = QFileInfo(original).fileName();
    const QString which =
        source == FileSource::Dropped ? tr("the first file dropped") : tr("the first file given");
    if (degraded.isEmpty()) {
        ui.statusBar->showMessage(
            source == FileSource::Dropped
                ? tr("Original: %1 (%2). Drop the degraded files next.").arg(name, which)
                : tr("Original: %1 (%2). Drop or add the degraded files next.").arg(name, which));
        return;
    }
    if (!runBatch(original, degraded)) return;  // the original keeps waiting
    if (firstIsOriginal) ui.statusBar->showMessage(tr("Original: %1 (%2)").arg(name, which));
}

void QLumetraMainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!localFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void QLumetraMainWindow::dropEvent(QDropEvent* event) {
    const QStringList files = localFiles(event->mimeData());
    if (files.isEmpty()) return;
    event->acceptProposedAction();
    openFiles(files, FileSource::Dropped);
}

void QLumetraMainWindow::cancelBatch() {
    if (!_batch) return;
    _batch->cancel();
    if (_cancelButton) _cancelButton->setEnabled(false);  // it has been heard
}

void QLumetraMainWindow::closeEvent(QCloseEvent* event) {
    saveSettings();
    if (_viewer) _viewer->close();
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
    connect(&batch, &BatchRun::noticed, this, &QLumetraMainWindow::noteFileNotices, queued);
    connect(&batch, &BatchRun::compared, this, &QLumetraMainWindow::appendComparison, queued);
    connect(&batch, &BatchRun::failed, this, &QLumetraMainWindow::appendFailure, queued);
    connect(&batch, &BatchRun::finished, this, &QLumetraMainWindow::finishBatch, queued);
    connect(&batch, &BatchRun::abandoned, this, &QLumetraMainWindow::abandonBatch, queued);
}

// The engine is built: the new run's files replace the old ones and the table empties, or
// the files added join those shown.
void QLumetraMainWindow::beginResults(int total) {
    ui.statusBar->clearMessage();
    showProgressBar(total);
    _resultParameters = _batch->parameters();
    if (_appending) {
        _batchBase = static_cast<int>(_degradedFiles.size());
        _degradedFiles += _batch->degraded();
        return;
    }
    _batchBase = 0;
    _originalFile = _batch->original();
    _degradedFiles = _batch->degraded();
    _comparisons.clear();
    _fileParameters.clear();
    _failures.clear();
    _fileNotices.clear();
    _originalNotices.clear();
    ui.tableWidget->setRowCount(0);
    ui.detailsLabel->clear();
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

// The original's notices go to the status bar at once (they hold for every row) and to the
// details under the table; a degraded file's wait for its row.
void QLumetraMainWindow::noteFileNotices(int file, const QStringList& notices) {
    if (file >= 0) {
        _nextNotices = notices;
        return;
    }
    _originalNotices = notices;
    ui.statusBar->showMessage(originalNoticeMessage());
}

// "Original \"a.png\": declares ...; ..." when the original calls for saying something.
QString QLumetraMainWindow::originalNoticeMessage() const {
    if (_originalNotices.isEmpty()) return QString();
    return tr("Original \"%1\": %2")
        .arg(QFileInfo(_originalFile).fileName(), _originalNotices.join(QStringLiteral("; ")));
}

void QLumetraMainWindow::appendComparison(const Comparison& result) {
    const QString file = _degradedFiles.value(static_cast<qsizetype>(_comparisons.size()));
    _comparisons.emplace_back(result);
    _fileParameters.push_back(_batch->parameters());
    _failures.append(QString());
    _fileNotices.append(std::exchange(_nextNotices, {}));
    appendRow(withNotices(comparisonRow(file, result), _fileNotices.last()));
}

void QLumetraMainWindow::appendFailure(const QString& reason) {
    const QString file = _degradedFiles.value(static_cast<qsizetype>(_comparisons.size()));
    _comparisons.emplace_back(std::nullopt);
    _fileParameters.push_back(_batch->parameters());
    _failures.append(reason);
    _fileNotices.append(std::exchange(_nextNotices, {}));
    appendRow(withNotices(failureRow(file, reason), _fileNotices.last()));
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
    table->item(at, static_cast<int>(ResultColumn::Note))->setData(kNoteRole, row.cells.value(3));
    // The name stays readable while the run goes on: its column widens to the longest so far
    // (measured per row, not over the whole table, which would cost a pass per file).
    const int nameWidth = table->fontMetrics().horizontalAdvance(row.cells.value(0)) + kCellPadding;
    const int nameColumn = static_cast<int>(ResultColumn::File);
    if (table->columnWidth(nameColumn) < nameWidth) table->setColumnWidth(nameColumn, nameWidth);
    if (row.kind != RowKind::Scored) {
        const auto icon = row.kind == RowKind::Warning ? QStyle::SP_MessageBoxWarning
                                                       : QStyle::SP_MessageBoxCritical;
        table->item(at, static_cast<int>(ResultColumn::Note))->setIcon(style()->standardIcon(icon));
    }
    markStaleRow(at, readForm());
    table->setSortingEnabled(true);
}

// Files a cancelled run never reached are dropped: files, results and rows stay aligned.  A
// run cancelled before its engine was ready replaced nothing: the previous run stays.
void QLumetraMainWindow::finishBatch(const BatchOutcome& outcome) {
    const bool resultsReplaced = _progressBar != nullptr;
    if (resultsReplaced) {
        _degradedFiles = _degradedFiles.first(_batchBase + outcome.done);
    } else {
        setWindowTitle(_titleBeforeBatch);
    }
    endBatch();
    QString message = resultsReplaced ? outcomeMessage(outcome) : tr("Cancelled");
    // Every file scored: what the original calls for saying stays in view.
    if (message.isEmpty()) message = originalNoticeMessage();
    ui.statusBar->showMessage(message);
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
    showStaleCount();
    ui.statusBar->removeWidget(_progressBar.get());
    _progressBar.reset();
    ui.statusBar->removeWidget(_cancelButton.get());
    _cancelButton.reset();
    updateActions();
}

// A scored row whose parameters differ from the form's is out of date: greyed, and its note
// says so until it is scored again (Rescore) or the form returns to its parameters.
void QLumetraMainWindow::markStaleRow(int row, const FormReading& form) {
    QTableWidget* table = ui.tableWidget;
    const int file = fileIndexOfRow(row);
    if (file < 0 || static_cast<std::size_t>(file) >= _fileParameters.size()) return;
    const bool stale = form.usable() && _comparisons[static_cast<std::size_t>(file)] &&
                       _fileParameters[static_cast<std::size_t>(file)] != form.parameters;
    QTableWidgetItem* note = table->item(row, static_cast<int>(ResultColumn::Note));
    if (!note || note->data(kStaleRole).toBool() == stale) return;
    note->setData(kStaleRole, stale);
    note->setText(stale ? tr("out of date: scored with other parameters; Rescore (Ctrl+R) "
                             "scores it again")
                        : note->data(kNoteRole).toString());
    for (int column = 0; column < kResultColumnCount; ++column) {
        QTableWidgetItem* item = table->item(row, column);
        if (!item) continue;
        if (stale) {
            item->setForeground(palette().brush(QPalette::Disabled, QPalette::Text));
        } else {
            item->setData(Qt::ForegroundRole, QVariant());
        }
    }
}

void QLumetraMainWindow::markStaleRows() {
    const FormReading form = readForm();
    QTableWidget* table = ui.tableWidget;
    const bool sorting = table->isSortingEnabled();
    table->setSortingEnabled(false);  // a note changed must not move its row
    for (int row = 0; row < table->rowCount(); ++row) markStaleRow(row, form);
    table->setSortingEnabled(sorting);
    showStaleCount();
    updateDetails(table->currentRow());
}

// A lasting note in the status bar while any row is out of date.
void QLumetraMainWindow::showStaleCount() {
    int stale = 0;
    for (int row = 0; row < ui.tableWidget->rowCount(); ++row) {
        const QTableWidgetItem* note =
            ui.tableWidget->item(row, static_cast<int>(ResultColumn::Note));
        if (note && note->data(kStaleRole).toBool()) ++stale;
    }
    if (stale == 0) {
        if (_staleLabel) ui.statusBar->removeWidget(_staleLabel.get());
        _staleLabel.reset();
    } else {
        if (!_staleLabel) {
            _staleLabel = std::make_unique<QLabel>();
            _staleLabel->setObjectName(QStringLiteral("staleLabel"));
            ui.statusBar->addPermanentWidget(_staleLabel.get());
            _staleLabel->show();
        }
        _staleLabel->setText(tr("%1 out of date: Ctrl+R rescores")
                                 .arg(counted(stale, tr("1 result"), tr("%1 results"))));
    }
    updateActions();
}

// The selected row in full under the table: the file's path and, when it failed or is out of
// date, why; a failure's reason goes to the status bar too.  An open viewer shows the file.
void QLumetraMainWindow::showRowDetails(int row) {
    updateDetails(row);
    const int file = fileIndexOfRow(row);
    if (file < 0 || file >= _degradedFiles.size()) return;
    const QString failure = _failures.value(file);
    if (!failure.isEmpty()) ui.statusBar->showMessage(failure);
    if (_viewer && _comparisons[static_cast<std::size_t>(file)]) showInViewer(file);
}

// The details under the table: the row's path, then its failure or note.
void QLumetraMainWindow::updateDetails(int row) {
    const int file = fileIndexOfRow(row);
    if (file < 0 || file >= _degradedFiles.size()) {
        ui.detailsLabel->clear();
        return;
    }
    const QString path = _degradedFiles[file];
    const QString failure = _failures.value(file);
    const QTableWidgetItem* note = ui.tableWidget->item(row, static_cast<int>(ResultColumn::Note));
    const QString noteText = note ? note->text() : QString();
    QString details = path;
    if (!failure.isEmpty()) {
        // The failure, then what the file calls for saying (its note holds both on one line).
        details = tr("%1\nFailed: %2").arg(path, failure);
        for (const QString& notice : _fileNotices.value(file))
            details += QLatin1Char('\n') + notice;
    } else if (!noteText.isEmpty()) {
        details = tr("%1\n%2").arg(path, noteText);
    }
    const QString originalNotices = originalNoticeMessage();
    if (!originalNotices.isEmpty()) details += QLatin1Char('\n') + originalNotices;
    ui.detailsLabel->setText(details);
}

// The one viewer of the run shows file `file`; it opens when it is not open yet.
void QLumetraMainWindow::showInViewer(int file) {
    if (file < 0 || static_cast<std::size_t>(file) >= _fileParameters.size()) return;
    std::optional<ViewerRequest> request =
        viewerRequest(_originalFile, _degradedFiles, _comparisons,
                      _fileParameters[static_cast<std::size_t>(file)], file);
    if (!request) return;
    if (_viewer) {
        if (_viewer->degradedFile() != request->degradedFile)
            _viewer->showFile(std::move(*request));
        return;
    }
    _viewer = new QLumetraComparisonViewer(std::move(*request), _explainer, {}, {}, this);
    _viewer->setAttribute(Qt::WA_DeleteOnClose);
    connect(_viewer, &QLumetraComparisonViewer::stepRequested, this,
            &QLumetraMainWindow::stepViewer);
    // Where the user last left it, else a place of its own.
    if (_viewer->restoreSavedGeometry()) {
        _viewer->show();
    } else {
        showCascaded(*_viewer, _viewer->size());
    }
}

QLumetraComparisonViewer* QLumetraMainWindow::openViewer(int row) {
    const int file = fileIndexOfRow(row);
    if (file < 0 || static_cast<std::size_t>(file) >= _comparisons.size() ||
        !_comparisons[static_cast<std::size_t>(file)]) {
        return nullptr;
    }
    showInViewer(file);
    if (_viewer) {
        _viewer->raise();
        _viewer->activateWindow();
    }
    return _viewer;
}

// The viewer's next (+1) or previous (-1) file in the table's order; failed rows, which have
// nothing to show, are passed over, and the ends stay where they are.
void QLumetraMainWindow::stepViewer(int step) {
    QTableWidget* table = ui.tableWidget;
    int row = table->currentRow();
    if (row < 0 && _viewer) {
        for (int r = 0; r < table->rowCount(); ++r) {
            if (_degradedFiles.value(fileIndexOfRow(r)) == _viewer->degradedFile()) row = r;
        }
    }
    for (int next = row + step; next >= 0 && next < table->rowCount(); next += step) {
        const int file = fileIndexOfRow(next);
        if (file >= 0 && _comparisons[static_cast<std::size_t>(file)]) {
            table->setCurrentCell(next, static_cast<int>(ResultColumn::File));
            return;
        }
    }
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

namespace {

// One file's explanation maps: each degraded file is explained against the original again
// and its ten maps written as <name>.<map>.pfm, as the command line's --explain-maps writes
// them.  Runs in a worker task; returns the problems met, nothing thrown.
struct ExplanationExport {
    QString original;
    QStringList degraded;
    QStringList names;  // the file names' stems, made unique
    std::vector<Parameters> parameters;
    Explainer explainer;
    QString folder;
};

QStringList writeExplanationMaps(const ExplanationExport& job) {
    QStringList problems;
    try {
        const RgbImage original(QFile::encodeName(job.original).toStdString());
        for (qsizetype k = 0; k < job.degraded.size(); ++k) {
            try {
                const RgbImage degraded(QFile::encodeName(job.degraded[k]).toStdString());
                const Explanation explanation =
                    job.explainer(original, degraded, job.parameters[static_cast<std::size_t>(k)]);
                for (const MapChoice choice : kMapChoices) {
                    if (!needsExplanation(choice)) continue;
                    const QString path = QDir(job.folder)
                                             .filePath(job.names[k] + QLatin1Char('.') +
                                                       mapFileKey(choice) + ".pfm");
                    writeFloatMapPfm(QFile::encodeName(path).toStdString(),
                                     mapOf(choice, explanation.comparison.err(), explanation.maps));
                }
            } catch (const std::exception& e) {
                problems << QStringLiteral("%1: %2").arg(job.degraded[k],
                                                         QString::fromStdString(e.what()));
            }
        }
    } catch (const std::exception& e) {
        problems << QString::fromStdString(e.what());
    }
    return problems;
}

}  // namespace

// For each scored file, <name>.errmap.png (black to blue) and <name>.heatmap.png (with its
// legend, on the scale last chosen in the viewer: the run's shared scale unless changed), the
// names and pictures of the command line's
// --error-maps and --heatmaps; a name met twice gets "-2", "-3", ...  The explanation maps
// follow from a worker task (mapsExported()), as each file must be explained again.
bool QLumetraMainWindow::exportMaps(const QString& folder) {
    if (_mapExport.isRunning()) {
        ui.statusBar->showMessage(tr("The maps of the last export are still being written."));
        return false;
    }
    ExplanationExport job{_originalFile, {}, {}, {}, _explainer ? _explainer : lumetra2Explainer(),
                          folder};
    std::vector<MapPercentiles> percentiles;
    for (const std::optional<Comparison>& result : _comparisons) {
        if (result) percentiles.push_back(percentilesOf(result->err()));
    }
    const float runMax = sharedScaleMax(percentiles);
    const HeatScaleMode heatScale = rememberedHeatScale();
    QStringList problems;
    QSet<QString> used;
    int written = 0;
    for (std::size_t k = 0; k < _comparisons.size(); ++k) {
        if (!_comparisons[k]) continue;
        const QString stem =
            QFileInfo(_degradedFiles[static_cast<qsizetype>(k)]).completeBaseName();
        QString name = stem;
        for (int n = 2; used.contains(name); ++n) name = QStringLiteral("%1-%2").arg(stem).arg(n);
        used.insert(name);
        job.degraded << _degradedFiles[static_cast<qsizetype>(k)];
        job.names << name;
        job.parameters.push_back(_fileParameters[k]);
        const QDir dir(folder);
        const Array<float>& map = _comparisons[k]->err();
        for (const auto& [suffix, picture] :
             {std::pair{QStringLiteral(".errmap.png"), errorMapImage(map)},
              std::pair{
                  QStringLiteral(".heatmap.png"),
                  qImageOf(heatMap(map, scaleOf(MapChoice::Error, heatScale, runMax, map)))}}) {
            const QString problem = savePng(dir.filePath(name + suffix), picture);
            if (problem.isEmpty()) {
                ++written;
            } else {
                problems << problem;
            }
        }
    }
    if (!problems.isEmpty()) {
        _notifier->warning(tr("Some maps were not exported:\n\n%1").arg(problems.join('\n')));
        return false;
    }
    ui.statusBar->showMessage(tr("%1 written to %2; explaining the files for their other maps…")
                                  .arg(counted(written, tr("1 map"), tr("%1 maps")), folder));
    _mapExport.setFuture(QtConcurrent::run(writeExplanationMaps, std::move(job)));
    return true;
}

void QLumetraMainWindow::finishMapExport() {
    const QStringList problems = _mapExport.result();
    if (problems.isEmpty()) {
        ui.statusBar->showMessage(tr("Every map of the run is exported."));
    } else {
        _notifier->warning(
            tr("Some explanation maps were not exported:\n\n%1").arg(problems.join('\n')));
    }
    emit mapsExported();
}

void QLumetraMainWindow::updateActions() {
    const bool idle = !_batch;
    const bool formUsable = _fieldMessage.isEmpty();
    const bool results = !_comparisons.empty();
    ui.actionNew->setEnabled(idle && formUsable);
    ui.actionAddFiles->setEnabled(idle && formUsable);
    ui.actionReplaceOriginal->setEnabled(idle && formUsable);
    ui.actionReload->setEnabled(idle && formUsable && results);
    ui.actionRescore->setEnabled(idle && formUsable && results);
    ui.actionExportResults->setEnabled(idle && results);
    ui.actionExportMaps->setEnabled(idle && results);
}

}  // namespace lumetra
