// The window that shows the player's picture. The player has no window of its own: for a file
// without video it draws the waveform of the sound in software and hands each finished frame to
// its host, which copies it and repaints on its own UI thread.
#pragma once

#include <cstdint>

class IPlayerHost {
public:
    virtual ~IPlayerHost() = default;

    // Size of the drawing area in pixels. Asked on the main thread while a file is opened, when
    // the player's screen size is still 0.
    virtual void GetClientSize(int& width, int& height) = 0;

    // A finished frame of width x height pixels, 32 bits each as 0xAARRGGBB (alpha always 0xFF),
    // rows top to bottom without padding. Called on the player's play thread about every 40 ms;
    // the pixels are valid only during the call, so copy them and repaint later on the UI thread.
    // Must not wait for the UI thread: the play thread also times the position reports.
    virtual void PresentFrame(const uint32_t* pixels, int width, int height) = 0;
};
