#pragma once

// The drawing state both metafile players share: the graphics objects a
// metafile creates, the device context's settings (mapping, colours, the
// selected objects, clipping, the current path) and the drawing operations,
// all in the metafile's logical units and drawn through QPainter.

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QPolygonF>
#include <QRectF>
#include <QString>
#include <QTransform>

#include <cstdint>
#include <unordered_map>
#include <vector>

class QPainter;

namespace pixhold::imaging::metafile {

struct TPenSpec {
    bool Null = false;
    QColor Colour = Qt::black;
    double Width = 0;  // logical units; 0 draws one pixel wide
    Qt::PenStyle Style = Qt::SolidLine;
    Qt::PenCapStyle Cap = Qt::RoundCap;
    Qt::PenJoinStyle Join = Qt::RoundJoin;
};

struct TBrushSpec {
    bool Null = false;
    QColor Colour = Qt::white;
    int Hatch = -1;  // HS_* when hatched
    QImage Pattern;  // DIB pattern brushes
};

struct TFontSpec {
    double Height = 0;  // < 0: character height; > 0: cell height; 0: default
    double Width = 0;
    int Escapement = 0;  // tenths of a degree, counter-clockwise
    int Weight = 400;
    bool Italic = false;
    bool Underline = false;
    bool StrikeOut = false;
    QString Face;
};

struct TGdiObject {
    enum TKind { KindNone, KindPen, KindBrush, KindFont, KindPalette, KindRegion } Kind = KindNone;
    TPenSpec Pen;
    TBrushSpec Brush;
    TFontSpec Font;
    std::vector<QRectF> Region;  // logical units
};

TPenSpec PenOf(std::uint32_t style, double width, const QColor& colour);
TBrushSpec BrushOf(std::uint32_t style, const QColor& colour, std::uint32_t hatch);
TGdiObject StockObject(std::uint32_t index);

enum class TArcKind { Arc, ArcTo, Chord, Pie };
using TRop = std::uint32_t;  // ternary raster operation of bit-block records

struct TDcState {
    int MapMode = 1;  // MM_TEXT
    QPointF WindowOrg{0, 0};
    QSizeF WindowExt{1, 1};
    QPointF ViewportOrg{0, 0};
    QSizeF ViewportExt{1, 1};
    QTransform World;
    TPenSpec Pen;
    TBrushSpec Brush;
    TFontSpec Font;
    QColor TextColour = Qt::black;
    QColor BkColour = Qt::white;
    int BkMode = 2;       // OPAQUE
    std::uint32_t TextAlign = 0;
    int PolyFillMode = 1;  // ALTERNATE
    bool ArcClockwise = false;
    int StretchMode = 1;  // BLACKONWHITE; HALFTONE 4 smooths stretched bitmaps
    QPointF Position;
    QPainterPath Clip;  // output coordinates
};

class TDeviceContext {
public:
    // `toTarget` maps device units to the painter's logical coordinates; `deviceDpi`
    // gives the device units per inch for the fixed mapping modes.
    TDeviceContext(QPainter& painter, const QRectF& target, const QTransform& toTarget, QPointF deviceDpi);

    TDcState& State() { return state_; }
    void Save();
    void Restore(int which);
    void Select(const TGdiObject& object);

    void MoveTo(QPointF p);
    void LineTo(QPointF p);
    void Polyline(const QPolygonF& points);
    void PolylineTo(const QPolygonF& points);
    void PolyBezier(const QPolygonF& points);
    void PolyBezierTo(const QPolygonF& points);
    void Polygon(const QPolygonF& points);
    void PolyPolygon(const std::vector<QPolygonF>& polygons);
    void Rectangle(const QRectF& box);
    void RoundRect(const QRectF& box, QSizeF corner);
    void Ellipse(const QRectF& box);
    void Arc(const QRectF& box, QPointF start, QPointF end, TArcKind kind);
    void AngleArc(QPointF centre, double radius, double start, double sweep);
    void SetPixel(QPointF p, const QColor& colour);
    void FillRects(const std::vector<QRectF>& rects);  // with the brush, no outline
    void FillGradientRect(const QRectF& box, const QColor& from, const QColor& to, bool vertical);
    void FillGradientTriangle(const QPolygonF& corners, const std::vector<QColor>& colours);
    void Text(QPointF at, const QString& text, const std::vector<double>& dx, std::uint32_t options,
              const QRectF& box);
    void DrawBitmap(const QRectF& dest, const QRectF& source, const QImage& image, TRop rop);
    void PatBlt(const QRectF& dest, TRop rop);
    void SetOpacity(double opacity);

    void BeginPath();
    void EndPath() { inPath_ = false; }
    void AbortPath();
    void CloseFigure();
    void DrawPath(bool fill, bool stroke);

    void IntersectClip(const QRectF& box);
    void ExcludeClip(const QRectF& box);
    void OffsetClip(QPointF by);
    void ResetClip();
    void ClipToPath(int mode);
    void ClipToDeviceRects(const std::vector<QRectF>& rects, int mode);
    void ClipToLogicalRects(const std::vector<QRectF>& rects);

private:
    QTransform Page() const;
    QTransform Full() const { return state_.World * Page() * toTarget_; }
    void Shape(const QPainterPath& path, bool fill, bool stroke);
    void Fill(const QPainterPath& path);
    void Combine(const QPainterPath& region, int mode);
    void ApplyClip();

    QPainter& painter_;
    QPainterPath targetClip_;
    QTransform toTarget_;
    QPointF deviceDpi_;
    TDcState state_;
    std::vector<TDcState> saved_;
    bool inPath_ = false;
    QPainterPath path_;  // logical units
};

}  // namespace pixhold::imaging::metafile
