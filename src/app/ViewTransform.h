#pragma once

// Zoom and pan of the comparison viewer: where an image of a given size lies in a viewport of
// a given size.  Every pane of the viewer has the viewport's size and uses the same transform,
// so the original, the degraded image and the heat map always show the same pixels.
//
// A point p of the image (in image pixels, (0, 0) the top-left corner of the first pixel) is
// drawn at offset + zoom p in the viewport.  Per axis the offset is kept so that an image
// larger than the viewport covers it (no empty margin can be panned into view) and an image
// smaller than the viewport is centred.

#include <QPointF>
#include <QRectF>
#include <QSizeF>

namespace lumetra {

class ViewTransform {
  public:
    // Largest zoom: screen pixels per image pixel, enough to read single pixels at 4K.
    static constexpr double kMaxZoom = 32.0;

    // Sizes in pixels; an empty image or viewport leaves the transform at zoom 1, offset 0.
    void setImageSize(QSizeF size);
    // Keeps the fitted view fitted; otherwise keeps the offset as far as the bounds allow.
    void setViewportSize(QSizeF size);

    QSizeF imageSize() const { return _image; }
    QSizeF viewportSize() const { return _viewport; }
    double zoom() const { return _zoom; }
    // Viewport position of the image's top-left corner.
    QPointF offset() const { return _offset; }
    // True from fit() until the next zoom or pan.
    bool fitted() const { return _fitted; }

    // The zoom at which the whole image just fits the viewport.
    double fitZoom() const;
    // Smallest zoom: the fitted view, or 1 when the image already fits at 1:1.
    double minZoom() const;

    // The whole image, as large as fits, centred.
    void fit();
    // One image pixel per screen pixel, keeping the image point under `anchor` in place.
    void actualSize(QPointF anchor);
    // Multiplies the zoom by `factor` (clamped to minZoom()..kMaxZoom), keeping the image point
    // under the viewport point `anchor` in place as far as the bounds allow.
    void zoomBy(double factor, QPointF anchor);
    // Moves the image by `delta` viewport pixels, as far as the bounds allow.
    void panBy(QPointF delta);

    QPointF toImage(QPointF viewportPoint) const;
    QPointF toViewport(QPointF imagePoint) const;
    // The part of the image inside the viewport, in image pixels (empty when none).
    QRectF visibleImageRect() const;
    // Where a rectangle of the image is drawn in the viewport.
    QRectF viewportRectOf(QRectF imageRect) const;

  private:
    void setZoomAbout(double zoom, QPointF anchor);
    void clampOffset();

    QSizeF _image;
    QSizeF _viewport;
    double _zoom = 1.0;
    QPointF _offset;
    bool _fitted = false;
};

}  // namespace lumetra
