#include "app/QLumetraComparisonViewer.h"

#include <QAction>
#include <QKeySequence>
#include <QPixmap>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <array>
#include <utility>

#include "app/DialogFileChooser.h"
#include "app/ErrorMapPicture.h"
#include "app/FileSaving.h"
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

// The opacity slider runs in percent.
constexpr double kPercent = 100.0;

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
    ui.flickerIntervalBox->setRange(ViewerState::kMinFlickerIntervalMs,
                                    ViewerState::kMaxFlickerIntervalMs);
    ui.flickerIntervalBox->setValue(_state.flickerIntervalMs());
    ui.opacitySlider->setValue(qRound(_state.overlayOpacity() * kPercent));
    createActions();
    connectControls();
    ui.canvas->setMessage(tr("Reading the images…"));
    updateControls();

    connect(&_imagesTask, &QFutureWatcher<ViewerImages>::finished, this,
            &QLumetraComparisonViewer::showImages);
    connect(&_explanationTask, &QFutureWatcher<ViewerExplanation>::finished, this,
            &QLumetraComparisonViewer::showExplanation);
    // The run's maps go to the task alone and are freed once it has taken their percentiles.
    std::vector<Array<float>> runMaps = std::exchange(_request.runMaps, {});
    _imagesTask.setFuture(
        QtConcurrent::run([request = _request, maps = std::move(runMaps)]() mutable {
            request.runMaps = std::move(maps);
            return loadViewerImages(request);
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
        add(tr("Save error map image…"), {QKeySequence::Save}, [this] { chooseAndSave(); });
    save->setObjectName(QStringLiteral("actionSaveImage"));
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

void QLumetraComparisonViewer::connectControls() {
    connect(ui.modeBox, &QComboBox::activated, this,
            [this](int index) { setMode(kModes[static_cast<std::size_t>(index)]); });
    connect(ui.mapBox, &QComboBox::activated, this,
            [this](int index) { setMap(kMapChoices[static_cast<std::size_t>(index)]); });
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
}

void QLumetraComparisonViewer::updateControls() {
    const auto modeIndex = std::find(kModes.begin(), kModes.end(), _state.mode()) - kModes.begin();
    ui.modeBox->setCurrentIndex(static_cast<int>(modeIndex));
    const auto mapIndex =
        std::find(kMapChoices.begin(), kMapChoices.end(), _state.map()) - kMapChoices.begin();
    ui.mapBox->setCurrentIndex(static_cast<int>(mapIndex));
    const bool overlay = _state.mode() == ViewMode::Overlay;
    ui.opacityLabel->setEnabled(overlay);
    ui.opacitySlider->setEnabled(overlay);
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
        ui.probeLabel->setText(tr("Point at the pictures to see the values of a pixel."));
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
    if (choice == MapChoice::Classic) {
        ui.canvas->setHeatMap(_images.classicPicture);
        ui.legendLabel->setPixmap(QPixmap());
        ui.legendLabel->setText(
            tr("black: none\nblue: %1\n(the largest)").arg(formatResult(_images.errorMax)));
        return;
    }
    if (choice == MapChoice::Error) {
        ui.canvas->setHeatMap(_images.errorHeat.map);
        ui.legendLabel->setPixmap(QPixmap::fromImage(_images.errorHeat.legend));
        return;
    }
    if (!_explanation.explanation) {
        ui.canvas->setHeatMap(QImage());
        ui.legendLabel->clear();
        return;
    }
    const Array<float>& map = mapOf(choice, errorMap, _explanation.explanation->maps);
    const HeatPicture picture = heatPicture(map, scaleOf(choice, _images.runMax, map));
    ui.canvas->setHeatMap(picture.map);
    ui.legendLabel->setPixmap(QPixmap::fromImage(picture.legend));
}

void QLumetraComparisonViewer::probe(std::optional<QPoint> pixel) {
    if (!pixel || !_images.original || !_explained) return;
    const ExplanationMaps* maps =
        _explanation.explanation ? &_explanation.explanation->maps : nullptr;
    if (const std::optional<PixelProbe> values = probeAt(*_images.original, *_images.degraded,
                                                         _request.comparison.err(), maps, *pixel)) {
        ui.probeLabel->setText(probeText(*values));
    }
}

bool QLumetraComparisonViewer::saveImage(const QString& path) {
    // The classic picture is drawn once the images are loaded; before that it is drawn here.
    const QImage classic = _images.classicPicture.isNull()
                               ? errorMapImage(_request.comparison.err())
                               : _images.classicPicture;
    const QString problem = savePng(path, classic);
    if (problem.isEmpty()) return true;
    _notifier->warning(tr("The image was not saved: %1").arg(problem));
    return false;
}

void QLumetraComparisonViewer::chooseAndSave() {
    const QString path = _chooser->imageTarget();
    if (!path.isEmpty()) saveImage(path);
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
