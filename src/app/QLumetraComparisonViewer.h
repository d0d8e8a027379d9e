#pragma once

// The comparison viewer of one scored file: the original, the degraded image and a heat map
// of the same pixels under one zoom and pan, in four modes (side by side, split, flicker, heat
// map over the original), a selector of the explanation's maps, a pixel probe and the map's
// legend.  The images are read and the explanation computed in QtConcurrent tasks, so that a
// 3840 x 2160 pair does not stop the window; until they are in, the window says so.
//
// The mode, map, heat-map scale, opacity, flicker rate, divider and window place are
// remembered (QSettings) for the next viewer, in this run and the next.
//
// The window holds its form and its state (ViewerState) and passes both to the canvas, which
// draws; zoom and pan live in the canvas's ViewTransform, the probe's values in PixelProbe.

#include <QFutureWatcher>
#include <QPoint>
#include <QTimer>
#include <QWidget>

class QLabel;
#include <memory>
#include <optional>
#include <vector>

#include "app/EngineFactory.h"
#include "app/FileChooser.h"
#include "app/Notifier.h"
#include "app/ViewerData.h"
#include "app/ViewerState.h"
#include "ui_QLumetraComparisonViewer.h"

namespace lumetra {

class QLumetraComparisonViewer : public QWidget {
    Q_OBJECT

  public:
    // A window of its own (owned by `parent` when given); the caller shows it.  Starts
    // reading the images at once.  Without an explainer it uses Lumetra2 (lumetra2Explainer);
    // without a chooser or a notifier it asks with a file dialog and warns with a message box.
    explicit QLumetraComparisonViewer(ViewerRequest request, Explainer explainer = {},
                                      std::unique_ptr<FileChooser> chooser = {},
                                      std::unique_ptr<Notifier> notifier = {},
                                      QWidget* parent = nullptr);
    ~QLumetraComparisonViewer() override;

    // Shows another file of the run in this window: the mode, map, zoom, pan and overlay
    // settings stay (the zoom and pan when the pictures keep their size).
    void showFile(ViewerRequest request);
    const QString& degradedFile() const { return _request.degradedFile; }

    // Puts the window where it was when last closed, as QWidget::restoreGeometry does (within
    // the screen); false when it was never closed.
    bool restoreSavedGeometry();

    // True until the images and the explanation are in, or have failed.
    bool computing() const;
    const ViewerState& state() const { return _state; }

    void setMode(ViewMode mode);
    void setMap(MapChoice choice);
    // Draws the heat maps on the run's scale, each file's own, or the run's through the log
    // curve (the legend then gives its k); Save and the main window's Export all maps follow.
    void setHeatScale(HeatScaleMode mode);
    // Shows the other image of the flicker pair (and switches to flicker mode).
    void toggleFlicker();
    // Shows the values at an image pixel in the probe line, with a crosshair on it; none
    // clears both.  A probe locked by a click (toggleProbeLock) keeps its pixel meanwhile.
    void probe(std::optional<QPoint> pixel);
    void toggleProbeLock(QPoint pixel);
    std::optional<QPoint> lockedPixel() const { return _lockedPixel; }

    // What Save writes: in overlay mode the heat map over the original at the current
    // opacity, else the map chosen (the black-to-blue error map or a heat map), one pixel per
    // image pixel.  Null while the map chosen is still being computed.
    QImage shownPicture() const;
    // The name Save proposes: "<degraded file's name>_<map>[-overlay].png".
    QString proposedName() const;

    // Writes shownPicture() as PNG; warns and returns false when it cannot be written.
    bool saveImage(const QString& path);

  signals:
    // The background work has ended, whether or not it succeeded.
    void ready();
    // The user asked for the next (+1) or previous (-1) file of the run.
    void stepRequested(int step);

  protected:
    // Keeps the window's place for the next one (QSettings).
    void closeEvent(QCloseEvent* event) override;
    // The legend takes the size the pictures leave it.
    void resizeEvent(QResizeEvent* event) override;

  private:
    void restoreSettings();
    void saveSettings() const;
    void startLoading();
    void setKeyHelpShown(bool shown);
    void showProbe(std::optional<QPoint> pixel);
    void showLegend(const QImage& legend);
    void createActions();
    void connectControls();
    void showImages();
    void showExplanation();
    void updateHeatMap();
    void updateControls();
    void pushState();
    void setAutoFlicker(bool on);
    void chooseAndSave();

    Ui_QLumetraComparisonViewer ui;
    ViewerRequest _request;  // without the run's maps once the images task has them
    const Explainer _explainer;
    std::unique_ptr<FileChooser> _chooser;
    std::unique_ptr<Notifier> _notifier;
    ViewerState _state;
    QFutureWatcher<ViewerImages> _imagesTask;
    QFutureWatcher<ViewerExplanation> _explanationTask;
    ViewerImages _images;
    ViewerExplanation _explanation;
    bool _explained = false;  // the explanation task has ended
    QImage _legend;           // the legend of the map chosen, at its own size
    QImage _heatPicture;      // the picture of the map chosen, as the canvas shows it
    QTimer _flickerTimer;
    // The list of keys shown over the pictures (? or F1); a child of the canvas.
    QLabel* _keyHelp = nullptr;
    // The pixel the probe is locked on; none while it follows the cursor.
    std::optional<QPoint> _lockedPixel;
};

// A viewer of file `file` of a run kept as the main window keeps it (see viewerRequest), with
// the production explainer, owned by `parent` and deleted when closed; the caller places and
// shows it.  Nothing (nullptr) for a failed or missing file.
QLumetraComparisonViewer* newComparisonViewer(
    QWidget* parent, const QString& original, const QStringList& degraded,
    const std::vector<std::optional<Comparison>>& comparisons, const Parameters& parameters,
    int file);

}  // namespace lumetra
