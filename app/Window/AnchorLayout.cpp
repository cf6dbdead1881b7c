#include "AnchorLayout.h"

#include <QWidget>
#include <algorithm>

void TAnchorLayout::Add(QWidget* control, unsigned anchors) {
    FEntries.push_back({control, control->geometry(), anchors});
}

QRect TAnchorLayout::Place(QRect rect, unsigned anchors, QSize size) const {
    int dx = std::max(0, size.width() - FBase.width());
    int dy = std::max(0, size.height() - FBase.height());
    if (anchors & akGrowWidth)
        rect.setWidth(rect.width() + dx);
    else if (anchors & akRight)
        rect.translate(dx, 0);
    if (anchors & akGrowHeight)
        rect.setHeight(rect.height() + dy);
    else if (anchors & akBottom)
        rect.translate(0, dy);
    return rect;
}

void TAnchorLayout::Apply(QSize size) const {
    for (const TEntry& e : FEntries) {
        QRect r = Place(e.Rect, e.Anchors, size);
        if (e.Anchors & (akGrowWidth | akGrowHeight))
            e.Control->setGeometry(r);
        else
            e.Control->move(r.topLeft());
    }
}
