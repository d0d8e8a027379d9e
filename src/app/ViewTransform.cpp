#include "app/ViewTransform.h"

#include <algorithm>

namespace lumetra {

namespace {

// Offset along one axis: an image longer than the viewport covers it, a shorter one is
// centred.
double clampedOffset(double offset, double scaledImage, double viewport) {
    if (scaledImage <= viewport) return (viewport - scaledImage) / 2.0;
    return std::clamp(offset, viewport - scaledImage, 0.0);
}

}  // namespace

void ViewTransform::setImageSize(QSizeF size) {
    _image = size;
    fit();
}

void ViewTransform::setViewportSize(QSizeF size) {
    _viewport = size;
    if (_fitted) {
        fit();
    } else {
        _zoom = std::clamp(_zoom, minZoom(), kMaxZoom);
        clampOffset();
    }
}

double ViewTransform::fitZoom() const {
    if (_image.isEmpty() || _viewport.isEmpty()) return 1.0;
    return std::min(_viewport.width() / _image.width(), _viewport.height() / _image.height());
}

double ViewTransform::minZoom() const {
    return std::min(fitZoom(), 1.0);
}

void ViewTransform::fit() {
    _zoom = std::min(fitZoom(), kMaxZoom);
    clampOffset();
    _fitted = true;
}

void ViewTransform::actualSize(QPointF anchor) {
    setZoomAbout(1.0, anchor);
}

void ViewTransform::zoomBy(double factor, QPointF anchor) {
    setZoomAbout(_zoom * factor, anchor);
}

void ViewTransform::panBy(QPointF delta) {
    _offset += delta;
    clampOffset();
    _fitted = false;
}

QPointF ViewTransform::toImage(QPointF viewportPoint) const {
    return (viewportPoint - _offset) / _zoom;
}

QPointF ViewTransform::toViewport(QPointF imagePoint) const {
    return _offset + imagePoint * _zoom;
}

QRectF ViewTransform::visibleImageRect() const {
    const QRectF viewport(toImage(QPointF(0.0, 0.0)), _viewport / _zoom);
    return viewport.intersected(QRectF(QPointF(0.0, 0.0), _image));
}

QRectF ViewTransform::viewportRectOf(QRectF imageRect) const {
    return QRectF(toViewport(imageRect.topLeft()), imageRect.size() * _zoom);
}

// The image point under the anchor is found before the zoom changes and put back under it.
void ViewTransform::setZoomAbout(double zoom, QPointF anchor) {
    const QPointF fixed = toImage(anchor);
    _zoom = std::clamp(zoom, minZoom(), kMaxZoom);
    _offset = anchor - fixed * _zoom;
    clampOffset();
    _fitted = false;
}

void ViewTransform::clampOffset() {
    _offset = QPointF(clampedOffset(_offset.x(), _image.width() * _zoom, _viewport.width()),
                      clampedOffset(_offset.y(), _image.height() * _zoom, _viewport.height()));
}

}  // namespace lumetra
