// Keeps a window's controls in place as it is resized: each control keeps its rectangle at the
// window's base size and follows the edges it is anchored to. A control anchored to the right or
// bottom keeps its distance to that edge; one that grows keeps both distances and stretches.
#pragma once

#include <QRect>
#include <QSize>
#include <vector>

class QWidget;

enum TAnchor : unsigned {
    akRight = 1,      // keeps its distance to the right edge
    akBottom = 2,     // keeps its distance to the bottom edge
    akGrowWidth = 4,  // stretches with the width
    akGrowHeight = 8, // stretches with the height
};

class TAnchorLayout {
public:
    explicit TAnchorLayout(QSize base) : FBase(base) {}

    // Records the control's present geometry as its place at the base size. Controls that do
    // not grow are only moved, so that labels keep the size their text gives them.
    void Add(QWidget* control, unsigned anchors);
    // Places every control for a window of `size` (never smaller than the base size).
    void Apply(QSize size) const;
    // Where a control recorded at `rect` goes in a window of `size`.
    QRect Place(QRect rect, unsigned anchors, QSize size) const;

private:
    struct TEntry {
        QWidget* Control;
        QRect Rect;
        unsigned Anchors;
    };
    QSize FBase;
    std::vector<TEntry> FEntries;
};
