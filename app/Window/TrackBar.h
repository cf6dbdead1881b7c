// The position bar: a horizontal track bar with a selection range, counted in whole units
// (the window uses seconds). Qt has no track bar that shows a selection, hence this widget.
#pragma once

#include <QWidget>

class TTrackBar : public QWidget {
    Q_OBJECT

public:
    explicit TTrackBar(QWidget* parent = nullptr);

    int Min() const { return FMin; }
    int Max() const { return FMax; }
    int Position() const { return FPosition; }
    int SelStart() const { return FSelStart; }
    int SelEnd() const { return FSelEnd; }
    int ThumbLength() const { return FThumbLength; }

    // The range keeps Min <= Max; the position is kept inside it. The selection is stored as
    // given and drawn clipped to the range.
    void SetMin(int value);
    void SetMax(int value);
    void SetPosition(int value);
    void SetSelStart(int value);
    void SetSelEnd(int value);
    void SetThumbLength(int value);

    // Client x of a value's centre on the channel, and the value nearest to a client x.
    int ValueToX(int value) const;
    int XToValue(int x) const;
    QRect ThumbRect() const;
    QRect ChannelRect() const;

signals:
    void Change();
    // Any button; the left button also grabs the thumb (or moves it to the point pressed) and
    // drags it until released.
    void MouseDown(Qt::MouseButton button, QPoint pos);
    void MouseUp(Qt::MouseButton button, QPoint pos);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    QSize sizeHint() const override;

private:
    int ChannelLeft() const;
    int ChannelWidth() const;

    int FMin = 0;
    int FMax = 10;
    int FPosition = 0;
    int FSelStart = 0;
    int FSelEnd = 0;
    int FThumbLength = 20; // thumb height in pixels
    bool FDragging = false;
    int FDragOffset = 0; // pointer x minus thumb centre while dragging
};
