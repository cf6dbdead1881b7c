#include "TrackBar.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace {
constexpr int kThumbWidth = 11;
constexpr int kChannelHeight = 6;
constexpr int kMargin = 4; // between the widget's edge and the thumb's outermost position
} // namespace

TTrackBar::TTrackBar(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus); // the keys would move the thumb without a seek
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

QSize TTrackBar::sizeHint() const {
    return {200, 30};
}

void TTrackBar::SetMin(int value) {
    FMin = value;
    if (FMax < FMin) FMax = FMin;
    SetPosition(FPosition);
    update();
}

void TTrackBar::SetMax(int value) {
    FMax = value;
    if (FMin > FMax) FMin = FMax;
    SetPosition(FPosition);
    update();
}

void TTrackBar::SetPosition(int value) {
    value = std::clamp(value, FMin, FMax);
    if (value == FPosition) return;
    FPosition = value;
    update();
    emit Change();
}

void TTrackBar::SetSelStart(int value) {
    FSelStart = value;
    update();
}

void TTrackBar::SetSelEnd(int value) {
    FSelEnd = value;
    update();
}

void TTrackBar::SetThumbLength(int value) {
    FThumbLength = std::max(4, value);
    update();
}

int TTrackBar::ChannelLeft() const {
    return kMargin + kThumbWidth / 2;
}

int TTrackBar::ChannelWidth() const {
    return std::max(1, width() - 2 * ChannelLeft());
}

int TTrackBar::ValueToX(int value) const {
    if (FMax == FMin) return ChannelLeft();
    value = std::clamp(value, FMin, FMax);
    return ChannelLeft() + int(int64_t(value - FMin) * ChannelWidth() / (int64_t(FMax) - FMin));
}

int TTrackBar::XToValue(int x) const {
    if (FMax == FMin) return FMin;
    int64_t range = int64_t(FMax) - FMin;
    int64_t offset = std::clamp(x - ChannelLeft(), 0, ChannelWidth());
    return FMin + int((offset * range + ChannelWidth() / 2) / ChannelWidth());
}

QRect TTrackBar::ChannelRect() const {
    int top = (height() - FThumbLength) / 2 + FThumbLength / 2 - kChannelHeight / 2 - 2;
    return {ChannelLeft() - 2, std::max(0, top), ChannelWidth() + 4, kChannelHeight};
}

QRect TTrackBar::ThumbRect() const {
    int x = ValueToX(FPosition);
    int top = std::max(0, (height() - FThumbLength) / 2 - 2);
    return {x - kThumbWidth / 2, top, kThumbWidth, FThumbLength};
}

void TTrackBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, false);
    const QPalette& pal = palette();
    const bool on = isEnabled();

    // Channel, sunken.
    QRect channel = ChannelRect();
    p.fillRect(channel, pal.color(QPalette::Base));
    p.setPen(pal.color(QPalette::Dark));
    p.drawLine(channel.topLeft(), channel.topRight());
    p.drawLine(channel.topLeft(), channel.bottomLeft());
    p.setPen(pal.color(QPalette::Light));
    p.drawLine(channel.bottomLeft(), channel.bottomRight());
    p.drawLine(channel.topRight(), channel.bottomRight());

    // Selection range inside the channel, with a small mark above each end.
    int lo = std::clamp(std::min(FSelStart, FSelEnd), FMin, FMax);
    int hi = std::clamp(std::max(FSelStart, FSelEnd), FMin, FMax);
    if (FSelStart != 0 || FSelEnd != 0) {
        int x0 = ValueToX(lo), x1 = ValueToX(hi);
        QColor sel = on ? pal.color(QPalette::Highlight) : pal.color(QPalette::Disabled, QPalette::Highlight);
        p.fillRect(QRect(QPoint(x0, channel.top() + 1), QPoint(std::max(x0, x1), channel.bottom() - 1)), sel);
        p.setPen(pal.color(on ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
        int y = channel.top() - 3;
        for (int x : {x0, x1}) {
            p.drawLine(x, y - 3, x, y);
        }
    }

    // Manual ticks: one at each end of the range, below the thumb.
    QRect thumb = ThumbRect();
    p.setPen(pal.color(on ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    int tickTop = std::min(height() - 4, thumb.bottom() + 2);
    for (int x : {ValueToX(FMin), ValueToX(FMax)})
        p.drawLine(x, tickTop, x, tickTop + 2);

    // Thumb: a raised block pointing down.
    QPainterPath path;
    int tipY = thumb.bottom();
    int bodyBottom = tipY - thumb.width() / 2;
    path.moveTo(thumb.left(), thumb.top());
    path.lineTo(thumb.right(), thumb.top());
    path.lineTo(thumb.right(), bodyBottom);
    path.lineTo(thumb.center().x(), tipY);
    path.lineTo(thumb.left(), bodyBottom);
    path.closeSubpath();
    p.setRenderHint(QPainter::Antialiasing, true);
    QColor face = FDragging ? pal.color(QPalette::Midlight) : pal.color(QPalette::Button);
    p.setBrush(on ? face : pal.color(QPalette::Disabled, QPalette::Button));
    p.setPen(pal.color(on ? QPalette::Active : QPalette::Disabled, QPalette::Shadow));
    p.drawPath(path);
}

void TTrackBar::mousePressEvent(QMouseEvent* event) {
    QPoint pos = event->position().toPoint();
    emit MouseDown(event->button(), pos);
    if (event->button() != Qt::LeftButton) return;
    QRect thumb = ThumbRect();
    if (thumb.adjusted(-1, 0, 1, 0).contains(pos)) {
        FDragOffset = pos.x() - thumb.center().x();
    } else {
        FDragOffset = 0;
        SetPosition(XToValue(pos.x()));
    }
    FDragging = true;
    update();
}

void TTrackBar::mouseMoveEvent(QMouseEvent* event) {
    if (!FDragging) return;
    SetPosition(XToValue(int(event->position().x()) - FDragOffset));
}

void TTrackBar::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && FDragging) {
        FDragging = false;
        update();
    }
    emit MouseUp(event->button(), event->position().toPoint());
}
