#include "app/QLumetraComparisonViewer.h"

#include <QAction>
#include <QCloseEvent>
#include <QFileInfo>
#include <QKeySequence>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QResizeEvent>
#include <QSettings>
#include <QSignalBlocker>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <array>
#include <utility>

#include "app/DialogFileChooser.h"
#include "app/ErrorMapPicture.h"
#include "app/FileNames.h"
#include "app/FileSaving.h"
#include "app/HelpText.h"
#include "app/Lumetra2Explainer.h"
#include "app/MessageBoxNotifier.h"
#include "app/PixelProbe.h"
#include "app/ResultFormat.h"

namespace lumetra {

namespace {

// The modes in the order of the mode selector and of the Alt+1 .. Alt+4 shortcuts.
constexpr std::array kModes = {ViewMode::SideBySide, ViewMode::Split, ViewMode::Flicker,
                               ViewMode::Overlay};

QString modeName(ViewMode mode) {
    switch (mode) {
        case ViewMode::SideBySide:
            return QLumetraComparisonViewer::tr("Side by side");
        case ViewMode::Split:
            return QLumetraComparisonViewer::tr("Split");
        case ViewMode::Flicker:
            return QLumetraComparisonViewer::tr("Flicker");
        case ViewMode::Overlay:
            return QLumetraComparisonViewer::tr("Heat map over the original");
    }
    return QString();
}

// The opacity slider and the zoom readout run in percent.
constexpr double kPercent = 100.0;
QString probeHint() {
    return QLumetraComparisonViewer::tr(
        "Point at the pictures to see the values of a pixel; click to lock them on it.");
}

// Letters the map selector shows of a map's name.
constexpr int kMapBoxLetters = 24;
// Viewport pixels an arrow key pans.
constexpr double kPanStep = 40.0;

}  // namespace

QLumetraComparisonViewer::QLumetraComparisonViewer(ViewerRequest request, Explainer explainer,
                                                   std::unique_ptr<FileChooser> chooser,
                                                   std::unique_ptr<Notifier> notifier,
                                                   QWidget* parent)
    : QWidget(parent, Qt::Window),
      _request(std::move(request)),
      _explainer(explainer ? std::move(explainer) : lumetra2Explainer()),
      _chooser(std::move(chooser)),
      _notifier(std::move(notifier)) {
    ui.setupUi(this);
    if (!_chooser) _chooser = std::make_unique<DialogFileChooser>(this);
    if (!_notifier) _notifier = std::make_unique<MessageBoxNotifier>(this);
    setWindowTitle(viewerTitle(_request));
    for (const ViewMode mode : kModes) ui.modeBox->addItem(modeName(mode));
    for (const MapChoice choice : kMapChoices) ui.mapBox->addItem(mapChoiceName(choice));
    for (const HeatScaleMode mode : kHeatScaleModes) ui.heatScaleBox->addItem(heatScaleName(mode));
    // The map names are long: the selector shows enough of them to tell them apart and leaves
    // the rest to its list, so that the controls fit a small screen.
    ui.mapBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    ui.mapBox->setMinimumContentsLength(kMapBoxLetters);
    ui.flickerIntervalBox->setRange(ViewerState::kMinFlickerIntervalMs,
                                    ViewerState::kMaxFlickerIntervalMs);
    restoreSettings();
    ui.flickerIntervalBox->setValue(_state.flickerIntervalMs());
    ui.opacitySlider->setValue(qRound(_state.overlayOpacity() * kPercent));
    ui.legendLabel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Ignored);
    _keyHelp = new QLabel(viewerKeysText(), ui.canvas);
    _keyHelp->setObjectName(QStringLiteral("keyHelpLabel"));
    _keyHelp->setStyleSheet(
        QStringLiteral("QLabel { background: rgba(0, 0, 0, 200); color: white; padding: 12px; }"));
    _keyHelp->hide();
    createActions();
    connectControls();
    ui.canvas->setState(_state);
    updateControls();

    connect(&_imagesTask, &QFutureWatcher<ViewerImages>::finished, this,
            &QLumetraComparisonViewer::showImages);
    connect(&_explanationTask, &QFutureWatcher<ViewerExplanation>::finished, this,
            &QLumetraComparisonViewer::showExplanation);
    startLoading();
}

