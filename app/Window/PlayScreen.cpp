#include "PlayScreen.h"

#include <QMetaObject>
#include <QPainter>
#include <cstring>

TPlayScreen::TPlayScreen(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setLineWidth(1);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::Disabled, QPalette::Window, Qt::white);
    setPalette(pal);
}

void TPlayScreen::GetClientSize(int& width, int& height) {
    // Asked on the UI thread.
    width = contentsRect().width();
    height = contentsRect().height();
}

void TPlayScreen::PresentFrame(const uint32_t* pixels, int width, int height) {
    ShowFrame(pixels, width, height, width * 4);
}

void TPlayScreen::ShowFrame(const uint32_t* pixels, int width, int height, int stride) {
    if (!pixels || width <= 0 || height <= 0 || stride < width * 4) return;
    {
        std::lock_guard<std::mutex> guard(FFrameLock);
        if (FFrame.width() != width || FFrame.height() != height)
            FFrame = QImage(width, height, QImage::Format_RGB32);
        for (int y = 0; y < height; ++y)
            std::memcpy(FFrame.scanLine(y), reinterpret_cast<const uint8_t*>(pixels) + size_t(y) * stride,
                        size_t(width) * 4);
    }
    ++FFrameCount;
    RequestRepaint();
}

void TPlayScreen::ClearFrame() {
    {
        std::lock_guard<std::mutex> guard(FFrameLock);
        FFrame = QImage();
    }
    RequestRepaint();
}

void TPlayScreen::RequestRepaint() {
    // Queued even on the UI thread, so that a burst of frames is painted once.
    QMetaObject::invokeMethod(
        this, [this] { update(); }, Qt::QueuedConnection);
}

QImage TPlayScreen::Frame() const {
    std::lock_guard<std::mutex> guard(FFrameLock);
    return FFrame.copy();
}

void TPlayScreen::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter p(this);
    std::lock_guard<std::mutex> guard(FFrameLock);
    if (FFrame.isNull()) return;
    QRect area = contentsRect();
    if (FFrame.size() == area.size())
        p.drawImage(area.topLeft(), FFrame);
    else
        p.drawImage(area, FFrame);
}
