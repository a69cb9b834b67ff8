#include "MetafileGdi.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace pixhold::imaging::metafile {

namespace {

// Raster operations of the bit-block records.
enum : std::uint32_t {
    RopSrcCopy = 0x00CC0020, RopSrcPaint = 0x00EE0086, RopSrcAnd = 0x008800C6, RopSrcInvert = 0x00660046,
    RopNotSrcCopy = 0x00330008, RopPatCopy = 0x00F00021, RopPatInvert = 0x005A0049, RopDstInvert = 0x00550009,
    RopBlackness = 0x00000042, RopWhiteness = 0x00FF0062,
};

QPen MakePen(const TPenSpec& spec) {
    if (spec.Null) return QPen(Qt::NoPen);
    QPen pen(spec.Colour);
    pen.setStyle(spec.Style);
    pen.setCapStyle(spec.Cap);
    pen.setJoinStyle(spec.Join);
    pen.setWidthF(spec.Width > 0 ? spec.Width : 0);  // 0: one output pixel, whatever the scale
    return pen;
}

Qt::BrushStyle HatchStyle(int hatch) {
    switch (hatch) {
    case 0: return Qt::HorPattern;
    case 1: return Qt::VerPattern;
    case 2: return Qt::FDiagPattern;  // HS_FDIAGONAL: down from left to right
    case 3: return Qt::BDiagPattern;
    case 4: return Qt::CrossPattern;
    default: return Qt::DiagCrossPattern;
    }
}

double Length(QPointF v) { return std::hypot(v.x(), v.y()); }

// The angle, in Qt's counter-clockwise degrees, of the point where the line
// from the box's centre through `p` meets the ellipse inscribed in the box.
double EllipseAngle(const QRectF& box, QPointF p) {
    const QPointF c = box.center();
    const double rx = box.width() / 2, ry = box.height() / 2;
    return std::atan2(-(p.y() - c.y()) / ry, (p.x() - c.x()) / rx) * 180.0 / std::numbers::pi;
}

}  // namespace

TPenSpec PenOf(std::uint32_t style, double width, const QColor& colour) {
    TPenSpec pen;
    pen.Colour = colour;
    pen.Width = std::min(std::fabs(width), 32767.0);  // wider only costs time
    switch (style & 0x0F) {
    case 1: pen.Style = Qt::DashLine; break;
    case 2: pen.Style = Qt::DotLine; break;
    case 3: pen.Style = Qt::DashDotLine; break;
    case 4: pen.Style = Qt::DashDotDotLine; break;
    case 5: pen.Null = true; break;
    default: pen.Style = Qt::SolidLine; break;  // PS_SOLID, PS_INSIDEFRAME, user styles
    }
    switch (style & 0x0F00) {
    case 0x0100: pen.Cap = Qt::SquareCap; break;
    case 0x0200: pen.Cap = Qt::FlatCap; break;
    default: pen.Cap = Qt::RoundCap; break;
    }
    switch (style & 0xF000) {
    case 0x1000: pen.Join = Qt::BevelJoin; break;
    case 0x2000: pen.Join = Qt::MiterJoin; break;
    default: pen.Join = Qt::RoundJoin; break;
    }
    return pen;
}

TBrushSpec BrushOf(std::uint32_t style, const QColor& colour, std::uint32_t hatch) {
    TBrushSpec brush;
    brush.Colour = colour;
    if (style == 1) brush.Null = true;                         // BS_NULL
    else if (style == 2) brush.Hatch = static_cast<int>(hatch % 6);  // BS_HATCHED
    return brush;
}

TGdiObject StockObject(std::uint32_t index) {
    TGdiObject o;
    if (index <= 5 || index == 18) {
        o.Kind = TGdiObject::KindBrush;
        static const int greys[] = {255, 192, 128, 64, 0};
        if (index == 5) o.Brush.Null = true;
        else if (index < 5) o.Brush.Colour = QColor(greys[index], greys[index], greys[index]);
    } else if ((index >= 6 && index <= 8) || index == 19) {
        o.Kind = TGdiObject::KindPen;
        o.Pen.Colour = index == 6 ? Qt::white : Qt::black;
        o.Pen.Null = index == 8;
    } else if (index >= 10 && index <= 17) {
        o.Kind = TGdiObject::KindFont;
        if (index == 10 || index == 11 || index == 16) o.Font.Face = QStringLiteral("Monospace");
    }
    return o;
}

