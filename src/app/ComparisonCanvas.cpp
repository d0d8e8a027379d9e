#include "app/ComparisonCanvas.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QWheelEvent>
#include <cmath>

namespace lumetra {

namespace {

// Pixels between the panes of the side-by-side view.
constexpr int kPaneGap = 4;
// Zoom factor of one step (a wheel notch, Ctrl + or Ctrl -): four steps double the zoom.
const double kZoomStep = std::pow(2.0, 0.25);
// Angle of one wheel notch in the eighths of a degree Qt reports.
constexpr double kWheelNotch = 120.0;
// How near the divider (in pixels) a press grabs it instead of panning.
constexpr double kDividerGrab = 6.0;
// Margin and padding of the pane labels, in pixels.
constexpr int kLabelMargin = 6;
constexpr int kLabelPadding = 3;
// Smallest canvas that still shows three panes of some use, in pixels.
constexpr int kMinWidth = 320;
constexpr int kMinHeight = 200;
// Width of the split divider line, in pixels.
constexpr int kDividerWidth = 2;
// The overlay's opacity is labelled in percent.
constexpr double kPercent = 100.0;
// Background of the panes, darker than most pictures so that their edges show.
constexpr QRgb kBackground = qRgb(48, 48, 48);
// Ground of the pane labels: black at this alpha (of 255), readable over any picture.
constexpr int kLabelGroundAlpha = 160;

// The pixel rectangle covering `rect` (whole pixels, so that every pane samples the same
// pixels), within the picture.
QRectF wholePixels(const QRectF& rect, const QSize& picture) {
    const QRectF outward(QPointF(std::floor(rect.left()), std::floor(rect.top())),
                         QPointF(std::ceil(rect.right()), std::ceil(rect.bottom())));
    return outward.intersected(QRectF(QPointF(0.0, 0.0), QSizeF(picture)));
}

}  // namespace

ComparisonCanvas::ComparisonCanvas(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(kMinWidth, kMinHeight);
}

// Pictures of the size shown before (the next file of a run) keep the zoom and pan, so that
// the same detail can be compared across files; others are fitted.
void ComparisonCanvas::setPictures(const QImage& original, const QImage& degraded) {
    const bool keepView = !_original.isNull() && original.size() == _original.size();
    _original = original;
    _degraded = degraded;
    if (keepView) {
        update();
        return;
    }
    _transform.setImageSize(QSizeF(original.size()));
    updateViewport();
    fit();
}

void ComparisonCanvas::setHeatMap(const QImage& heatMap) {
    _heatMap = heatMap;
    update();
}

void ComparisonCanvas::setMessage(const QString& message) {
    _message = message;
    update();
}

void ComparisonCanvas::setState(const ViewerState& state) {
    const bool panesChange =
        (state.mode() == ViewMode::SideBySide) != (_state.mode() == ViewMode::SideBySide);
    _state = state;
    if (panesChange) updateViewport();
    update();
}

void ComparisonCanvas::fit() {
    _transform.fit();
    update();
    emit viewChanged();
}

void ComparisonCanvas::actualSize() {
    _transform.actualSize(QPointF(paneRect(0).size().width(), paneRect(0).size().height()) / 2.0);
    update();
    emit viewChanged();
}

void ComparisonCanvas::zoomIn() {
    _transform.zoomBy(kZoomStep, QPointF(paneRect(0).width(), paneRect(0).height()) / 2.0);
    update();
    emit viewChanged();
}

void ComparisonCanvas::zoomOut() {
    _transform.zoomBy(1.0 / kZoomStep, QPointF(paneRect(0).width(), paneRect(0).height()) / 2.0);
    update();
    emit viewChanged();
}

int ComparisonCanvas::paneCount() const {
    constexpr int kSideBySidePanes = 3;  // original, degraded, heat map
    return _state.mode() == ViewMode::SideBySide ? kSideBySidePanes : 1;
}

QRect ComparisonCanvas::paneRect(int pane) const {
    const int count = paneCount();
    const int width = std::max(1, (this->width() - (count - 1) * kPaneGap) / count);
    return QRect(pane * (width + kPaneGap), 0, width, height());
}

int ComparisonCanvas::paneAt(QPoint point) const {
    for (int pane = 0; pane < paneCount(); ++pane) {
        if (paneRect(pane).contains(point)) return pane;
    }
    return -1;
}

QPointF ComparisonCanvas::inPane(QPoint point) const {
    const int pane = paneAt(point);
    return QPointF(point - paneRect(pane < 0 ? 0 : pane).topLeft());
}

void ComparisonCanvas::updateViewport() {
    _transform.setViewportSize(QSizeF(paneRect(0).size()));
    emit viewChanged();
}

void ComparisonCanvas::panBy(QPointF delta) {
    _transform.panBy(delta);
    update();
}

void ComparisonCanvas::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    updateViewport();
}

void ComparisonCanvas::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    if (_original.isNull()) {
        painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, _message);
        return;
    }
    for (int pane = 0; pane < paneCount(); ++pane) drawPane(painter, pane);
}