void QLumetraComparisonViewer::showFile(ViewerRequest request) {
    _request = std::move(request);
    setWindowTitle(viewerTitle(_request));
    startLoading();
}

// Reads the request's images in the background; the explanation follows them (showImages).
// A task still running for the file shown before is left to end on its own: its watcher now
// watches the new task, and the old result is dropped.
void QLumetraComparisonViewer::startLoading() {
    _images = ViewerImages{};
    _explanation = ViewerExplanation{};
    _explained = false;
    _heatPicture = QImage();
    ui.canvas->setMessage(tr("Reading the images…"));
    ui.probeLabel->setText(tr("Reading %1…").arg(QFileInfo(_request.degradedFile).fileName()));
    // The run's maps go to the task alone and are freed once it has taken their percentiles.
    std::vector<Array<float>> runMaps = std::exchange(_request.runMaps, {});
    _imagesTask.setFuture(QtConcurrent::run(
        [request = _request, maps = std::move(runMaps), scale = _state.heatScale()]() mutable {
            request.runMaps = std::move(maps);
            return loadViewerImages(request, scale);
        }));
}

// The tasks hold copies of what they use, so a window closed early leaves them nothing to
// reach; their results are dropped.
QLumetraComparisonViewer::~QLumetraComparisonViewer() = default;

bool QLumetraComparisonViewer::computing() const {
    return !_imagesTask.isFinished() || (_images.error.isEmpty() && !_explained);
}