TDeviceContext::TDeviceContext(QPainter& painter, const QRectF& target, const QTransform& toTarget,
                               QPointF deviceDpi)
    // The painter's own transform stays under everything the metafile does.
    : painter_(painter), toTarget_(toTarget * painter.transform()), deviceDpi_(deviceDpi) {
    QPainterPath targetPath;
    targetPath.addRect(target);
    targetClip_ = painter.transform().map(targetPath);
    state_.Clip = targetClip_;
    painter_.setClipRect(target);
}

QTransform TDeviceContext::Page() const {
    const TDcState& s = state_;
    double sx = 1, sy = 1;
    switch (s.MapMode) {
    case 2: sx = deviceDpi_.x() / 254.0; sy = -deviceDpi_.y() / 254.0; break;    // MM_LOMETRIC
    case 3: sx = deviceDpi_.x() / 2540.0; sy = -deviceDpi_.y() / 2540.0; break;  // MM_HIMETRIC
    case 4: sx = deviceDpi_.x() / 100.0; sy = -deviceDpi_.y() / 100.0; break;    // MM_LOENGLISH
    case 5: sx = deviceDpi_.x() / 1000.0; sy = -deviceDpi_.y() / 1000.0; break;  // MM_HIENGLISH
    case 6: sx = deviceDpi_.x() / 1440.0; sy = -deviceDpi_.y() / 1440.0; break;  // MM_TWIPS
    case 7:                                                                        // MM_ISOTROPIC
    case 8:                                                                        // MM_ANISOTROPIC
        if (s.WindowExt.width() != 0 && s.WindowExt.height() != 0) {
            sx = s.ViewportExt.width() / s.WindowExt.width();
            sy = s.ViewportExt.height() / s.WindowExt.height();
            if (s.MapMode == 7) {  // the larger scale shrinks to the smaller one, signs kept
                const double m = std::min(std::fabs(sx), std::fabs(sy));
                sx = std::copysign(m, sx);
                sy = std::copysign(m, sy);
            }
        }
        break;
    default: break;  // MM_TEXT
    }
    return QTransform(sx, 0, 0, sy, s.ViewportOrg.x() - s.WindowOrg.x() * sx,
                      s.ViewportOrg.y() - s.WindowOrg.y() * sy);
}

void TDeviceContext::Save() { saved_.push_back(state_); }

void TDeviceContext::Restore(int which) {
    // Negative: that many levels back; positive: that saved instance.
    const std::ptrdiff_t depth = static_cast<std::ptrdiff_t>(saved_.size());
    const std::ptrdiff_t keep = which < 0 ? depth + which : static_cast<std::ptrdiff_t>(which) - 1;
    if (which == 0 || keep < 0 || keep >= depth) return;
    state_ = saved_[static_cast<std::size_t>(keep)];
    saved_.resize(static_cast<std::size_t>(keep));
    ApplyClip();
}

void TDeviceContext::Select(const TGdiObject& object) {
    switch (object.Kind) {
    case TGdiObject::KindPen: state_.Pen = object.Pen; break;
    case TGdiObject::KindBrush: state_.Brush = object.Brush; break;
    case TGdiObject::KindFont: state_.Font = object.Font; break;
    case TGdiObject::KindRegion: ClipToLogicalRects(object.Region); break;
    default: break;
    }
}

// ---- Lines and shapes --------------------------------------------------------

void TDeviceContext::MoveTo(QPointF p) {
    state_.Position = p;
    if (inPath_) path_.moveTo(p);
}

void TDeviceContext::LineTo(QPointF p) {
    QPainterPath path;
    path.moveTo(state_.Position);
    path.lineTo(p);
    if (inPath_) {
        if (path_.elementCount() == 0 || path_.currentPosition() != state_.Position) path_.moveTo(state_.Position);
        path_.lineTo(p);
    } else {
        Shape(path, false, true);
    }
    state_.Position = p;
}

void TDeviceContext::Polyline(const QPolygonF& points) {
    if (points.size() < 2) return;
    QPainterPath path;
    path.addPolygon(points);
    Shape(path, false, true);
}

void TDeviceContext::PolylineTo(const QPolygonF& points) {
    for (const QPointF& p : points) LineTo(p);
}

