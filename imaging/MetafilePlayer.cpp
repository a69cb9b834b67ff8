#include "MetafilePlayer.h"

#include "GraphicError.h"
#include "MetafileDib.h"
#include "MetafileGdi.h"

#include <QPainter>

#include <cmath>

namespace pixhold::imaging::metafile {

namespace {

// Restores the caller's painter however playback ends.
class TPainterGuard {
public:
    explicit TPainterGuard(QPainter& painter) : painter_(painter) { painter_.save(); }
    ~TPainterGuard() { painter_.restore(); }
    TPainterGuard(const TPainterGuard&) = delete;
    TPainterGuard& operator=(const TPainterGuard&) = delete;

private:
    QPainter& painter_;
};

QTransform FrameToTarget(const QRectF& frame, const QRectF& target) {
    const double sx = target.width() / frame.width(), sy = target.height() / frame.height();
    return QTransform(sx, 0, 0, sy, target.left() - frame.left() * sx, target.top() - frame.top() * sy);
}

// ---- EMF -------------------------------------------------------------------

QColor ColourRef(std::uint32_t v) { return QColor(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF); }

QPointF PointL(const TLeReader& r, std::size_t o) { return QPointF(r.I32(o), r.I32(o + 4)); }
QRectF RectL(const TLeReader& r, std::size_t o) {
    return QRectF(QPointF(r.I32(o), r.I32(o + 4)), QPointF(r.I32(o + 8), r.I32(o + 12)));
}

QPolygonF Points(const TLeReader& r, std::size_t o, std::uint32_t count, bool small) {
    const std::size_t each = small ? 4 : 8;
    if (count > r.Size() / each) throw EShortRecord{};
    r.Need(o, count * each);
    QPolygonF points;
    points.reserve(static_cast<int>(count));
    for (std::uint32_t i = 0; i < count; ++i, o += each) {
        points.append(small ? QPointF(r.I16(o), r.I16(o + 2)) : QPointF(r.I32(o), r.I32(o + 4)));
    }
    return points;
}

TFontSpec FontW(const TLeReader& r, std::size_t o) {
    TFontSpec f;
    f.Height = r.I32(o);
    f.Width = r.I32(o + 4);
    f.Escapement = r.I32(o + 8);
    f.Weight = r.I32(o + 16);
    f.Italic = r.U8(o + 20) != 0;
    f.Underline = r.U8(o + 21) != 0;
    f.StrikeOut = r.U8(o + 22) != 0;
    QString face;
    for (std::size_t i = 0; i < 32 && r.Has(o + 28 + 2 * i, 2); ++i) {
        const char16_t c = r.U16(o + 28 + 2 * i);
        if (c == 0) break;
        face.append(QChar(c));
    }
    f.Face = face;
    return f;
}

// A DIB inside an EMF record: header and bits at offsets from the record's start.
// `alpha`: a 32-bit DIB's fourth byte is alpha whatever its header says.
bool RecordDib(const TLeReader& r, std::size_t offBmi, std::size_t cbBmi, std::size_t offBits, std::size_t cbBits,
               QImage& image, bool alpha = false) {
    if (cbBmi == 0) return false;
    TBitmap bitmap = BitmapOfDib(r.Sub(offBmi, cbBmi), r.Sub(offBits, cbBits));
    if (alpha && bitmap.BitCount == 32) bitmap.HasAlpha = true;
    image = bitmap.ToImage();
    return !image.isNull();
}

// The rectangles of a RGNDATA (32-byte header: size, type, count, bytes, bounds).
std::vector<QRectF> RegionData(const TLeReader& r, std::size_t o) {
    const std::uint32_t count = r.U32(o + 8);
    if (count > r.Size() / 16) throw EShortRecord{};
    std::vector<QRectF> rects;
    for (std::uint32_t i = 0; i < count; ++i) rects.push_back(RectL(r, o + 32 + 16 * static_cast<std::size_t>(i)));
    return rects;
}

// An XFORM; one with a value that is not a finite number makes the record count as damaged.
QTransform Xform(const TLeReader& r, std::size_t o) {
    double m[6];
    for (int i = 0; i < 6; ++i) {
        m[i] = r.F32(o + 4 * static_cast<std::size_t>(i));
        if (!std::isfinite(m[i])) throw EShortRecord{};
    }
    return QTransform(m[0], m[1], m[2], m[3], m[4], m[5]);
}

class TEmfPlayer {
public:
    TEmfPlayer(const TEmfHeader& header, QPainter& painter, const QRectF& target)
        : dc_(painter, target, FrameToTarget(header.FrameInDevice(), target),
              QPointF(header.DeviceUnitsPerHmmX() * 2540.0, header.DeviceUnitsPerHmmY() * 2540.0)) {}

