#pragma once

// The drawing surface of the comparison viewer.  It draws the original, the degraded picture
// and the heat map as the viewer's state says (side by side, split, flicker, heat map over the
// original), every pane through one ViewTransform, and turns the mouse into zoom, pan, divider
// moves and probe positions.  It computes nothing: the pictures are made elsewhere, once, and
// only their visible part is drawn.

#include <QImage>
#include <QPoint>
#include <QString>
#include <QWidget>
#include <optional>

#include "app/ViewTransform.h"
#include "app/ViewerState.h"

class QMouseEvent;
class QPainter;
class QPaintEvent;
class QResizeEvent;
class QWheelEvent;

namespace lumetra {

class ComparisonCanvas : public QWidget {
    Q_OBJECT

  public:
    explicit ComparisonCanvas(QWidget* parent = nullptr);

    // Pictures of one size; the view is fitted to them.
    void setPictures(const QImage& original, const QImage& degraded);
    // The map picture of the current choice (null while it is computed).
    void setHeatMap(const QImage& heatMap);
    // Shown instead of the pictures while there are none ("Computing…", an error).
    void setMessage(const QString& message);
    void setState(const ViewerState& state);
    // The pixel marked with a crosshair in every pane (the probe's); none hides it.
    void setProbeMark(std::optional<QPoint> pixel);

    const ViewTransform& transform() const { return _transform; }
    void fit();
    void actualSize();
    // Zooms in or out by one step about the centre of the panes.
    void zoomIn();
    void zoomOut();
    // Moves the picture by `delta` viewport pixels (the arrow keys).
    void panBy(QPointF delta);

  signals:
    // The image pixel under the cursor, or none when the cursor left the pictures.
    void probed(std::optional<QPoint> pixel);
    // The user dragged the split divider to this fraction of the pane's width (or height,
    // for a horizontal divider).
    void splitMoved(double fraction);
    // A click (press and release without dragging) on an image pixel.
    void pixelClicked(QPoint pixel);
    // The zoom changed (fit, 1:1, a zoom step, a resize).
    void viewChanged();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    enum class Drag { None, Pan, Divider };

    int paneCount() const;
    QRect paneRect(int pane) const;
    // The pane under a widget point, or -1 in a gap.
    int paneAt(QPoint point) const;
    QPointF inPane(QPoint point) const;
    void updateViewport();
    void drawPane(QPainter& painter, int pane) const;
    void drawPicture(QPainter& painter, const QImage& picture, double opacity) const;
    void drawLabel(QPainter& painter, const QString& text) const;
    void drawSplit(QPainter& painter) const;
    void drawProbeMark(QPainter& painter) const;
    const QImage& overlayBase() const;
    // The divider's place along the pane's width (left | right) or height (top / bottom).
    double dividerAt() const;
    double alongDivider(QPointF local) const;
    std::optional<QPoint> pixelAt(QPoint point) const;

    QImage _original;
    QImage _degraded;
    QImage _heatMap;
    // Grey copies of the pictures, for the overlay; made when first needed.
    mutable QImage _originalGrey;
    mutable QImage _degradedGrey;
    std::optional<QPoint> _probeMark;
    QString _message;
    ViewerState _state;
    ViewTransform _transform;
    Drag _drag = Drag::None;
    QPoint _lastDrag;
    QPoint _pressedAt;
};

}  // namespace lumetra