void TDeviceContext::PolyBezier(const QPolygonF& points) {
    if (points.size() < 4) return;
    QPainterPath path;
    path.moveTo(points[0]);
    for (qsizetype i = 1; i + 2 < points.size(); i += 3) path.cubicTo(points[i], points[i + 1], points[i + 2]);
    Shape(path, false, true);
}

void TDeviceContext::PolyBezierTo(const QPolygonF& points) {
    QPainterPath path;
    path.moveTo(state_.Position);
    for (qsizetype i = 0; i + 2 < points.size(); i += 3) {
        path.cubicTo(points[i], points[i + 1], points[i + 2]);
        state_.Position = points[i + 2];
    }
    if (inPath_) {
        if (path_.elementCount() == 0 || path_.currentPosition() != path.elementAt(0)) {
            path_.addPath(path);
        } else {
            path_.connectPath(path);
        }
    } else {
        Shape(path, false, true);
    }
}

void TDeviceContext::Polygon(const QPolygonF& points) {
    if (points.size() < 2) return;
    QPainterPath path;
    path.addPolygon(points);
    path.closeSubpath();
    Shape(path, true, true);
}

void TDeviceContext::PolyPolygon(const std::vector<QPolygonF>& polygons) {
    QPainterPath path;
    for (const QPolygonF& points : polygons) {
        if (points.size() < 2) continue;
        path.addPolygon(points);
        path.closeSubpath();
    }
    Shape(path, true, true);
}

void TDeviceContext::Rectangle(const QRectF& box) {
    QPainterPath path;
    path.addRect(box.normalized());
    Shape(path, true, true);
}

void TDeviceContext::RoundRect(const QRectF& box, QSizeF corner) {
    QPainterPath path;
    path.addRoundedRect(box.normalized(), std::fabs(corner.width()) / 2, std::fabs(corner.height()) / 2);
    Shape(path, true, true);
}

void TDeviceContext::Ellipse(const QRectF& box) {
    QPainterPath path;
    path.addEllipse(box.normalized());
    Shape(path, true, true);
}

void TDeviceContext::Arc(const QRectF& rawBox, QPointF start, QPointF end, TArcKind kind) {
    const QRectF box = rawBox.normalized();
    if (box.width() <= 0 || box.height() <= 0) return;
    const double a0 = EllipseAngle(box, start), a1 = EllipseAngle(box, end);
    // The direction is the one seen on the device: a flipped mapping reverses it.
    const bool clockwise = state_.ArcClockwise != (Full().determinant() < 0);
    double sweep = a1 - a0;
    if (clockwise) {
        while (sweep >= 0) sweep -= 360;
    } else {
        while (sweep <= 0) sweep += 360;
    }
    QPainterPath path;
    switch (kind) {
    case TArcKind::Pie:
        path.moveTo(box.center());
        path.arcTo(box, a0, sweep);
        path.closeSubpath();
        break;
    case TArcKind::Chord:
        path.arcMoveTo(box, a0);
        path.arcTo(box, a0, sweep);
        path.closeSubpath();
        break;
    case TArcKind::ArcTo:
        path.moveTo(state_.Position);
        path.arcTo(box, a0, sweep);
        state_.Position = path.currentPosition();
        break;
    case TArcKind::Arc:
        path.arcMoveTo(box, a0);
        path.arcTo(box, a0, sweep);
        break;
    }
    const bool closed = kind == TArcKind::Pie || kind == TArcKind::Chord;
    Shape(path, closed, true);
}