void ComparisonCanvas::drawPane(QPainter& painter, int pane) const {
    const QRect area = paneRect(pane);
    painter.save();
    painter.setClipRect(area);
    painter.translate(area.topLeft());
    painter.fillRect(QRect(QPoint(0, 0), area.size()), QColor(kBackground));
    const QString heatLabel = _heatMap.isNull() ? tr("Heat map: %1").arg(_message) : tr("Heat map");
    switch (_state.mode()) {
        case ViewMode::SideBySide: {
            const QImage* pictures[] = {&_original, &_degraded, &_heatMap};
            const QString labels[] = {tr("Original"), tr("Degraded"), heatLabel};
            drawPicture(painter, *pictures[pane], 1.0);
            drawLabel(painter, labels[pane]);
            break;
        }
        case ViewMode::Split:
            drawSplit(painter);
            break;
        case ViewMode::Flicker: {
            const bool degraded = _state.flickerShowsDegraded();
            drawPicture(painter, degraded ? _degraded : _original, 1.0);
            drawLabel(painter, degraded ? tr("Degraded") : tr("Original"));
            break;
        }
        case ViewMode::Overlay:
            drawPicture(painter, _original, 1.0);
            drawPicture(painter, _heatMap, _state.overlayOpacity());
            drawLabel(painter, _heatMap.isNull()
                                   ? heatLabel
                                   : tr("Heat map over the original, %1% opaque")
                                         .arg(qRound(_state.overlayOpacity() * kPercent)));
            break;
    }
    painter.restore();
}

// Only the visible part of the picture is handed to the painter, so that a 3840 x 2160
// picture costs what the pane shows.  Enlarged pixels stay sharp squares; reduced pictures
// are smoothed.
void ComparisonCanvas::drawPicture(QPainter& painter, const QImage& picture, double opacity) const {
    if (picture.isNull()) return;
    const QRectF source = wholePixels(_transform.visibleImageRect(), picture.size());
    if (source.isEmpty()) return;
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, _transform.zoom() < 1.0);
    painter.setOpacity(opacity);
    painter.drawImage(_transform.viewportRectOf(source), picture, source);
    painter.restore();
}

void ComparisonCanvas::drawLabel(QPainter& painter, const QString& text) const {
    const QRect box = painter.fontMetrics()
                          .boundingRect(text)
                          .translated(kLabelMargin + kLabelPadding,
                                      kLabelMargin + kLabelPadding + painter.fontMetrics().ascent())
                          .adjusted(-kLabelPadding, -kLabelPadding, kLabelPadding, kLabelPadding);
    painter.fillRect(box, QColor(0, 0, 0, kLabelGroundAlpha));
    painter.setPen(Qt::white);
    painter.drawText(box, Qt::AlignCenter, text);
}

double ComparisonCanvas::dividerX() const {
    return _state.splitFraction() * paneRect(0).width();
}

// The original left of the divider, the degraded picture right of it.
void ComparisonCanvas::drawSplit(QPainter& painter) const {
    const QRect area(QPoint(0, 0), paneRect(0).size());
    const int divider = qRound(dividerX());
    painter.save();
    painter.setClipRect(QRect(0, 0, divider, area.height()));
    drawPicture(painter, _original, 1.0);
    painter.setClipRect(QRect(divider, 0, area.width() - divider, area.height()));
    drawPicture(painter, _degraded, 1.0);
    painter.restore();
    painter.setPen(QPen(Qt::white, kDividerWidth));
    painter.drawLine(divider, 0, divider, area.height());
    drawLabel(painter, tr("Original | Degraded"));
}

void ComparisonCanvas::wheelEvent(QWheelEvent* event) {
    const double notches = event->angleDelta().y() / kWheelNotch;
    if (notches == 0.0 || _original.isNull()) return;
    _transform.zoomBy(std::pow(kZoomStep, notches), inPane(event->position().toPoint()));
    update();
    emit viewChanged();
    event->accept();
}

void ComparisonCanvas::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const QPointF local = inPane(event->position().toPoint());
    const bool onDivider =
        _state.mode() == ViewMode::Split && std::abs(local.x() - dividerX()) <= kDividerGrab;
    _drag = onDivider ? Drag::Divider : Drag::Pan;
    _lastDrag = event->position().toPoint();
    setCursor(onDivider ? Qt::SplitHCursor : Qt::ClosedHandCursor);
}

void ComparisonCanvas::mouseMoveEvent(QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    if (_drag == Drag::Pan) {
        _transform.panBy(QPointF(point - _lastDrag));
        update();
    } else if (_drag == Drag::Divider) {
        emit splitMoved(inPane(point).x() / paneRect(0).width());
    }
    _lastDrag = point;
    if (paneAt(point) < 0 || _original.isNull()) {
        emit probed(std::nullopt);
        return;
    }
    const QPointF image = _transform.toImage(inPane(point));
    const QPoint pixel(static_cast<int>(std::floor(image.x())),
                       static_cast<int>(std::floor(image.y())));
    if (QRect(QPoint(0, 0), _original.size()).contains(pixel)) {
        emit probed(pixel);
    } else {
        emit probed(std::nullopt);
    }
}

void ComparisonCanvas::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    _drag = Drag::None;
    unsetCursor();
}

void ComparisonCanvas::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    emit probed(std::nullopt);
}

}  // namespace lumetra
