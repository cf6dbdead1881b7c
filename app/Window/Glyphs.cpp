#include "Glyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

const QColor kInk(40, 48, 64);
const QColor kAccent(32, 120, 200);
const QColor kCut(200, 48, 40);

void Triangle(QPainter& p, QPointF a, QPointF b, QPointF c) {
    QPainterPath path;
    path.moveTo(a);
    path.lineTo(b);
    path.lineTo(c);
    path.closeSubpath();
    p.fillPath(path, p.brush());
}

// A bracket "[" (left) or "]" (right) from top to bottom at x, with arms of length `arm`.
void Bracket(QPainter& p, qreal x, qreal top, qreal bottom, qreal arm, bool left) {
    qreal dir = left ? 1 : -1;
    p.drawLine(QPointF(x, top), QPointF(x, bottom));
    p.drawLine(QPointF(x, top), QPointF(x + dir * arm, top));
    p.drawLine(QPointF(x, bottom), QPointF(x + dir * arm, bottom));
}

// A small waveform between x0 and x1 around the centre line cy.
void Wave(QPainter& p, qreal x0, qreal x1, qreal cy, qreal amp) {
    static const qreal kShape[] = {0.3, 0.8, 0.5, 1.0, 0.4, 0.7, 0.9, 0.35, 0.6, 0.8, 0.3};
    int n = int(sizeof(kShape) / sizeof(kShape[0]));
    for (int i = 0; i < n; ++i) {
        qreal x = x0 + (x1 - x0) * i / (n - 1);
        qreal h = amp * kShape[i];
        p.drawLine(QPointF(x, cy - h), QPointF(x, cy + h));
    }
}

void Draw(QPainter& p, TGlyph glyph, qreal w, qreal h) {
    qreal s = std::min(w, h);
    qreal ox = (w - s) / 2, oy = (h - s) / 2;
    auto P = [&](qreal fx, qreal fy) { return QPointF(ox + fx * s, oy + fy * s); };
    p.setBrush(kInk);
    QPen pen(kInk, std::max<qreal>(1.5, s / 10));
    pen.setCapStyle(Qt::FlatCap);
    p.setPen(pen);

    switch (glyph) {
    case TGlyph::Play:
        Triangle(p, P(0.25, 0.15), P(0.85, 0.5), P(0.25, 0.85));
        break;
    case TGlyph::Stop:
        p.fillRect(QRectF(P(0.22, 0.22), P(0.78, 0.78)), kInk);
        break;
    case TGlyph::GotoFirst:
        p.fillRect(QRectF(P(0.15, 0.18), P(0.27, 0.82)), kInk);
        Triangle(p, P(0.85, 0.18), P(0.3, 0.5), P(0.85, 0.82));
        break;
    case TGlyph::GotoEnd:
        Triangle(p, P(0.15, 0.18), P(0.7, 0.5), P(0.15, 0.82));
        p.fillRect(QRectF(P(0.73, 0.18), P(0.85, 0.82)), kInk);
        break;
    case TGlyph::TrimLeft:
    case TGlyph::TrimRight: {
        // Wide glyph: a waveform with a bracket at the side that is marked.
        bool left = glyph == TGlyph::TrimLeft;
        QPen wave(QColor(120, 130, 150), std::max<qreal>(1.0, h / 16));
        p.setPen(wave);
        Wave(p, w * 0.12, w * 0.88, h / 2, h * 0.28);
        QPen mark(kAccent, std::max<qreal>(2.0, h / 8));
        mark.setCapStyle(Qt::SquareCap);
        p.setPen(mark);
        Bracket(p, left ? w * 0.3 : w * 0.7, h * 0.12, h * 0.88, w * 0.12, left);
        break;
    }
    case TGlyph::SelectAudio:
    case TGlyph::DeleteAudio: {
        // Wide glyph: the marked segment is kept (select) or struck out (delete).
        bool keep = glyph == TGlyph::SelectAudio;
        qreal x0 = w * 0.3, x1 = w * 0.7;
        p.fillRect(QRectF(QPointF(x0, h * 0.12), QPointF(x1, h * 0.88)),
                   keep ? QColor(180, 215, 245) : QColor(245, 205, 200));
        QPen wave(QColor(120, 130, 150), std::max<qreal>(1.0, h / 16));
        p.setPen(wave);
        Wave(p, w * 0.1, w * 0.9, h / 2, h * 0.28);
        QPen mark(keep ? kAccent : kCut, std::max<qreal>(2.0, h / 10));
        p.setPen(mark);
        if (keep) {
            p.drawRect(QRectF(QPointF(x0, h * 0.12), QPointF(x1, h * 0.88)));
        } else {
            p.drawLine(QPointF(x0 + 2, h * 0.2), QPointF(x1 - 2, h * 0.8));
            p.drawLine(QPointF(x0 + 2, h * 0.8), QPointF(x1 - 2, h * 0.2));
        }
        break;
    }
    case TGlyph::Prelisten: {
        // Play between the two marks.
        QPen mark(kAccent, std::max<qreal>(1.5, h / 12));
        mark.setCapStyle(Qt::SquareCap);
        p.setPen(mark);
        Bracket(p, w * 0.14, h * 0.2, h * 0.8, w * 0.12, true);
        Bracket(p, w * 0.86, h * 0.2, h * 0.8, w * 0.12, false);
        Triangle(p, QPointF(w * 0.36, h * 0.3), QPointF(w * 0.68, h * 0.5), QPointF(w * 0.36, h * 0.7));
        break;
    }
    case TGlyph::Contact: {
        // An envelope.
        QRectF body(P(0.1, 0.25), P(0.9, 0.78));
        p.setBrush(QColor(250, 250, 250));
        p.setPen(QPen(kAccent, std::max<qreal>(1.2, s / 14)));
        p.drawRect(body);
        QPainterPath flap;
        flap.moveTo(body.topLeft());
        flap.lineTo(QPointF(body.center().x(), body.top() + body.height() * 0.55));
        flap.lineTo(body.topRight());
        p.setBrush(Qt::NoBrush);
        p.drawPath(flap);
        break;
    }
    }
}

} // namespace

QIcon MakeGlyph(TGlyph glyph, QSize size) {
    QIcon icon;
    for (int scale : {1, 2}) {
        QPixmap pixmap(size * scale);
        pixmap.setDevicePixelRatio(scale);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing, true);
        Draw(p, glyph, size.width(), size.height());
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