void TDeviceContext::AngleArc(QPointF centre, double radius, double start, double sweep) {
    if (!std::isfinite(start) || !std::isfinite(sweep) || radius <= 0) return;
    const QRectF box(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    QPainterPath path;
    path.moveTo(state_.Position);
    path.arcTo(box, start, std::clamp(sweep, -3600.0, 3600.0));
    state_.Position = path.currentPosition();
    Shape(path, false, true);
}

void TDeviceContext::SetPixel(QPointF p, const QColor& colour) {
    if (inPath_) return;
    painter_.setTransform(Full());
    painter_.fillRect(QRectF(p, QSizeF(1, 1)), colour);
}

void TDeviceContext::FillRects(const std::vector<QRectF>& rects) {
    QPainterPath path;
    for (const QRectF& r : rects) path.addRect(r.normalized());
    Shape(path, true, false);
}

void TDeviceContext::FillGradientRect(const QRectF& box, const QColor& from, const QColor& to, bool vertical) {
    if (inPath_) return;
    const QRectF r = box.normalized();
    QLinearGradient gradient(box.topLeft(), vertical ? QPointF(box.left(), box.bottom()) : QPointF(box.right(), box.top()));
    gradient.setColorAt(0, from);
    gradient.setColorAt(1, to);
    painter_.setTransform(Full());
    painter_.fillRect(r, QBrush(gradient));
}

void TDeviceContext::FillGradientTriangle(const QPolygonF& corners, const std::vector<QColor>& colours) {
    if (inPath_ || corners.size() != 3 || colours.size() != 3) return;
    int red = 0, green = 0, blue = 0;
    for (const QColor& c : colours) {
        red += c.red();
        green += c.green();
        blue += c.blue();
    }
    QPainterPath path;
    path.addPolygon(corners);
    path.closeSubpath();
    painter_.setTransform(Full());
    painter_.fillPath(path, QColor(red / 3, green / 3, blue / 3));
}

void TDeviceContext::Shape(const QPainterPath& shape, bool fill, bool stroke) {
    if (inPath_) {
        path_.addPath(shape);
        return;
    }
    QPainterPath path = shape;
    path.setFillRule(state_.PolyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
    painter_.setTransform(Full());
    if (fill) Fill(path);
    if (stroke && !state_.Pen.Null) {
        QPen pen = MakePen(state_.Pen);
        // A pen so wide that the stroke around the path's first point alone covers
        // the whole target is narrowed to just that, and drawn solid (its dashes
        // would be longer than the target too): the same picture, without the
        // stroker's work on enormous outlines.
        const QTransform full = Full();
        const double scale = std::sqrt(std::fabs(full.determinant()));
        if (path.elementCount() > 0 && scale > 0) {
            const QPointF first = full.map(QPointF(path.elementAt(0)));
            const QRectF bounds = targetClip_.boundingRect();
            double reach = 0;
            for (const QPointF corner : {bounds.topLeft(), bounds.topRight(), bounds.bottomLeft(), bounds.bottomRight()}) {
                reach = std::max(reach, Length(corner - first));
            }
            if (pen.widthF() * scale > 2 * reach + 2) {
                pen.setWidthF((2 * reach + 2) / scale);
                pen.setStyle(Qt::SolidLine);
            }
            // Dashes of a pen wider than the target are longer than it: solid is
            // near enough, and dashing such a pen along a long path takes seconds.
            if (pen.style() != Qt::SolidLine && pen.widthF() * scale > bounds.width() + bounds.height()) {
                pen.setStyle(Qt::SolidLine);
            }
        }
        painter_.strokePath(path, pen);
    }
}

void TDeviceContext::Fill(const QPainterPath& path) {
    const TBrushSpec& b = state_.Brush;
    if (b.Null) return;
    if (!b.Pattern.isNull()) {
        painter_.fillPath(path, QBrush(b.Pattern));
    } else if (b.Hatch >= 0) {
        if (state_.BkMode == 2) painter_.fillPath(path, state_.BkColour);
        painter_.fillPath(path, QBrush(b.Colour, HatchStyle(b.Hatch)));
    } else {
        painter_.fillPath(path, b.Colour);
    }
}

// ---- Paths -------------------------------------------------------------------

void TDeviceContext::BeginPath() {
    inPath_ = true;
    path_ = QPainterPath();
}

void TDeviceContext::AbortPath() {
    inPath_ = false;
    path_ = QPainterPath();
}

void TDeviceContext::CloseFigure() {
    if (inPath_) path_.closeSubpath();
}

void TDeviceContext::DrawPath(bool fill, bool stroke) {
    inPath_ = false;
    const QPainterPath path = path_;
    path_ = QPainterPath();
    Shape(path, fill, stroke);
}

// ---- Clipping (kept in output coordinates, as the device keeps it) -------------

void TDeviceContext::ApplyClip() {
    painter_.setTransform(QTransform());
    painter_.setClipPath(state_.Clip);
}

void TDeviceContext::Combine(const QPainterPath& region, int mode) {
    QPainterPath& clip = state_.Clip;
    switch (mode) {
    case 1: clip = clip.intersected(region); break;                                    // RGN_AND
    case 2: clip = clip.united(region).intersected(targetClip_); break;                // RGN_OR
    case 3: clip = clip.subtracted(region).united(region.subtracted(clip)); break;     // RGN_XOR
    case 4: clip = clip.subtracted(region); break;                                     // RGN_DIFF
    default: clip = region.intersected(targetClip_); break;                            // RGN_COPY
    }
    ApplyClip();
}

void TDeviceContext::IntersectClip(const QRectF& box) {
    QPainterPath path;
    path.addRect(box.normalized());
    Combine(Full().map(path), 1);
}

void TDeviceContext::ExcludeClip(const QRectF& box) {
    QPainterPath path;
    path.addRect(box.normalized());
    Combine(Full().map(path), 4);
}

void TDeviceContext::OffsetClip(QPointF by) {
    const QTransform full = Full();
    state_.Clip.translate(full.map(by) - full.map(QPointF(0, 0)));
    state_.Clip = state_.Clip.intersected(targetClip_);
    ApplyClip();
}

void TDeviceContext::ResetClip() {
    state_.Clip = targetClip_;
    ApplyClip();
}

void TDeviceContext::ClipToPath(int mode) {
    inPath_ = false;
    QPainterPath path = path_;
    path_ = QPainterPath();
    path.setFillRule(state_.PolyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
    Combine(Full().map(path), mode);
}

void TDeviceContext::ClipToDeviceRects(const std::vector<QRectF>& rects, int mode) {
    QPainterPath region;
    for (const QRectF& r : rects) region.addRect(r.normalized());
    Combine(toTarget_.map(region), mode);
}

void TDeviceContext::ClipToLogicalRects(const std::vector<QRectF>& rects) {
    QPainterPath region;
    for (const QRectF& r : rects) region.addRect(r.normalized());
    Combine(Full().map(region), 5);
}

// ---- Text ----------------------------------------------------------------------

void TDeviceContext::Text(QPointF at, const QString& text, const std::vector<double>& dx, std::uint32_t options,
                          const QRectF& box) {
    const QTransform full = Full();
    const bool haveBox = box.isValid() && !box.isNull();
    if ((options & 0x0002) && haveBox && !inPath_) {  // ETO_OPAQUE
        painter_.setTransform(full);
        painter_.fillRect(box.normalized(), state_.BkColour);
    }
    if (text.isEmpty()) return;
    const bool updateCp = (state_.TextAlign & 1) != 0;
    if (updateCp) at = state_.Position;

    const QPointF origin = full.map(at);
    const QPointF ux = full.map(at + QPointF(1, 0)) - origin;
    const QPointF uy = full.map(at + QPointF(0, 1)) - origin;
    const double sx = Length(ux), sy = Length(uy);
    if (!(sx > 0) || !(sy > 0)) return;
    // Text stays upright whatever the mapping's flips; only a rotation turns it.
    double angle = std::fabs(ux.y()) < 1e-9 * sx ? 0.0 : std::atan2(ux.y(), ux.x()) * 180.0 / std::numbers::pi;
    angle -= state_.Font.Escapement / 10.0;

    const TFontSpec& spec = state_.Font;
    QFont font;
    if (!spec.Face.isEmpty()) font.setFamily(spec.Face);
    font.setItalic(spec.Italic);
    font.setUnderline(spec.Underline);
    font.setStrikeOut(spec.StrikeOut);
    font.setWeight(static_cast<QFont::Weight>(std::clamp(spec.Weight <= 0 ? 400 : spec.Weight, 100, 900)));
    double pixels = spec.Height == 0 ? 12.0 : std::fabs(spec.Height) * sy;
    pixels = std::clamp(pixels, 1.0, 4000.0);
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(pixels))));
    if (spec.Height > 0) {  // a cell height: ascent and descent together
        const double cell = QFontMetricsF(font).height();
        if (cell > 0) font.setPixelSize(std::max(1, static_cast<int>(std::lround(pixels * pixels / cell))));
    }
    const QFontMetricsF metrics(font);

    double width = 0;
    if (!dx.empty()) {
        for (double d : dx) width += d * sx;
    } else {
        width = metrics.horizontalAdvance(text);
    }
    double x = 0, y = 0;
    switch (state_.TextAlign & 6) {
    case 2: x = -width; break;      // TA_RIGHT
    case 6: x = -width / 2; break;  // TA_CENTER
    default: break;                 // TA_LEFT
    }
    switch (state_.TextAlign & 24) {
    case 8: y = -metrics.descent(); break;  // TA_BOTTOM
    case 24: break;                         // TA_BASELINE
    default: y = metrics.ascent(); break;   // TA_TOP
    }

    QTransform local;
    local.translate(origin.x(), origin.y());
    local.rotate(angle);
    if (inPath_) {  // the glyphs' outlines join the path, in logical units
        bool invertible = false;
        const QTransform back = full.inverted(&invertible);
        if (!invertible) return;
        QPainterPath glyphs;
        if (dx.empty()) {
            glyphs.addText(QPointF(x, y), font, text);
        } else {
            double pos = x;
            for (qsizetype i = 0; i < text.size(); ++i) {
                glyphs.addText(QPointF(pos, y), font, QString(text[i]));
                if (static_cast<std::size_t>(i) < dx.size()) pos += dx[static_cast<std::size_t>(i)] * sx;
            }
        }
        path_.addPath((local * back).map(glyphs));
        if (updateCp) state_.Position = at + QPointF(width / sx, 0);
        return;
    }

    painter_.save();
    if ((options & 0x0004) && haveBox) {  // ETO_CLIPPED
        painter_.setTransform(full);
        painter_.setClipRect(box.normalized(), Qt::IntersectClip);
    }
    painter_.setTransform(local);
    painter_.setFont(font);
    if (state_.BkMode == 2) {
        painter_.fillRect(QRectF(x, y - metrics.ascent(), width, metrics.ascent() + metrics.descent()),
                          state_.BkColour);
    }
    painter_.setPen(state_.TextColour);
    if (dx.empty()) {
        painter_.drawText(QPointF(x, y), text);
    } else {
        double pos = x;
        for (qsizetype i = 0; i < text.size(); ++i) {
            painter_.drawText(QPointF(pos, y), QString(text[i]));
            if (static_cast<std::size_t>(i) < dx.size()) pos += dx[static_cast<std::size_t>(i)] * sx;
        }
    }
    painter_.restore();
    if (updateCp) state_.Position = at + QPointF(width / sx, 0);
}