    void Play(TBytes data) {
        const TLeReader file(data);
        std::size_t offset = 0;
        while (file.Has(offset, 8)) {
            const std::uint32_t type = file.U32(offset), size = file.U32(offset + 4);
            if (size < 8 || !file.Has(offset, size)) break;  // checked on reading; never loop on damage
            if (type == emr::Eof) break;
            try {
                Record(type, TLeReader(file.Sub(offset, size)));
            } catch (const EShortRecord&) {
                // a record too short for its fields draws nothing
            } catch (const EInvalidGraphic&) {
                // an undecodable bitmap inside a record draws nothing
            }
            offset += size;
        }
    }

private:
    void Record(std::uint32_t type, const TLeReader& r);
    void Object(std::uint32_t index, TGdiObject object) {
        if (index == 0 || index >= 0x80000000u) return;  // 0 is the metafile itself; stock objects are not created
        objects_[index] = std::move(object);
    }
    void PolyPoly(const TLeReader& r, bool small, bool polygon);
    void Bitmap(const QRectF& dest, const QRectF& src, const QImage& image, std::uint32_t rop, bool bottomUp);

    TDeviceContext dc_;
    std::unordered_map<std::uint32_t, TGdiObject> objects_;
};

void TEmfPlayer::PolyPoly(const TLeReader& r, bool small, bool polygon) {
    const std::uint32_t polys = r.U32(24), total = r.U32(28);
    if (polys > r.Size() / 4) throw EShortRecord{};
    r.Need(32, static_cast<std::size_t>(polys) * 4);
    const QPolygonF all = Points(r, 32 + static_cast<std::size_t>(polys) * 4, total, small);
    std::vector<QPolygonF> list;
    std::size_t at = 0;
    for (std::uint32_t i = 0; i < polys; ++i) {
        const std::uint32_t n = r.U32(32 + 4 * static_cast<std::size_t>(i));
        if (n > static_cast<std::size_t>(all.size()) - at) throw EShortRecord{};
        list.push_back(all.mid(static_cast<qsizetype>(at), n));
        at += n;
    }
    if (polygon) {
        dc_.PolyPolygon(list);
    } else {
        for (const QPolygonF& p : list) dc_.Polyline(p);
    }
}

void TEmfPlayer::Bitmap(const QRectF& dest, const QRectF& src, const QImage& image, std::uint32_t rop,
                        bool bottomUp) {
    QRectF source = src;
    // StretchDIBits counts the source's y from the bottom row of the DIB.
    if (bottomUp) source.moveTop(image.height() - src.top() - src.height());
    dc_.DrawBitmap(dest, source, image, rop);
}

void TEmfPlayer::Record(std::uint32_t type, const TLeReader& r) {
    TDcState& s = dc_.State();
    switch (type) {
    case emr::Header: break;
    case emr::SetWindowExtEx: s.WindowExt = QSizeF(r.I32(8), r.I32(12)); break;
    case emr::SetWindowOrgEx: s.WindowOrg = PointL(r, 8); break;
    case emr::SetViewportExtEx: s.ViewportExt = QSizeF(r.I32(8), r.I32(12)); break;
    case emr::SetViewportOrgEx: s.ViewportOrg = PointL(r, 8); break;
    case emr::ScaleViewportExtEx:
    case emr::ScaleWindowExtEx: {
        const double xn = r.I32(8), xd = r.I32(12), yn = r.I32(16), yd = r.I32(20);
        if (xd == 0 || yd == 0) break;
        QSizeF& ext = type == emr::ScaleWindowExtEx ? s.WindowExt : s.ViewportExt;
        ext = QSizeF(ext.width() * xn / xd, ext.height() * yn / yd);
        break;
    }
    case emr::SetMapMode: s.MapMode = r.I32(8); break;
    case emr::SetStretchBltMode: s.StretchMode = r.I32(8); break;
    case emr::SetBkMode: s.BkMode = r.I32(8); break;
    case emr::SetPolyFillMode: s.PolyFillMode = r.I32(8); break;
    case emr::SetTextAlign: s.TextAlign = r.U32(8); break;
    case emr::SetTextColor: s.TextColour = ColourRef(r.U32(8)); break;
    case emr::SetBkColor: s.BkColour = ColourRef(r.U32(8)); break;
    case emr::SetArcDirection: s.ArcClockwise = r.I32(8) == 2; break;
    case emr::MoveToEx: dc_.MoveTo(PointL(r, 8)); break;
    case emr::LineTo: dc_.LineTo(PointL(r, 8)); break;
    case emr::SaveDC: dc_.Save(); break;
    case emr::RestoreDC: dc_.Restore(r.I32(8)); break;
    case emr::SetWorldTransform:
        s.World = Xform(r, 8);
        break;
    case emr::ModifyWorldTransform: {
        const QTransform x = Xform(r, 8);
        switch (r.U32(32)) {
        case 1: s.World = QTransform(); break;
        case 2: s.World = x * s.World; break;  // the new transform applies first
        case 3: s.World = s.World * x; break;
        case 4: s.World = x; break;
        default: break;
        }
        break;
    }
    case emr::SelectObject: {
        const std::uint32_t index = r.U32(8);
        if (index & 0x80000000u) {
            dc_.Select(StockObject(index & 0x7FFFFFFFu));
        } else if (const auto it = objects_.find(index); it != objects_.end()) {
            dc_.Select(it->second);
        }
        break;
    }
    case emr::DeleteObject: objects_.erase(r.U32(8)); break;
    case emr::CreatePen: {
        TGdiObject o;
        o.Kind = TGdiObject::KindPen;
        o.Pen = PenOf(r.U32(12), r.I32(16), ColourRef(r.U32(24)));
        Object(r.U32(8), o);
        break;
    }
    case emr::ExtCreatePen: {
        TGdiObject o;
        o.Kind = TGdiObject::KindPen;
        const std::uint32_t style = r.U32(28);
        const bool geometric = (style & 0x000F0000u) == 0x00010000u;
        o.Pen = PenOf(style, geometric ? r.I32(32) : 0, ColourRef(r.U32(40)));
        if (r.U32(36) == 1) o.Pen.Null = true;  // BS_NULL brush
        Object(r.U32(8), o);
        break;
    }
    case emr::CreateBrushIndirect: {
        TGdiObject o;
        o.Kind = TGdiObject::KindBrush;
        o.Brush = BrushOf(r.U32(12), ColourRef(r.U32(16)), r.U32(20));
        Object(r.U32(8), o);
        break;
    }
    case emr::CreateDIBPatternBrushPt:
    case emr::CreateMonoBrush: {
        TGdiObject o;
        o.Kind = TGdiObject::KindBrush;
        o.Brush.Null = true;
        QImage pattern;
        try {
            if (RecordDib(r, r.U32(16), r.U32(20), r.U32(24), r.U32(28), pattern)) {
                o.Brush.Null = false;
                o.Brush.Pattern = pattern;
            }
        } catch (const EInvalidGraphic&) {
        }
        Object(r.U32(8), o);
        break;
    }
    case emr::ExtCreateFontIndirectW: {
        TGdiObject o;
        o.Kind = TGdiObject::KindFont;
        o.Font = FontW(r, 12);
        Object(r.U32(8), o);
        break;
    }
    case emr::Rectangle: dc_.Rectangle(RectL(r, 8)); break;
    case emr::Ellipse: dc_.Ellipse(RectL(r, 8)); break;
    case emr::RoundRect: dc_.RoundRect(RectL(r, 8), QSizeF(r.I32(24), r.I32(28))); break;
    case emr::Arc: dc_.Arc(RectL(r, 8), PointL(r, 24), PointL(r, 32), TArcKind::Arc); break;
    case emr::ArcTo: dc_.Arc(RectL(r, 8), PointL(r, 24), PointL(r, 32), TArcKind::ArcTo); break;
    case emr::Chord: dc_.Arc(RectL(r, 8), PointL(r, 24), PointL(r, 32), TArcKind::Chord); break;
    case emr::Pie: dc_.Arc(RectL(r, 8), PointL(r, 24), PointL(r, 32), TArcKind::Pie); break;
    case emr::AngleArc: dc_.AngleArc(PointL(r, 8), r.U32(16), r.F32(20), r.F32(24)); break;
    case emr::Polygon:
    case emr::Polygon16: dc_.Polygon(Points(r, 28, r.U32(24), type == emr::Polygon16)); break;
    case emr::Polyline:
    case emr::Polyline16: dc_.Polyline(Points(r, 28, r.U32(24), type == emr::Polyline16)); break;
    case emr::PolylineTo:
    case emr::PolylineTo16: dc_.PolylineTo(Points(r, 28, r.U32(24), type == emr::PolylineTo16)); break;
    case emr::PolyBezier:
    case emr::PolyBezier16: dc_.PolyBezier(Points(r, 28, r.U32(24), type == emr::PolyBezier16)); break;
    case emr::PolyBezierTo:
    case emr::PolyBezierTo16: dc_.PolyBezierTo(Points(r, 28, r.U32(24), type == emr::PolyBezierTo16)); break;
    case emr::PolyPolygon:
    case emr::PolyPolygon16: PolyPoly(r, type == emr::PolyPolygon16, true); break;
    case emr::PolyPolyline:
    case emr::PolyPolyline16: PolyPoly(r, type == emr::PolyPolyline16, false); break;
    case emr::SetPixelV: dc_.SetPixel(PointL(r, 8), ColourRef(r.U32(16))); break;
    case emr::BeginPath: dc_.BeginPath(); break;
    case emr::EndPath: dc_.EndPath(); break;
    case emr::AbortPath: dc_.AbortPath(); break;
    case emr::CloseFigure: dc_.CloseFigure(); break;
    case emr::FillPath: dc_.DrawPath(true, false); break;
    case emr::StrokePath: dc_.DrawPath(false, true); break;
    case emr::StrokeAndFillPath: dc_.DrawPath(true, true); break;
    case emr::SelectClipPath: dc_.ClipToPath(r.I32(8)); break;
    case emr::IntersectClipRect: dc_.IntersectClip(RectL(r, 8)); break;
    case emr::ExcludeClipRect: dc_.ExcludeClip(RectL(r, 8)); break;
    case emr::OffsetClipRgn: dc_.OffsetClip(PointL(r, 8)); break;
    case emr::ExtSelectClipRgn: {
        const std::uint32_t bytes = r.U32(8);
        const int mode = r.I32(12);
        if (bytes < 32) {
            if (mode == 5) dc_.ResetClip();  // RGN_COPY of no region
            break;
        }
        dc_.ClipToDeviceRects(RegionData(r, 16), mode);
        break;
    }
    case emr::FillRgn: {
        const TBrushSpec current = s.Brush;
        const std::uint32_t index = r.U32(28);
        if (index & 0x80000000u) {
            dc_.Select(StockObject(index & 0x7FFFFFFFu));
        } else if (const auto it = objects_.find(index); it != objects_.end()) {
            dc_.Select(it->second);
        }
        const std::vector<QRectF> rects = RegionData(r, 32);
        dc_.FillRects(rects);
        s.Brush = current;
        break;
    }
    case emr::PaintRgn: dc_.FillRects(RegionData(r, 28)); break;
    case emr::ExtTextOutW:
    case emr::ExtTextOutA: {
        const QPointF ref = PointL(r, 36);
        const std::uint32_t chars = r.U32(44), offString = r.U32(48), options = r.U32(52);
        const bool noRect = (options & 0x100) != 0;
        const QRectF box = noRect ? QRectF() : RectL(r, 56);
        const std::uint32_t offDx = r.U32(noRect ? 56 : 72);
        const bool wide = type == emr::ExtTextOutW;
        if (chars > r.Size()) throw EShortRecord{};
        r.Need(offString, static_cast<std::size_t>(chars) * (wide ? 2 : 1));
        QString text;
        for (std::uint32_t i = 0; i < chars; ++i) {
            text.append(wide ? QChar(static_cast<char16_t>(r.U16(offString + 2 * static_cast<std::size_t>(i))))
                             : QChar::fromLatin1(static_cast<char>(r.U8(offString + i))));
        }
        std::vector<double> dx;
        const std::size_t step = (options & 0x2000) ? 8 : 4;  // ETO_PDY: x and y advances
        if (offDx != 0 && r.Has(offDx, chars * step)) {
            for (std::uint32_t i = 0; i < chars; ++i) dx.push_back(r.I32(offDx + step * i));
        }
        if (options & 0x10) break;  // glyph indices: no characters to draw
        dc_.Text(ref, text, dx, options, box);
        break;
    }
    case emr::BitBlt:
    case emr::StretchBlt: {
        const QRectF dest(r.I32(24), r.I32(28), r.I32(32), r.I32(36));
        const std::uint32_t rop = r.U32(40);
        QImage image;
        if (!RecordDib(r, r.U32(84), r.U32(88), r.U32(92), r.U32(96), image)) {
            dc_.PatBlt(dest, rop);
            break;
        }
        const QSizeF srcSize = type == emr::StretchBlt ? QSizeF(r.I32(100), r.I32(104)) : dest.size();
        Bitmap(dest, QRectF(QPointF(r.I32(44), r.I32(48)), srcSize), image, rop, false);
        break;
    }
    case emr::AlphaBlend: {
        // BLENDFUNCTION: operation, flags, constant alpha, AC_SRC_ALPHA (the DIB's alpha, premultiplied).
        const QRectF dest(r.I32(24), r.I32(28), r.I32(32), r.I32(36));
        const std::uint32_t blend = r.U32(40);
        const bool alpha = ((blend >> 24) & 1) != 0;
        QImage image;
        if (!RecordDib(r, r.U32(84), r.U32(88), r.U32(92), r.U32(96), image, alpha)) break;
        if (alpha && image.format() == QImage::Format_ARGB32) {
            image.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
        }
        dc_.SetOpacity(((blend >> 16) & 0xFF) / 255.0);
        Bitmap(dest, QRectF(QPointF(r.I32(44), r.I32(48)), QSizeF(r.I32(100), r.I32(104))), image, 0x00CC0020, false);
        dc_.SetOpacity(1.0);
        break;
    }
    case emr::GradientFill: {
        // TRIVERTEX: x, y, then 16-bit red, green, blue, alpha; then rectangles or triangles of vertex indexes.
        const std::uint32_t vertices = r.U32(24), parts = r.U32(28), mode = r.U32(32);
        if (vertices > r.Size() / 16 || parts > r.Size() / 8) throw EShortRecord{};
        std::vector<std::pair<QPointF, QColor>> v;
        for (std::uint32_t i = 0; i < vertices; ++i) {
            const std::size_t o = 36 + 16 * static_cast<std::size_t>(i);
            v.emplace_back(PointL(r, o), QColor(r.U16(o + 8) >> 8, r.U16(o + 10) >> 8, r.U16(o + 12) >> 8));
        }
        const std::size_t at = 36 + 16 * static_cast<std::size_t>(vertices);
        for (std::uint32_t i = 0; i < parts; ++i) {
            if (mode == 2) {  // triangles: filled with the mean of their corners' colours
                const std::size_t o = at + 12 * static_cast<std::size_t>(i);
                const std::uint32_t a = r.U32(o), b = r.U32(o + 4), c = r.U32(o + 8);
                if (a >= v.size() || b >= v.size() || c >= v.size()) continue;
                dc_.FillGradientTriangle({v[a].first, v[b].first, v[c].first}, {v[a].second, v[b].second, v[c].second});
            } else {
                const std::size_t o = at + 8 * static_cast<std::size_t>(i);
                const std::uint32_t a = r.U32(o), b = r.U32(o + 4);
                if (a >= v.size() || b >= v.size()) continue;
                dc_.FillGradientRect(QRectF(v[a].first, v[b].first), v[a].second, v[b].second, mode == 1);
            }
        }
        break;
    }
    case emr::StretchDIBits: {
        QImage image;
        if (!RecordDib(r, r.U32(48), r.U32(52), r.U32(56), r.U32(60), image)) break;
        const QRectF dest(r.I32(24), r.I32(28), r.I32(72), r.I32(76));
        const QRectF src(r.I32(32), r.I32(36), r.I32(40), r.I32(44));
        Bitmap(dest, src, image, r.U32(68), true);
        break;
    }
    case emr::SetDIBitsToDevice: {
        QImage image;
        if (!RecordDib(r, r.U32(48), r.U32(52), r.U32(56), r.U32(60), image)) break;
        const QRectF dest(r.I32(24), r.I32(28), r.I32(40), r.I32(44));
        const QRectF src(r.I32(32), r.I32(36), r.I32(40), r.I32(44));
        Bitmap(dest, src, image, 0x00CC0020, true);
        break;
    }
    default: break;  // unknown or not drawn (palettes, comments, EMF+ ...)
    }
}

// ---- WMF -------------------------------------------------------------------

TFontSpec FontA(const TLeReader& r, std::size_t o) {
    TFontSpec f;
    f.Height = r.I16(o);
    f.Width = r.I16(o + 2);
    f.Escapement = r.I16(o + 4);
    f.Weight = r.I16(o + 8);
    f.Italic = r.U8(o + 10) != 0;
    f.Underline = r.U8(o + 11) != 0;
    f.StrikeOut = r.U8(o + 12) != 0;
    QByteArray face;
    for (std::size_t i = 0; i < 32 && r.Has(o + 18 + i, 1); ++i) {
        const std::uint8_t c = r.U8(o + 18 + i);
        if (c == 0) break;
        face.append(static_cast<char>(c));
    }
    f.Face = QString::fromLatin1(face);
    return f;
}

// Rectangles of a WMF region object (scans of left/right pairs), in logical units.
std::vector<QRectF> RegionRects(const TLeReader& r) {
    std::vector<QRectF> rects;
    const std::uint16_t scans = r.U16(10);
    std::size_t o = 22;
    for (std::uint16_t i = 0; i < scans; ++i) {
        const std::uint16_t count = r.U16(o);
        const double top = r.I16(o + 2), bottom = r.I16(o + 4);
        o += 6;
        for (std::uint16_t k = 0; k < count / 2; ++k, o += 4) {
            rects.emplace_back(QPointF(r.I16(o), top), QPointF(r.I16(o + 2), bottom));
        }
        o += 2;  // Count2
    }
    return rects;
}

class TWmfPlayer {
public:
    TWmfPlayer(const TWmfInfo& info, QPainter& painter, const QRectF& target)
        : dc_(painter, target, FrameToTarget(QRectF(info.Box), target),
              QPointF(info.UnitsPerInch, info.UnitsPerInch)) {
        // Logical units start as the box's own units; SetWindowOrg/Ext move the window.
        TDcState& s = dc_.State();
        s.MapMode = 8;
        s.WindowOrg = s.ViewportOrg = QPointF(info.Box.topLeft());
        s.WindowExt = s.ViewportExt = QSizeF(info.Box.size());
    }

