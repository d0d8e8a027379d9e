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
// How far (in pixels) the mouse may move between press and release for a click.
constexpr int kClickSlack = 3;
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
    _originalGrey = QImage();
    _degradedGrey = QImage();
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

void ComparisonCanvas::setProbeMark(std::optional<QPoint> pixel) {
    if (pixel == _probeMark) return;
    _probeMark = pixel;
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
            drawPicture(painter, overlayBase(), 1.0);
            drawPicture(painter, _heatMap, _state.overlayOpacity());
            drawLabel(painter, _heatMap.isNull()
                                   ? heatLabel
                                   : (_state.overlayOnDegraded()
                                          ? tr("Heat map over the degraded image, %1% opaque")
                                          : tr("Heat map over the original, %1% opaque"))
                                         .arg(qRound(_state.overlayOpacity() * kPercent)));
            break;
    }
    drawProbeMark(painter);
    painter.restore();
}

// The picture under the overlay's heat map: original or degraded, in colour or grey.
const QImage& ComparisonCanvas::overlayBase() const {
    const QImage& colour = _state.overlayOnDegraded() ? _degraded : _original;
    if (!_state.overlayGrey()) return colour;
    QImage& grey = _state.overlayOnDegraded() ? _degradedGrey : _originalGrey;
    if (grey.isNull() && !colour.isNull()) {
        grey =
            colour.convertToFormat(QImage::Format_Grayscale8).convertToFormat(QImage::Format_RGB32);
    }
    return grey;
}

// A thin cross through the probed pixel, black under white so that it shows on any picture,
// and the pixel's square outlined once it is large enough to see.
void ComparisonCanvas::drawProbeMark(QPainter& painter) const {
    if (!_probeMark) return;
    const QRectF square = _transform.viewportRectOf(QRectF(QPointF(*_probeMark), QSizeF(1, 1)));
    const QPointF centre = square.center();
    const QSizeF pane = _transform.viewportSize();
    painter.save();
    for (const auto& [colour, width] :
         {std::pair{QColor(Qt::black), 3}, std::pair{QColor(Qt::white), 1}}) {
        painter.setPen(QPen(colour, width));
        painter.drawLine(QPointF(0.0, centre.y()), QPointF(square.left(), centre.y()));
        painter.drawLine(QPointF(square.right(), centre.y()), QPointF(pane.width(), centre.y()));
        painter.drawLine(QPointF(centre.x(), 0.0), QPointF(centre.x(), square.top()));
        painter.drawLine(QPointF(centre.x(), square.bottom()), QPointF(centre.x(), pane.height()));
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

double ComparisonCanvas::dividerAt() const {
    const QSize pane = paneRect(0).size();
    return _state.splitFraction() * (_state.splitLeftRight() ? pane.width() : pane.height());
}

double ComparisonCanvas::alongDivider(QPointF local) const {
    return _state.splitLeftRight() ? local.x() : local.y();
}

// The original left of (or above) the divider, the degraded picture right of (or below) it.
void ComparisonCanvas::drawSplit(QPainter& painter) const {
    const QRect area(QPoint(0, 0), paneRect(0).size());
    const int divider = qRound(dividerAt());
    const bool leftRight = _state.splitLeftRight();
    const QRect first =
        leftRight ? QRect(0, 0, divider, area.height()) : QRect(0, 0, area.width(), divider);
    const QRect second = leftRight ? QRect(divider, 0, area.width() - divider, area.height())
                                   : QRect(0, divider, area.width(), area.height() - divider);
    painter.save();
    painter.setClipRect(first);
    drawPicture(painter, _original, 1.0);
    painter.setClipRect(second);
    drawPicture(painter, _degraded, 1.0);
    painter.restore();
    painter.setPen(QPen(Qt::white, kDividerWidth));
    if (leftRight) {
        painter.drawLine(divider, 0, divider, area.height());
    } else {
        painter.drawLine(0, divider, area.width(), divider);
    }
    drawLabel(painter,
              leftRight ? tr("Original | Degraded") : tr("Original above, degraded below"));
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
    const bool onDivider = _state.mode() == ViewMode::Split &&
                           std::abs(alongDivider(local) - dividerAt()) <= kDividerGrab;
    _drag = onDivider ? Drag::Divider : Drag::Pan;
    _lastDrag = event->position().toPoint();
    _pressedAt = _lastDrag;
    setCursor(onDivider ? (_state.splitLeftRight() ? Qt::SplitHCursor : Qt::SplitVCursor)
                        : Qt::ClosedHandCursor);
}

void ComparisonCanvas::mouseMoveEvent(QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    if (_drag == Drag::Pan) {
        _transform.panBy(QPointF(point - _lastDrag));
        update();
    } else if (_drag == Drag::Divider) {
        const QSize pane = paneRect(0).size();
        emit splitMoved(alongDivider(inPane(point)) /
                        (_state.splitLeftRight() ? pane.width() : pane.height()));
    }
    _lastDrag = point;
    emit probed(pixelAt(point));
}

// The image pixel under a widget point; none in a gap or outside the picture.
std::optional<QPoint> ComparisonCanvas::pixelAt(QPoint point) const {
    if (paneAt(point) < 0 || _original.isNull()) return std::nullopt;
    const QPointF image = _transform.toImage(inPane(point));
    const QPoint pixel(static_cast<int>(std::floor(image.x())),
                       static_cast<int>(std::floor(image.y())));
    if (!QRect(QPoint(0, 0), _original.size()).contains(pixel)) return std::nullopt;
    return pixel;
}

// A press released where it began (within a few pixels) is a click, not a pan.
void ComparisonCanvas::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const bool click = _drag == Drag::Pan &&
                       (event->position().toPoint() - _pressedAt).manhattanLength() <= kClickSlack;
    _drag = Drag::None;
    unsetCursor();
    if (!click) return;
    if (const std::optional<QPoint> pixel = pixelAt(event->position().toPoint())) {
        emit pixelClicked(*pixel);
    }
}

void ComparisonCanvas::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    emit probed(std::nullopt);
}

}  // namespace lumetra
