#include "Artwork.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace pixhold::app {
namespace {

const QColor Green(0, 128, 0);
const QColor Sky(120, 180, 235);
const QColor Hill(60, 140, 70);
const QColor Sun(250, 200, 40);
const QColor Drum(70, 110, 170);

// A picture: sky, sun and hills inside a frame.
void DrawLandscape(QPainter& p, const QRectF& r) {
    p.setPen(QPen(Qt::black, std::max(1.0, r.width() / 40)));
    p.setBrush(Sky);
    p.drawRect(r);
    const QRectF inner = r.adjusted(1, 1, -1, -1);
    p.save();
    p.setClipRect(inner);
    p.setPen(Qt::NoPen);
    p.setBrush(Sun);
    const double s = inner.width() / 4;
    p.drawEllipse(QRectF(inner.right() - s * 1.4, inner.top() + s * 0.4, s, s));
    p.setBrush(Hill);
    QPainterPath hills;
    hills.moveTo(inner.bottomLeft());
    hills.lineTo(inner.left(), inner.bottom() - inner.height() * 0.35);
    hills.lineTo(inner.left() + inner.width() * 0.35, inner.top() + inner.height() * 0.4);
    hills.lineTo(inner.left() + inner.width() * 0.6, inner.bottom() - inner.height() * 0.3);
    hills.lineTo(inner.left() + inner.width() * 0.75, inner.bottom() - inner.height() * 0.45);
    hills.lineTo(inner.right(), inner.bottom() - inner.height() * 0.2);
    hills.lineTo(inner.bottomRight());
    hills.closeSubpath();
    p.drawPath(hills);
    p.restore();
}

// A database drum: the shape every table command shares.
void DrawDrum(QPainter& p, const QRectF& r) {
    const double e = r.height() / 4;
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Drum);
    QPainterPath body;
    body.moveTo(r.left(), r.top() + e / 2);
    body.lineTo(r.left(), r.bottom() - e / 2);
    body.arcTo(QRectF(r.left(), r.bottom() - e, r.width(), e), 180, 180);
    body.lineTo(r.right(), r.top() + e / 2);
    body.closeSubpath();
    p.drawPath(body);
    p.setBrush(Drum.lighter(140));
    p.drawEllipse(QRectF(r.left(), r.top(), r.width(), e));
}

void DrawFolder(QPainter& p, const QRectF& r) {
    p.setPen(QPen(QColor(120, 90, 10), 1));
    p.setBrush(QColor(240, 200, 80));
    QPainterPath path;
    path.moveTo(r.left(), r.top() + r.height() * 0.2);
    path.lineTo(r.left() + r.width() * 0.4, r.top() + r.height() * 0.2);
    path.lineTo(r.left() + r.width() * 0.5, r.top() + r.height() * 0.35);
    path.lineTo(r.right(), r.top() + r.height() * 0.35);
    path.lineTo(r.right(), r.bottom());
    path.lineTo(r.left(), r.bottom());
    path.closeSubpath();
    p.drawPath(path);
}

void DrawArrow(QPainter& p, QPointF from, QPointF to, const QColor& colour) {
    p.setPen(QPen(colour, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(from, to);
    const QLineF line(to, from);
    QLineF a = line;
    a.setLength(4);
    a.setAngle(line.angle() + 35);
    QLineF b = line;
    b.setLength(4);
    b.setAngle(line.angle() - 35);
    p.drawLine(a);
    p.drawLine(b);
}

void DrawLetter(QPainter& p, const QRectF& r, const QString& letter, const QColor& colour) {
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(static_cast<int>(r.height()));
    f.setBold(true);
    p.setFont(f);
    p.setPen(colour);
    p.drawText(r, Qt::AlignCenter, letter);
}

QPixmap Canvas(int w, int h) {
    QPixmap pm(w, h);
    pm.fill(Qt::transparent);
    return pm;
}

}  // namespace

QPixmap ProgramPicture(int width, int height) {
    QPixmap pm = Canvas(width, height);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const double w = width;
    const double h = height;
    // Two prints behind the framed picture.
    p.setPen(QPen(Qt::gray, 1));
    p.setBrush(QColor(245, 245, 235));
    p.save();
    p.translate(w * 0.5, h * 0.5);
    p.rotate(-12);
    p.drawRect(QRectF(-w * 0.38, -h * 0.36, w * 0.76, h * 0.62));
    p.rotate(20);
    p.drawRect(QRectF(-w * 0.38, -h * 0.36, w * 0.76, h * 0.62));
    p.restore();
    DrawLandscape(p, QRectF(w * 0.1, h * 0.18, w * 0.8, h * 0.55));
    // The drum it is kept in.
    DrawDrum(p, QRectF(w * 0.3, h * 0.72, w * 0.4, h * 0.26));
    return pm;
}

QPixmap SmallPicture(int size) {
    QPixmap pm = Canvas(size, size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Green);
    p.drawEllipse(QRectF(1, 1, size - 2, size - 2));
    DrawLetter(p, QRectF(0, 0, size, size * 0.95), QStringLiteral("N"), Qt::white);
    return pm;
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int s : {16, 32, 48}) {
        icon.addPixmap(ProgramPicture(s, s));
    }
    return icon;
}