void QLumetraComparisonViewer::createActions() {
    const auto add = [this](const QString& name, const QList<QKeySequence>& keys, auto slot) {
        auto* action = new QAction(name, this);
        action->setShortcuts(keys);
        addAction(action);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    add(tr("Next file"), {QKeySequence(Qt::Key_PageDown), QKeySequence(Qt::Key_J)}, [this] {
        emit stepRequested(1);
    })->setObjectName(QStringLiteral("actionNextFile"));
    add(tr("Previous file"), {QKeySequence(Qt::Key_PageUp), QKeySequence(Qt::Key_K)}, [this] {
        emit stepRequested(-1);
    })->setObjectName(QStringLiteral("actionPreviousFile"));
    const std::array<std::pair<Qt::Key, QPointF>, 4> pans = {
        std::pair{Qt::Key_Left, QPointF(kPanStep, 0.0)},
        std::pair{Qt::Key_Right, QPointF(-kPanStep, 0.0)},
        std::pair{Qt::Key_Up, QPointF(0.0, kPanStep)},
        std::pair{Qt::Key_Down, QPointF(0.0, -kPanStep)}};
    for (const auto& [key, delta] : pans) {
        add(tr("Pan"), {QKeySequence(key)}, [this, delta = delta] { ui.canvas->panBy(delta); });
    }
    add(tr("Keys of the viewer"), {QKeySequence(Qt::Key_Question), QKeySequence(Qt::Key_F1)},
        [this] { setKeyHelpShown(!_keyHelp->isVisible()); })
        ->setObjectName(QStringLiteral("actionKeyHelp"));
    add(tr("Leave full screen or close"), {QKeySequence(Qt::Key_Escape)}, [this] {
        if (_keyHelp->isVisible()) {
            setKeyHelpShown(false);
        } else if (isFullScreen()) {
            showNormal();
        } else {
            close();
        }
    });
    add(tr("Full screen"), {QKeySequence(Qt::Key_F11)}, [this] {
        if (isFullScreen()) {
            showNormal();
        } else {
            showFullScreen();
        }
    });
    add(tr("Zoom in"), {QKeySequence::ZoomIn, QKeySequence(Qt::CTRL | Qt::Key_Equal)},
        [this] { ui.canvas->zoomIn(); });
    add(tr("Zoom out"), {QKeySequence::ZoomOut}, [this] { ui.canvas->zoomOut(); });
    add(tr("Fit"), {QKeySequence(Qt::CTRL | Qt::Key_0)}, [this] { ui.canvas->fit(); });
    add(tr("1:1"), {QKeySequence(Qt::CTRL | Qt::Key_1)}, [this] { ui.canvas->actualSize(); });
    add(tr("Switch the flicker image"), {QKeySequence(Qt::Key_Space)}, [this] { toggleFlicker(); });
    for (int i = 0; i < static_cast<int>(kModes.size()); ++i) {
        add(modeName(kModes[i]), {QKeySequence(Qt::ALT | static_cast<Qt::Key>(Qt::Key_1 + i))},
            [this, i] { setMode(kModes[i]); });
    }
    QAction* save =
        add(tr("Save the map shown…"), {QKeySequence::Save}, [this] { chooseAndSave(); });
    save->setObjectName(QStringLiteral("actionSaveImage"));
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

// The list of keys over the pictures, on a dark ground, until ? or F1 again (or Esc).
void QLumetraComparisonViewer::setKeyHelpShown(bool shown) {
    if (shown) {
        _keyHelp->adjustSize();
        _keyHelp->move((ui.canvas->width() - _keyHelp->width()) / 2,
                       (ui.canvas->height() - _keyHelp->height()) / 2);
        _keyHelp->raise();
    }
    _keyHelp->setVisible(shown);
}

void QLumetraComparisonViewer::connectControls() {
    connect(ui.modeBox, &QComboBox::activated, this,
            [this](int index) { setMode(kModes[static_cast<std::size_t>(index)]); });
    connect(ui.mapBox, &QComboBox::activated, this,
            [this](int index) { setMap(kMapChoices[static_cast<std::size_t>(index)]); });
    connect(ui.heatScaleBox, &QComboBox::activated, this,
            [this](int index) { setHeatScale(kHeatScaleModes[static_cast<std::size_t>(index)]); });
    connect(ui.previousButton, &QToolButton::clicked, this, [this] { emit stepRequested(-1); });
    connect(ui.nextButton, &QToolButton::clicked, this, [this] { emit stepRequested(1); });
    connect(ui.fitButton, &QPushButton::clicked, ui.canvas, &ComparisonCanvas::fit);
    connect(ui.actualSizeButton, &QPushButton::clicked, ui.canvas, &ComparisonCanvas::actualSize);
    connect(ui.flickerAutoBox, &QCheckBox::toggled, this,
            &QLumetraComparisonViewer::setAutoFlicker);
    connect(ui.flickerIntervalBox, &QSpinBox::valueChanged, this, [this](int ms) {
        _state.setFlickerIntervalMs(ms);
        _flickerTimer.setInterval(_state.flickerIntervalMs());
    });
    connect(ui.opacitySlider, &QSlider::valueChanged, this, [this](int percent) {
        _state.setOverlayOpacity(percent / kPercent);
        pushState();
    });
    connect(ui.canvas, &ComparisonCanvas::probed, this, &QLumetraComparisonViewer::probe);
    connect(ui.canvas, &ComparisonCanvas::pixelClicked, this,
            &QLumetraComparisonViewer::toggleProbeLock);
    connect(ui.overlayDegradedBox, &QCheckBox::toggled, this, [this](bool on) {
        _state.setOverlayOnDegraded(on);
        pushState();
    });
    connect(ui.overlayGreyBox, &QCheckBox::toggled, this, [this](bool on) {
        _state.setOverlayGrey(on);
        pushState();
    });
    connect(ui.splitTopBottomBox, &QCheckBox::toggled, this, [this](bool on) {
        _state.setSplitLeftRight(!on);
        pushState();
    });
    connect(ui.canvas, &ComparisonCanvas::viewChanged, this, [this] {
        ui.zoomLabel->setText(tr("%1%").arg(qRound(ui.canvas->transform().zoom() * kPercent)));
    });
    connect(ui.canvas, &ComparisonCanvas::splitMoved, this, [this](double fraction) {
        _state.setSplitFraction(fraction);
        pushState();
    });
    connect(&_flickerTimer, &QTimer::timeout, this, &QLumetraComparisonViewer::toggleFlicker);
}

void QLumetraComparisonViewer::setMode(ViewMode mode) {
    _state.setMode(mode);
    if (mode != ViewMode::Flicker) ui.flickerAutoBox->setChecked(false);
    pushState();
}

void QLumetraComparisonViewer::setMap(MapChoice choice) {
    _state.setMap(choice);
    updateHeatMap();
    pushState();
}

void QLumetraComparisonViewer::setHeatScale(HeatScaleMode mode) {
    _state.setHeatScale(mode);
    updateHeatMap();
    pushState();
}

void QLumetraComparisonViewer::toggleFlicker() {
    _state.toggleFlicker();
    _state.setMode(ViewMode::Flicker);
    pushState();
}

void QLumetraComparisonViewer::setAutoFlicker(bool on) {
    if (on) {
        _state.setMode(ViewMode::Flicker);
        _flickerTimer.start(_state.flickerIntervalMs());
    } else {
        _flickerTimer.stop();
    }
    pushState();
}

void QLumetraComparisonViewer::pushState() {
    ui.canvas->setState(_state);
    updateControls();
    saveSettings();
}

// The mode, map, heat-map scale, opacity, flicker rate and divider the viewer last had.  The
// map is kept by its file name ("heat-map", "share") and the scale by the command line's name
// for it ("per-file"), which stay when the selectors' order changes.
void QLumetraComparisonViewer::restoreSettings() {
    const QSettings settings;
    const int mode = settings.value(QStringLiteral("viewer/mode"), -1).toInt();
    if (mode >= 0 && mode < static_cast<int>(kModes.size())) {
        _state.setMode(kModes[static_cast<std::size_t>(mode)]);
    }
    const QString map = settings.value(QStringLiteral("viewer/map")).toString();
    for (const MapChoice choice : kMapChoices) {
        if (mapFileKey(choice) == map) _state.setMap(choice);
    }
    _state.setHeatScale(rememberedHeatScale());
    _state.setOverlayOpacity(
        settings.value(QStringLiteral("viewer/opacity"), _state.overlayOpacity()).toDouble());
    _state.setFlickerIntervalMs(
        settings.value(QStringLiteral("viewer/flickerMs"), _state.flickerIntervalMs()).toInt());
    _state.setSplitFraction(
        settings.value(QStringLiteral("viewer/split"), _state.splitFraction()).toDouble());
    _state.setSplitLeftRight(
        settings.value(QStringLiteral("viewer/splitLeftRight"), true).toBool());
    _state.setOverlayOnDegraded(
        settings.value(QStringLiteral("viewer/overlayOnDegraded"), false).toBool());
    _state.setOverlayGrey(settings.value(QStringLiteral("viewer/overlayGrey"), false).toBool());
}

void QLumetraComparisonViewer::saveSettings() const {
    QSettings settings;
    const auto mode = std::find(kModes.begin(), kModes.end(), _state.mode()) - kModes.begin();
    settings.setValue(QStringLiteral("viewer/mode"), static_cast<int>(mode));
    settings.setValue(QStringLiteral("viewer/map"), mapFileKey(_state.map()));
    rememberHeatScale(_state.heatScale());
    settings.setValue(QStringLiteral("viewer/opacity"), _state.overlayOpacity());
    settings.setValue(QStringLiteral("viewer/flickerMs"), _state.flickerIntervalMs());
    settings.setValue(QStringLiteral("viewer/split"), _state.splitFraction());
    settings.setValue(QStringLiteral("viewer/splitLeftRight"), _state.splitLeftRight());
    settings.setValue(QStringLiteral("viewer/overlayOnDegraded"), _state.overlayOnDegraded());
    settings.setValue(QStringLiteral("viewer/overlayGrey"), _state.overlayGrey());
}

bool QLumetraComparisonViewer::restoreSavedGeometry() {
    return restoreGeometry(QSettings().value(QStringLiteral("viewer/geometry")).toByteArray());
}

void QLumetraComparisonViewer::closeEvent(QCloseEvent* event) {
    QSettings().setValue(QStringLiteral("viewer/geometry"), saveGeometry());
    QWidget::closeEvent(event);
}

void QLumetraComparisonViewer::updateControls() {
    const auto modeIndex = std::find(kModes.begin(), kModes.end(), _state.mode()) - kModes.begin();
    ui.modeBox->setCurrentIndex(static_cast<int>(modeIndex));
    const auto mapIndex =
        std::find(kMapChoices.begin(), kMapChoices.end(), _state.map()) - kMapChoices.begin();
    ui.mapBox->setCurrentIndex(static_cast<int>(mapIndex));
    const auto scaleIndex =
        std::find(kHeatScaleModes.begin(), kHeatScaleModes.end(), _state.heatScale()) -
        kHeatScaleModes.begin();
    ui.heatScaleBox->setCurrentIndex(static_cast<int>(scaleIndex));
    // The black-to-blue map has a scale of its own (its largest value).
    ui.heatScaleLabel->setEnabled(_state.map() != MapChoice::Classic);
    ui.heatScaleBox->setEnabled(_state.map() != MapChoice::Classic);
    const bool overlay = _state.mode() == ViewMode::Overlay;
    ui.opacityLabel->setEnabled(overlay);
    ui.opacitySlider->setEnabled(overlay);
    ui.overlayDegradedBox->setEnabled(overlay);
    ui.overlayGreyBox->setEnabled(overlay);
    ui.splitTopBottomBox->setEnabled(_state.mode() == ViewMode::Split);
    // Checked from the state without reporting back (restored settings, a new file).
    const QSignalBlocker degradedBlocker(ui.overlayDegradedBox);
    const QSignalBlocker greyBlocker(ui.overlayGreyBox);
    const QSignalBlocker splitBlocker(ui.splitTopBottomBox);
    ui.overlayDegradedBox->setChecked(_state.overlayOnDegraded());
    ui.overlayGreyBox->setChecked(_state.overlayGrey());
    ui.splitTopBottomBox->setChecked(!_state.splitLeftRight());
    // Split and flicker show no map: their legend would explain nothing on screen.
    ui.legendLabel->setVisible(_state.showsMap());
}

void QLumetraComparisonViewer::showImages() {
    _images = _imagesTask.result();
    if (!_images.error.isEmpty()) {
        ui.canvas->setMessage(tr("Cannot show this comparison.\n\n%1").arg(_images.error));
        ui.probeLabel->setText(_images.error);
        emit ready();
        return;
    }
    ui.canvas->setPictures(_images.originalPicture, _images.degradedPicture);
    ui.canvas->setMessage(tr("computing the explanation…"));
    ui.probeLabel->setText(tr("Computing the explanation of the measure…"));
    updateHeatMap();
    _explanationTask.setFuture(QtConcurrent::run(explainViewerPair, _explainer, *_images.original,
                                                 *_images.degraded, _request.parameters));
}

void QLumetraComparisonViewer::showExplanation() {
    _explanation = _explanationTask.result();
    _explained = true;
    if (_explanation.error.isEmpty()) {
        ui.probeLabel->setText(probeHint());
        // A probe locked on a pixel shows that pixel of the new file.
        if (_lockedPixel) showProbe(_lockedPixel);
    } else {
        ui.canvas->setMessage(tr("no explanation: %1").arg(_explanation.error));
        ui.probeLabel->setText(
            tr("The explanation could not be computed: %1").arg(_explanation.error));
    }
    updateHeatMap();
    emit ready();
}

// The map of the current choice, drawn once; the legend beside the pictures.
void QLumetraComparisonViewer::updateHeatMap() {
    const MapChoice choice = _state.map();
    const Array<float>& errorMap = _request.comparison.err();
    _heatPicture = QImage();
    _legend = QImage();
    if (choice == MapChoice::Classic) {
        _heatPicture = _images.classicPicture;
        ui.canvas->setHeatMap(_images.classicPicture);
        ui.legendLabel->setPixmap(QPixmap());
        ui.legendLabel->setText(
            tr("black: none\nblue: %1\n(the largest)").arg(formatResult(_images.errorMax)));
        return;
    }
    if (choice == MapChoice::Error) {
        // Drawn with the images; again here when the scale has changed since.
        if (_images.original && _images.errorHeatScale != _state.heatScale()) {
            _images.errorHeat = heatPicture(
                errorMap, scaleOf(choice, _state.heatScale(), _images.runMax, errorMap));
            _images.errorHeatScale = _state.heatScale();
        }
        _heatPicture = _images.errorHeat.map;
        ui.canvas->setHeatMap(_images.errorHeat.map);
        showLegend(_images.errorHeat.legend);
        return;
    }
    if (!_explanation.explanation) {
        ui.canvas->setHeatMap(QImage());
        ui.legendLabel->clear();
        return;
    }
    const Array<float>& map = mapOf(choice, errorMap, _explanation.explanation->maps);
    const HeatPicture picture =
        heatPicture(map, scaleOf(choice, _state.heatScale(), _images.runMax, map));
    _heatPicture = picture.map;
    ui.canvas->setHeatMap(picture.map);
    showLegend(picture.legend);
}

// The legend's lettering is drawn for a small picture; where the canvas is tall enough the
// legend is shown twice its size, pixel for pixel, so that its numbers read at a normal
// distance.  The label does not hold the window's height: on a small screen the legend keeps
// its own size.
void QLumetraComparisonViewer::showLegend(const QImage& legend) {
    _legend = legend;
    if (legend.isNull()) return;
    const int scale = ui.canvas->height() >= 2 * legend.height() ? 2 : 1;
    ui.legendLabel->setPixmap(QPixmap::fromImage(
        legend.scaled(legend.size() * scale, Qt::IgnoreAspectRatio, Qt::FastTransformation)));
    ui.legendLabel->setMinimumWidth(legend.width() * scale);
}

void QLumetraComparisonViewer::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    showLegend(_legend);
}

void QLumetraComparisonViewer::probe(std::optional<QPoint> pixel) {
    if (!_lockedPixel) showProbe(pixel);
}

// A click locks the probe on its pixel: the values stay while the cursor moves on.  A click
// anywhere releases it.
void QLumetraComparisonViewer::toggleProbeLock(QPoint pixel) {
    if (_lockedPixel) {
        _lockedPixel.reset();
        showProbe(pixel);
        return;
    }
    _lockedPixel = pixel;
    showProbe(pixel);
}

// The values at `pixel` and the crosshair on it; none clears both, back to the hint.
void QLumetraComparisonViewer::showProbe(std::optional<QPoint> pixel) {
    ui.canvas->setProbeMark(pixel);
    if (!_images.original || !_explained) return;  // the label says what is being done
    if (!pixel) {
        if (_explanation.error.isEmpty()) ui.probeLabel->setText(probeHint());
        return;
    }
    const ExplanationMaps* maps =
        _explanation.explanation ? &_explanation.explanation->maps : nullptr;
    if (const std::optional<PixelProbe> values = probeAt(*_images.original, *_images.degraded,
                                                         _request.comparison.err(), maps, *pixel)) {
        ui.probeLabel->setText(_lockedPixel
                                   ? tr("%1 | locked: click to release").arg(probeText(*values))
                                   : probeText(*values));
    }
}

QImage QLumetraComparisonViewer::shownPicture() const {
    QImage map = _heatPicture;
    // The black-to-blue map needs only the error map: before the images are in it is drawn
    // here.
    if (map.isNull() && _state.map() == MapChoice::Classic) {
        map = errorMapImage(_request.comparison.err());
    }
    if (_state.mode() != ViewMode::Overlay || map.isNull() || _images.originalPicture.isNull()) {
        return map;
    }
    QImage overlay = _images.originalPicture.convertToFormat(QImage::Format_RGB32);
    QPainter painter(&overlay);
    painter.setOpacity(_state.overlayOpacity());
    painter.drawImage(QPoint(0, 0), map);
    painter.end();
    return overlay;
}

QString QLumetraComparisonViewer::proposedName() const {
    const QString overlay =
        _state.mode() == ViewMode::Overlay ? QStringLiteral("-overlay") : QString();
    return QStringLiteral("%1_%2%3.png")
        .arg(QFileInfo(_request.degradedFile).completeBaseName(), mapFileKey(_state.map()),
             overlay);
}

bool QLumetraComparisonViewer::saveImage(const QString& path) {
    const QImage picture = shownPicture();
    if (picture.isNull()) {
        _notifier->warning(tr("The image was not saved: the map shown is still being computed."));
        return false;
    }
    const QString problem = savePng(path, picture);
    if (problem.isEmpty()) return true;
    _notifier->warning(tr("The image was not saved: %1").arg(problem));
    return false;
}

void QLumetraComparisonViewer::chooseAndSave() {
    const QString path = _chooser->imageTarget(proposedName());
    if (!path.isEmpty()) saveImage(withDefaultSuffix(path, QStringLiteral("png")));
}

QLumetraComparisonViewer* newComparisonViewer(
    QWidget* parent, const QString& original, const QStringList& degraded,
    const std::vector<std::optional<Comparison>>& comparisons, const Parameters& parameters,
    int file) {
    std::optional<ViewerRequest> request =
        viewerRequest(original, degraded, comparisons, parameters, file);
    if (!request) return nullptr;
    auto* viewer = new QLumetraComparisonViewer(std::move(*request), {}, {}, {}, parent);
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    return viewer;
}

}  // namespace lumetra