    void Play(TBytes data, std::size_t offset) {
        const TLeReader file(data);
        while (file.Has(offset, 6)) {
            const std::uint64_t size = static_cast<std::uint64_t>(file.U32(offset)) * 2;
            const std::uint16_t function = file.U16(offset + 4);
            if (size < 6 || !file.Has(offset, size)) break;  // checked on reading; never loop on damage
            if (function == meta::Eof) break;
            try {
                Record(function, TLeReader(file.Sub(offset, size)));
            } catch (const EShortRecord&) {
            } catch (const EInvalidGraphic&) {
            }
            offset += size;
        }
    }

private:
    void Record(std::uint16_t function, const TLeReader& r);
    // Created objects take the lowest free slot of the table.
    void Create(TGdiObject object) {
        for (TGdiObject& slot : objects_) {
            if (slot.Kind == TGdiObject::KindNone) {
                slot = std::move(object);
                return;
            }
        }
        objects_.push_back(std::move(object));
    }
    void Bitmap(const QRectF& dest, QRectF src, TBytes dib, std::uint32_t rop, bool bottomUp) {
        const QImage image = BitmapOfPackedDib(dib).ToImage();
        if (image.isNull()) return;
        if (bottomUp) src.moveTop(image.height() - src.top() - src.height());
        dc_.DrawBitmap(dest, src, image, rop);
    }

