// The play screen: shows the frames the player draws (the waveform of the sound being played).
// Frames arrive on the player's thread; they are copied there and painted on the UI thread.
#pragma once

#include "HostWindow.h"

#include <QFrame>
#include <QImage>
#include <atomic>
#include <cstdint>
#include <mutex>

class TPlayScreen : public QFrame, public IPlayerHost {
    Q_OBJECT

public:
    explicit TPlayScreen(QWidget* parent = nullptr);

    // The player's host: the drawing area's size, and frames handed over on the play thread.
    void GetClientSize(int& width, int& height) override;
    void PresentFrame(const uint32_t* pixels, int width, int height) override;

    // Any thread: copies a 32-bit frame (0xAARRGGBB words, `stride` bytes per line) and asks the
    // UI thread to repaint.
    void ShowFrame(const uint32_t* pixels, int width, int height, int stride);
    // Any thread: forgets the frame (the screen shows its empty background again).
    void ClearFrame();

    // UI thread: a copy of the frame shown last (null when none); counts frames received.
    QImage Frame() const;
    uint64_t FrameCount() const { return FFrameCount; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void RequestRepaint();

    mutable std::mutex FFrameLock; // guards FFrame
    QImage FFrame;
    std::atomic<uint64_t> FFrameCount{0};
};