QIcon ToolIcon(TToolIcon which) {
    constexpr int S = 16;
    QPixmap pm = Canvas(S, S);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF drum(2, 1, 10, 13);
    switch (which) {
    case TToolIcon::NewDatabase:
        DrawDrum(p, drum);
        DrawLetter(p, QRectF(8, 0, 8, 9), QStringLiteral("*"), QColor(200, 120, 0));
        break;
    case TToolIcon::OpenDatabase:
        DrawFolder(p, QRectF(0, 3, 13, 11));
        DrawDrum(p, QRectF(8, 6, 7, 9));
        break;
    case TToolIcon::CompactDatabase:
        DrawDrum(p, QRectF(4, 4, 8, 10));
        DrawArrow(p, {8, 0}, {8, 4}, Qt::darkRed);
        DrawArrow(p, {0, 9}, {4, 9}, Qt::darkRed);
        DrawArrow(p, {16, 9}, {12, 9}, Qt::darkRed);
        break;
    case TToolIcon::ChangePassword:
        DrawDrum(p, drum);
        p.setPen(QPen(QColor(160, 130, 0), 2));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(9, 2, 5, 5));
        p.drawLine(QPointF(11.5, 7), QPointF(11.5, 15));
        p.drawLine(QPointF(11.5, 13), QPointF(14, 13));
        break;
    case TToolIcon::RemoveOrphans:
        DrawLandscape(p, QRectF(1, 1, 10, 8));
        p.setPen(QPen(Qt::red, 2));
        p.drawLine(QPointF(8, 8), QPointF(15, 15));
        p.drawLine(QPointF(15, 8), QPointF(8, 15));
        break;
    case TToolIcon::Import:
        DrawDrum(p, QRectF(6, 3, 9, 12));
        DrawArrow(p, {0, 8}, {8, 8}, Green);
        break;
    case TToolIcon::Export:
        DrawDrum(p, QRectF(1, 3, 9, 12));
        DrawArrow(p, {7, 8}, {15, 8}, Green);
        break;
    case TToolIcon::ChangeCategory:
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(QColor(250, 230, 120));
        p.drawRect(QRectF(1.5, 4.5, 13, 8));
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(3, 7, 3, 3));
        DrawLetter(p, QRectF(6, 4, 9, 9), QStringLiteral("C"), Qt::black);
        break;
    case TToolIcon::MoveToDatabase:
        DrawLandscape(p, QRectF(0.5, 0.5, 8, 7));
        DrawArrow(p, {3, 10}, {9, 14}, Green);
        DrawDrum(p, QRectF(9, 6, 6, 9));
        break;
    case TToolIcon::BrowseFolder:
        DrawFolder(p, QRectF(0, 2, 15, 13));
        DrawLandscape(p, QRectF(5, 7, 8, 6));
        break;
    case TToolIcon::QuickBrowse:
        DrawFolder(p, QRectF(0, 2, 15, 13));
        p.setPen(QPen(QColor(200, 30, 30), 2));
        p.drawLine(QPointF(9, 6), QPointF(6, 10));
        p.drawLine(QPointF(6, 10), QPointF(10, 10));
        p.drawLine(QPointF(10, 10), QPointF(7, 14));
        break;
    case TToolIcon::Delete:
        p.setPen(QPen(QColor(200, 0, 0), 2.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(3, 3), QPointF(13, 13));
        p.drawLine(QPointF(13, 3), QPointF(3, 13));
        break;
    case TToolIcon::SwitchView:
        p.setPen(Qt::NoPen);
        p.setBrush(Drum);
        for (int y : {1, 9}) {
            for (int x : {1, 9}) {
                p.drawRect(QRectF(x, y, 6, 6));
            }
        }
        break;
    case TToolIcon::Options:
        p.setPen(QPen(Qt::darkGray, 1));
        p.setBrush(Qt::lightGray);
        p.drawEllipse(QRectF(2, 2, 12, 12));
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(5.5, 5.5, 5, 5));
        break;
    case TToolIcon::Refresh:
        p.setPen(QPen(Green, 2));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(2, 2, 12, 12), 60 * 16, 280 * 16);
        DrawArrow(p, {13, 2}, {12, 6}, Green);
        break;
    case TToolIcon::Help:
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(40, 90, 200));
        p.drawEllipse(QRectF(1, 1, 14, 14));
        DrawLetter(p, QRectF(0, 1, 16, 14), QStringLiteral("?"), Qt::white);
        break;
    }
    return QIcon(pm);
}

}  // namespace pixhold::app