    TDeviceContext dc_;
    std::vector<TGdiObject> objects_;
};

QRectF Box16(const TLeReader& r, std::size_t o) {  // bottom, right, top, left
    return QRectF(QPointF(r.I16(o + 6), r.I16(o + 4)), QPointF(r.I16(o + 2), r.I16(o)));
}
QPointF Point16(const TLeReader& r, std::size_t o) { return QPointF(r.I16(o + 2), r.I16(o)); }  // y, x

void TWmfPlayer::Record(std::uint16_t function, const TLeReader& r) {
    TDcState& s = dc_.State();
    const std::size_t size = r.Size();
    switch (function) {
    case meta::SetWindowOrg: s.WindowOrg = Point16(r, 6); break;
    case meta::SetWindowExt: s.WindowExt = QSizeF(r.I16(8), r.I16(6)); break;
    case meta::SetViewportOrg: s.ViewportOrg = Point16(r, 6); break;
    case meta::SetViewportExt: s.ViewportExt = QSizeF(r.I16(8), r.I16(6)); break;
    case meta::OffsetWindowOrg: s.WindowOrg += Point16(r, 6); break;
    case meta::OffsetViewportOrg: s.ViewportOrg += Point16(r, 6); break;
    case meta::ScaleWindowExt:
    case meta::ScaleViewportExt: {
        const double yd = r.I16(6), yn = r.I16(8), xd = r.I16(10), xn = r.I16(12);
        if (xd == 0 || yd == 0) break;
        QSizeF& ext = function == meta::ScaleWindowExt ? s.WindowExt : s.ViewportExt;
        ext = QSizeF(ext.width() * xn / xd, ext.height() * yn / yd);
        break;
    }
    case meta::SetMapMode: {
        const int mode = r.U16(6);
        // MM_TEXT would throw away the placement the player set up; keep the box's units.
        if (mode >= 2 && mode <= 8) s.MapMode = mode;
        break;
    }
    case meta::SetBkMode: s.BkMode = r.U16(6); break;
    case meta::SetStretchBltMode: s.StretchMode = r.U16(6); break;
    case meta::SetPolyFillMode: s.PolyFillMode = r.U16(6); break;
    case meta::SetTextAlign: s.TextAlign = r.U16(6); break;
    case meta::SetTextColor: s.TextColour = ColourRef(r.U32(6)); break;
    case meta::SetBkColor: s.BkColour = ColourRef(r.U32(6)); break;
    case meta::MoveTo: dc_.MoveTo(Point16(r, 6)); break;
    case meta::LineTo: dc_.LineTo(Point16(r, 6)); break;
    case meta::SaveDC: dc_.Save(); break;
    case meta::RestoreDC: dc_.Restore(r.I16(6)); break;
    case meta::SelectObject: {
        const std::uint16_t index = r.U16(6);
        if (index < objects_.size()) dc_.Select(objects_[index]);  // an index beyond the table selects nothing
        break;
    }
    case meta::DeleteObject: {
        const std::uint16_t index = r.U16(6);
        if (index < objects_.size()) objects_[index] = TGdiObject{};
        break;
    }
    case meta::CreatePenIndirect: {
        TGdiObject o;
        o.Kind = TGdiObject::KindPen;
        o.Pen = PenOf(r.U16(6), r.I16(8), ColourRef(r.U32(12)));
        Create(o);
        break;
    }
    case meta::CreateBrushIndirect: {
        TGdiObject o;
        o.Kind = TGdiObject::KindBrush;
        o.Brush = BrushOf(r.U16(6), ColourRef(r.U32(8)), r.U16(12));
        Create(o);
        break;
    }
    case meta::DIBCreatePatternBrush: {
        TGdiObject o;
        o.Kind = TGdiObject::KindBrush;
        o.Brush.Null = true;
        try {
            const QImage pattern = BitmapOfPackedDib(r.Sub(10, size - 10)).ToImage();
            if (!pattern.isNull()) {
                o.Brush.Null = false;
                o.Brush.Pattern = pattern;
            }
        } catch (const EInvalidGraphic&) {
        } catch (const EShortRecord&) {
        }
        Create(o);
        break;
    }
    case meta::CreatePatternBrush: {
        TGdiObject o;  // old device-dependent bitmaps are not drawn: a null brush keeps the slot
        o.Kind = TGdiObject::KindBrush;
        o.Brush.Null = true;
        Create(o);
        break;
    }
    case meta::CreateFontIndirect: {
        TGdiObject o;
        o.Kind = TGdiObject::KindFont;
        o.Font = FontA(r, 6);
        Create(o);
        break;
    }
    case meta::CreatePalette: {
        TGdiObject o;
        o.Kind = TGdiObject::KindPalette;
        Create(o);
        break;
    }
    case meta::CreateRegion: {
        TGdiObject o;
        o.Kind = TGdiObject::KindRegion;
        try {
            o.Region = RegionRects(TLeReader(r.Sub(6, size - 6)));
        } catch (const EShortRecord&) {
            o.Region.clear();
        }
        Create(o);
        break;
    }
    case meta::SelectClipRegion: {
        const std::uint16_t index = r.U16(6);
        if (index < objects_.size() && objects_[index].Kind == TGdiObject::KindRegion) {
            dc_.ClipToLogicalRects(objects_[index].Region);
        } else {
            dc_.ResetClip();
        }
        break;
    }
    case meta::FillRegion:
    case meta::PaintRegion: {
        const std::uint16_t region = r.U16(6);
        if (region >= objects_.size() || objects_[region].Kind != TGdiObject::KindRegion) break;
        const TBrushSpec current = s.Brush;
        if (function == meta::FillRegion) {
            const std::uint16_t brush = r.U16(8);
            if (brush < objects_.size() && objects_[brush].Kind == TGdiObject::KindBrush) s.Brush = objects_[brush].Brush;
        }
        dc_.FillRects(objects_[region].Region);
        s.Brush = current;
        break;
    }
    case meta::Rectangle: dc_.Rectangle(Box16(r, 6)); break;
    case meta::Ellipse: dc_.Ellipse(Box16(r, 6)); break;
    case meta::RoundRect: dc_.RoundRect(Box16(r, 10), QSizeF(r.I16(8), r.I16(6))); break;
    case meta::Arc: dc_.Arc(Box16(r, 14), Point16(r, 10), Point16(r, 6), TArcKind::Arc); break;
    case meta::Chord: dc_.Arc(Box16(r, 14), Point16(r, 10), Point16(r, 6), TArcKind::Chord); break;
    case meta::Pie: dc_.Arc(Box16(r, 14), Point16(r, 10), Point16(r, 6), TArcKind::Pie); break;
    case meta::Polygon: dc_.Polygon(Points(r, 8, r.U16(6), true)); break;
    case meta::Polyline: dc_.Polyline(Points(r, 8, r.U16(6), true)); break;
    case meta::PolyPolygon: {
        const std::uint16_t polys = r.U16(6);
        r.Need(8, static_cast<std::size_t>(polys) * 2);
        std::size_t o = 8 + static_cast<std::size_t>(polys) * 2;
        std::vector<QPolygonF> list;
        for (std::uint16_t i = 0; i < polys; ++i) {
            const std::uint16_t n = r.U16(8 + 2 * static_cast<std::size_t>(i));
            list.push_back(Points(r, o, n, true));
            o += static_cast<std::size_t>(n) * 4;
        }
        dc_.PolyPolygon(list);
        break;
    }
    case meta::SetPixel: dc_.SetPixel(Point16(r, 10), ColourRef(r.U32(6))); break;
    case meta::IntersectClipRect: dc_.IntersectClip(Box16(r, 6)); break;
    case meta::ExcludeClipRect: dc_.ExcludeClip(Box16(r, 6)); break;
    case meta::OffsetClipRgn: dc_.OffsetClip(Point16(r, 6)); break;
    case meta::TextOut: {
        const std::uint16_t length = r.U16(6);
        const TBytes bytes = r.Sub(8, length);
        const std::size_t after = 8 + ((static_cast<std::size_t>(length) + 1) & ~std::size_t{1});
        const QPointF at = Point16(r, after);
        dc_.Text(at, QString::fromLatin1(reinterpret_cast<const char*>(bytes.data()), length), {}, 0, QRectF());
        break;
    }
    case meta::ExtTextOut: {
        const QPointF at = Point16(r, 6);
        const std::uint16_t length = r.U16(10), options = r.U16(12);
        std::size_t o = 14;
        QRectF box;
        if (options & 0x0006) {  // ETO_OPAQUE or ETO_CLIPPED: a rectangle follows
            box = QRectF(QPointF(r.I16(14), r.I16(16)), QPointF(r.I16(18), r.I16(20)));
            o += 8;
        }
        const TBytes bytes = r.Sub(o, length);
        o += (static_cast<std::size_t>(length) + 1) & ~std::size_t{1};
        std::vector<double> dx;
        if (r.Has(o, static_cast<std::size_t>(length) * 2)) {
            for (std::uint16_t i = 0; i < length; ++i) dx.push_back(r.I16(o + 2 * static_cast<std::size_t>(i)));
        }
        dc_.Text(at, QString::fromLatin1(reinterpret_cast<const char*>(bytes.data()), length), dx, options, box);
        break;
    }
    case meta::PatBlt: {
        const QRectF dest(r.I16(16), r.I16(14), r.I16(12), r.I16(10));
        dc_.PatBlt(dest, r.U32(6));
        break;
    }
    case meta::StretchDIB: {
        const QRectF src(r.I16(18), r.I16(16), r.I16(14), r.I16(12));
        const QRectF dest(r.I16(26), r.I16(24), r.I16(22), r.I16(20));
        Bitmap(dest, src, r.Sub(28, size - 28), r.U32(6), true);
        break;
    }
    case meta::DIBStretchBlt: {
        if (size == ((function >> 8) + 3u) * 2) {  // no bitmap: a pattern fill
            dc_.PatBlt(QRectF(r.I16(26), r.I16(24), r.I16(22), r.I16(20)), r.U32(6));
            break;
        }
        const QRectF src(r.I16(16), r.I16(14), r.I16(12), r.I16(10));
        const QRectF dest(r.I16(24), r.I16(22), r.I16(20), r.I16(18));
        Bitmap(dest, src, r.Sub(26, size - 26), r.U32(6), false);
        break;
    }
    case meta::DIBBitBlt: {
        if (size == ((function >> 8) + 3u) * 2) {
            dc_.PatBlt(QRectF(r.I16(22), r.I16(20), r.I16(18), r.I16(16)), r.U32(6));
            break;
        }
        const QRectF dest(r.I16(20), r.I16(18), r.I16(16), r.I16(14));
        const QRectF src(QPointF(r.I16(12), r.I16(10)), dest.size());
        Bitmap(dest, src, r.Sub(22, size - 22), r.U32(6), false);
        break;
    }
    case meta::SetDIBToDev: {
        const QRectF dest(r.I16(22), r.I16(20), r.I16(18), r.I16(16));
        const QRectF src(QPointF(r.I16(14), r.I16(12)), dest.size());
        Bitmap(dest, src, r.Sub(24, size - 24), 0x00CC0020, true);
        break;
    }
    default: break;  // unknown or not drawn (palettes, escapes, old bitmaps ...)
    }
}

}  // namespace

void PlayEmf(TBytes data, const TEmfHeader& header, QPainter& painter, const QRectF& target) {
    if (target.isEmpty()) return;
    TPainterGuard guard(painter);
    TEmfPlayer player(header, painter, target);
    player.Play(data);
}

void PlayWmf(TBytes data, const TWmfInfo& info, QPainter& painter, const QRectF& target) {
    if (target.isEmpty()) return;
    TPainterGuard guard(painter);
    TWmfPlayer player(info, painter, target);
    const TLeReader r(data);
    player.Play(data, info.RecordsOffset + static_cast<std::size_t>(r.U16(info.RecordsOffset + 2)) * 2);
}

}  // namespace pixhold::imaging::metafile
