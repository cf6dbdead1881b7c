// The overview: the whole file's waveform from the peaks summary, with the play position, the
// two marks as handles and the part between them shaded (blue when it is kept, red when it is
// to be deleted). Click to seek, drag a handle to move a mark, wheel to zoom around the pointer
// down to single samples, Shift+wheel or dragging the background to scroll. A thin view: the
// summary is built by the Peaks code on its own threads; painting only reads what is there.
#pragma once

#include "PeakBuilder.h"
#include "SampleReader.h"

#include <QWidget>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class TOverviewView : public QWidget {
    Q_OBJECT

public:
    enum TMark { mkStart = 0, mkEnd = 1 };

    explicit TOverviewView(QWidget* parent = nullptr);
    ~TOverviewView() override;

    // Starts building the overview of a file (stopping the build of the previous one) and shows
    // all of it. `durationUs` is the player's duration (-1 unknown); the build refines it.
    void OpenFile(const std::string& fileName, int64_t durationUs);
    void CloseFile();

    // A position that walks out of the visible range (playing, stepping) turns the page so that
    // it stays in sight; one that was out of sight already (the user scrolled away) is left there.
    void SetPosition(int64_t positionUs);
    // The marks in ms; a negative end mark is not set (no end handle, nothing shaded).
    void SetMarks(int64_t startMs, int64_t endMs);
    void SetDeleteMode(bool deleteMode);

    // The visible range: its first instant and the time one pixel covers, in µs.
    double FirstUs() const { return FFirstUs; }
    double UsPerPixel() const { return FUsPerPixel; }
    double DurationUs() const;
    // Zooms by `factor` (> 1 in) keeping the instant under x where it is; scrolls by pixels.
    void ZoomAt(double x, double factor);
    void ScrollBy(double pixels);
    // Zooms by `factor` around the play position: it keeps its place when it is in sight, else
    // the view centres on it.
    void ZoomAroundPosition(double factor);
    void ShowAll();
    double XOf(double us) const;
    double UsAt(double x) const;

    const TPeakBuilder& Builder() const { return *FBuilder; }

signals:
    // A click on the waveform: the instant under the pointer, µs.
    void seekRequested(qint64 positionUs);
    // A handle dragged to `ms` (while dragging and once more on release). The window validates
    // the new mark as it does for its keys and answers with SetMarks.
    void markDragged(int mark, qint64 ms);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    enum class TDrag { None, Pending, Handle, Scroll };

    void RequestRepaint();
    void ClampView();
    double MinUsPerPixel() const;
    double FramesPerPixel() const;
    int HandleAt(double x) const;
    void PaintWaveform(class QPainter& painter, const TPeakSummary* summary);
    void PaintMissing(class QPainter& painter);
    void PaintMarks(class QPainter& painter);
    bool SamplesCover(int64_t first, int64_t frames) const;

    std::unique_ptr<TPeakBuilder> FBuilder;
    std::unique_ptr<TSampleReader> FReader;
    std::atomic<bool> FRepaintPending{false}; // a repaint is queued for the UI thread
    TSampleBlock FSamples;                    // UI thread: the newest exact samples
    std::string FAskedFile;                   // UI thread: the range asked of FReader last
    int64_t FAskedFirst = 0;
    int64_t FAskedFrames = 0;

    std::string FFileName;
    int64_t FDurationUs = -1;
    int64_t FPositionUs = 0;
    int64_t FStartMs = 0;
    int64_t FEndMs = -1;
    bool FDeleteMode = false;
    bool FWholeFile = true; // follows the widget's width until the user zooms
    double FFirstUs = 0;
    double FUsPerPixel = 1;

    TDrag FDrag = TDrag::None;
    int FDragMark = -1;
    double FPressX = 0;
    double FPressFirstUs = 0;
};