// ---- Bitmaps -------------------------------------------------------------------

void TDeviceContext::SetOpacity(double opacity) { painter_.setOpacity(opacity); }

void TDeviceContext::PatBlt(const QRectF& dest, TRop rop) {
    if (inPath_) return;
    QPainterPath path;
    path.addRect(dest.normalized());
    painter_.setTransform(Full());
    switch (rop) {
    case RopPatCopy: Fill(path); break;
    case RopBlackness: painter_.fillPath(path, Qt::black); break;
    case RopWhiteness: painter_.fillPath(path, Qt::white); break;
    case RopDstInvert:
        painter_.setCompositionMode(QPainter::RasterOp_NotDestination);
        painter_.fillPath(path, Qt::black);
        painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
        break;
    case RopPatInvert:
        if (!state_.Brush.Null) {
            painter_.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
            painter_.fillPath(path, state_.Brush.Colour);
            painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
        }
        break;
    default: break;
    }
}

void TDeviceContext::DrawBitmap(const QRectF& dest, const QRectF& source, const QImage& image, TRop rop) {
    if (inPath_ || image.isNull()) return;
    if (rop == RopPatCopy || rop == RopBlackness || rop == RopWhiteness || rop == RopDstInvert ||
        rop == RopPatInvert) {
        PatBlt(dest, rop);
        return;
    }
    if (dest.width() == 0 || dest.height() == 0 || source.width() <= 0 || source.height() <= 0) return;
    QRectF target = dest, from = source;
    QImage picture = image;
    if (dest.width() < 0 || dest.height() < 0) {  // a negative extent mirrors the bitmap
        picture = image.copy(source.toRect()).mirrored(dest.width() < 0, dest.height() < 0);
        from = QRectF(picture.rect());
        target = dest.normalized();
    }
    QPainter::CompositionMode mode = QPainter::CompositionMode_SourceOver;
    switch (rop) {
    case RopSrcAnd: mode = QPainter::RasterOp_SourceAndDestination; break;
    case RopSrcPaint: mode = QPainter::RasterOp_SourceOrDestination; break;
    case RopSrcInvert: mode = QPainter::RasterOp_SourceXorDestination; break;
    case RopNotSrcCopy: mode = QPainter::RasterOp_NotSource; break;
    default: break;
    }
    painter_.setTransform(Full());
    painter_.setCompositionMode(mode);
    const bool smooth = painter_.testRenderHint(QPainter::SmoothPixmapTransform);
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, state_.StretchMode == 4);
    painter_.drawImage(target, picture, from);
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
    painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

}  // namespace pixhold::imaging::metafile
