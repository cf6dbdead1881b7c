#include "OverviewView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace {

const QColor kBackground(30, 33, 38);
const QColor kWave(79, 195, 247);
const QColor kCentreLine(60, 90, 110);
const QColor kMissing(110, 100, 95);
const QColor kKeptShade(70, 130, 200, 80);
const QColor kDeletedShade(220, 70, 60, 90);
const QColor kPosition(255, 214, 10);
const QColor kStartHandle(90, 220, 120);
const QColor kEndHandle(255, 120, 80);

constexpr double kZoomPerNotch = 1.25;
constexpr double kPageLead = 0.1; // a new page shows this share of the view before the position
constexpr double kMaxPixelsPerSample = 16.0;
constexpr int kHandleReach = 5; // pixels either side of a handle that pick it up
constexpr int kDragThreshold = 3;
constexpr int kHandleSize = 7;

} // namespace

TOverviewView::TOverviewView(QWidget* parent)
    : QWidget(parent), FBuilder(std::make_unique<TPeakBuilder>()),
      FReader(std::make_unique<TSampleReader>()) {
    setObjectName("OverviewView");
    setMinimumHeight(40);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Build and read threads only ask for a repaint; painting reads what they have written.
    FBuilder->OnProgress = [this] { RequestRepaint(); };
    FReader->OnReady = [this] { RequestRepaint(); };
}

TOverviewView::~TOverviewView() {
    FBuilder.reset(); // stops and waits for the build threads
    FReader.reset();
}

void TOverviewView::RequestRepaint() {
    if (FRepaintPending.exchange(true)) return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            FRepaintPending = false;
            update();
        },
        Qt::QueuedConnection);
}

void TOverviewView::OpenFile(const std::string& fileName, int64_t durationUs) {
    FFileName = fileName;
    FDurationUs = durationUs;
    FPositionUs = 0;
    FSamples = TSampleBlock{};
    FAskedFile.clear();
    FBuilder->Start(fileName);
    ShowAll();
}

void TOverviewView::CloseFile() {
    FBuilder->Stop();
    FBuilder = std::make_unique<TPeakBuilder>();
    FBuilder->OnProgress = [this] { RequestRepaint(); };
    FFileName.clear();
    FDurationUs = -1;
    FSamples = TSampleBlock{};
    ShowAll();
}

void TOverviewView::SetPosition(int64_t positionUs) {
    if (positionUs == FPositionUs) return;
    auto inSight = [this](double us) { return us >= FFirstUs && us <= FFirstUs + width() * FUsPerPixel; };
    bool wasInSight = inSight(static_cast<double>(FPositionUs));
    FPositionUs = positionUs;
    if (!FWholeFile && wasInSight && !inSight(static_cast<double>(positionUs))) {
        bool onward = positionUs > FFirstUs;
        FFirstUs = positionUs - width() * FUsPerPixel * (onward ? kPageLead : 1 - kPageLead);
        ClampView();
    }
    update();
}

void TOverviewView::SetMarks(int64_t startMs, int64_t endMs) {
    FStartMs = startMs;
    FEndMs = endMs;
    update();
}

void TOverviewView::SetDeleteMode(bool deleteMode) {
    FDeleteMode = deleteMode;
    update();
}

double TOverviewView::DurationUs() const {
    double duration = static_cast<double>(std::max<int64_t>(FDurationUs, 0));
    auto summary = FBuilder->Summary();
    int64_t frames = FBuilder->TotalFrames();
    if (summary && frames > 0) duration = std::max(duration, frames * 1e6 / summary->SampleRate());
    return duration;
}

double TOverviewView::MinUsPerPixel() const {
    auto summary = FBuilder->Summary();
    int rate = summary ? summary->SampleRate() : 44100;
    return 1e6 / rate / kMaxPixelsPerSample;
}

double TOverviewView::FramesPerPixel() const {
    auto summary = FBuilder->Summary();
    return summary ? FUsPerPixel * summary->SampleRate() / 1e6 : 0.0;
}

double TOverviewView::XOf(double us) const {
    return (us - FFirstUs) / FUsPerPixel;
}

double TOverviewView::UsAt(double x) const {
    return FFirstUs + x * FUsPerPixel;
}

void TOverviewView::ClampView() {
    double whole = std::max(DurationUs() / std::max(width(), 1), MinUsPerPixel());
    FUsPerPixel = std::clamp(FUsPerPixel, MinUsPerPixel(), whole);
    FWholeFile = FUsPerPixel >= whole;
    FFirstUs = std::clamp(FFirstUs, 0.0, std::max(0.0, DurationUs() - width() * FUsPerPixel));
}

void TOverviewView::ShowAll() {
    FFirstUs = 0;
    FUsPerPixel = std::max(DurationUs() / std::max(width(), 1), MinUsPerPixel());
    FWholeFile = true;
    update();
}

void TOverviewView::ZoomAt(double x, double factor) {
    double anchor = UsAt(x);
    FUsPerPixel /= factor;
    ClampView();
    FFirstUs = anchor - x * FUsPerPixel;
    ClampView();
    update();
}

void TOverviewView::ZoomAroundPosition(double factor) {
    if (FFileName.empty()) return;
    double x = XOf(static_cast<double>(FPositionUs));
    if (x < 0 || x > width()) {
        FFirstUs = FPositionUs - width() / 2.0 * FUsPerPixel;
        x = width() / 2.0;
    }
    ZoomAt(x, factor);
}

void TOverviewView::ScrollBy(double pixels) {
    FFirstUs += pixels * FUsPerPixel;
    ClampView();
    update();
}

void TOverviewView::resizeEvent(QResizeEvent*) {
    if (FWholeFile)
        ShowAll();
    else
        ClampView();
}

// ---- Painting -----------------------------------------------------------------------------------

bool TOverviewView::SamplesCover(int64_t first, int64_t frames) const {
    return FSamples.FileName == FFileName && FSamples.Channels > 0 && FSamples.First <= first &&
           FSamples.First + FSamples.Frames() >= first + frames;
}

void TOverviewView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), kBackground);
    auto summary = FBuilder->Summary();
    // The build may have learnt the length since the view was laid out.
    if (FWholeFile && summary) {
        double whole = std::max(DurationUs() / std::max(width(), 1), MinUsPerPixel());
        if (std::abs(whole - FUsPerPixel) > 1e-9 * whole) ShowAll();
    }
    if (FEndMs >= 0 && FEndMs > FStartMs) {
        double x0 = XOf(FStartMs * 1000.0), x1 = XOf(FEndMs * 1000.0);
        painter.fillRect(QRectF(x0, 0, x1 - x0, height()), FDeleteMode ? kDeletedShade : kKeptShade);
    }
    if (summary) {
        PaintWaveform(painter, summary.get());
        PaintMissing(painter);
    }
    PaintMarks(painter);
}

void TOverviewView::PaintWaveform(QPainter& painter, const TPeakSummary* summary) {
    const int channels = summary->Channels(), w = width();
    const double rate = summary->SampleRate();
    const double firstFrame = FFirstUs * rate / 1e6, perPixel = FramesPerPixel();
    const bool exact = perPixel < summary->BinFrames();
    if (exact) {
        FReader->TakeBlock(FSamples);
        int64_t first = static_cast<int64_t>(std::floor(firstFrame)) - 2;
        int64_t frames = static_cast<int64_t>(std::ceil(w * perPixel)) + 4;
        bool asked = FAskedFile == FFileName && FAskedFirst <= std::max<int64_t>(first, 0) &&
                     FAskedFirst + FAskedFrames >= first + frames;
        if (!SamplesCover(std::max<int64_t>(first, 0), frames) && !asked) {
            // Half a view more on either side, so that scrolling a little needs no new read.
            int64_t margin = frames / 2;
            FAskedFile = FFileName;
            FAskedFirst = std::max<int64_t>(first - margin, 0);
            FAskedFrames = std::min(frames + 2 * margin, TSampleReader::kMaxFrames);
            FReader->Request(FAskedFile, FAskedFirst, FAskedFrames);
        }
    }
    bool haveSamples =
        exact && SamplesCover(std::max<int64_t>(static_cast<int64_t>(std::floor(firstFrame)) - 2, 0),
                              static_cast<int64_t>(std::ceil(w * perPixel)) + 4);
    for (int c = 0; c < channels; ++c) {
        double top = double(height()) * c / channels, bottom = double(height()) * (c + 1) / channels;
        double centre = (top + bottom) / 2, half = (bottom - top) / 2 - 1;
        painter.setPen(kCentreLine);
        painter.drawLine(QPointF(0, centre), QPointF(w, centre));
        painter.setPen(kWave);
        auto yOf = [&](double v) { return centre - v * half; };
        if (haveSamples && perPixel < 1.0) {
            // Single samples: a line through them, a dot on each when they are far apart.
            int64_t from = static_cast<int64_t>(std::floor(firstFrame)),
                    to = from + static_cast<int64_t>(w * perPixel) + 2;
            QPolygonF line;
            for (int64_t f = std::max(from, FSamples.First);
                 f <= to && f < FSamples.First + FSamples.Frames(); ++f)
                line << QPointF((f - firstFrame) / perPixel,
                                yOf(FSamples.Samples[size_t((f - FSamples.First) * FSamples.Channels + c)]));
            painter.drawPolyline(line);
            if (perPixel < 0.25)
                for (const QPointF& p : line)
                    painter.drawEllipse(p, 1.5, 1.5);
            continue;
        }
        std::vector<TPeak> columns;
        if (haveSamples) {
            columns.resize(size_t(w));
            for (int x = 0; x < w; ++x) {
                int64_t f0 = static_cast<int64_t>(std::floor(firstFrame + x * perPixel));
                int64_t f1 =
                    std::max(f0 + 1, static_cast<int64_t>(std::floor(firstFrame + (x + 1) * perPixel)));
                for (int64_t f = std::max(f0, FSamples.First);
                     f < f1 && f < FSamples.First + FSamples.Frames(); ++f) {
                    float v = FSamples.Samples[size_t((f - FSamples.First) * FSamples.Channels + c)];
                    int16_t code = static_cast<int16_t>(std::clamp(v * 32768.0f, -32768.0f, 32767.0f));
                    columns[x].Add(TPeak{code, code});
                }
            }
        } else {
            columns = summary->Columns(c, firstFrame, perPixel, w);
        }
        std::vector<QLineF> lines;
        lines.reserve(columns.size());
        for (int x = 0; x < w; ++x)
            if (!columns[x].Empty())
                lines.emplace_back(x + 0.5, yOf(columns[x].Max / 32768.0), x + 0.5,
                                   yOf(columns[x].Min / 32768.0));
        painter.drawLines(lines.data(), int(lines.size()));
    }
}

// Hatches what the file promised but could not deliver: empty bins inside the decoded ranges,
// and once the build is over, the stretch between the decoded end and the stated length.
void TOverviewView::PaintMissing(QPainter& painter) {
    auto summary = FBuilder->Summary();
    if (!summary) return;
    const double rate = summary->SampleRate(), w = width();
    std::vector<std::pair<double, double>> missing; // x ranges
    TPeakState state = FBuilder->State();
    int64_t decoded = FBuilder->DecodedFrames();
    if ((state == TPeakState::Done || state == TPeakState::Failed) && decoded >= 0 &&
        decoded < FBuilder->TotalFrames())
        missing.emplace_back(XOf(decoded * 1e6 / rate), XOf(FBuilder->TotalFrames() * 1e6 / rate));
    std::vector<TPeak> columns = summary->Columns(0, FFirstUs * rate / 1e6, FramesPerPixel(), int(w));
    for (const TFrameRange& range : FBuilder->BuiltRanges()) {
        double x0 = std::max(0.0, std::floor(XOf(range.First * 1e6 / rate)));
        double x1 = std::min(w, std::floor(XOf(range.End * 1e6 / rate)) - 1);
        for (int x = int(x0); x < int(x1); ++x)
            if (columns[size_t(x)].Empty()) missing.emplace_back(x, x + 1);
    }
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(QBrush(kMissing, Qt::BDiagPattern));
    for (auto [x0, x1] : missing)
        if (x1 > 0 && x0 < w) painter.drawRect(QRectF(x0, 0, x1 - x0, height()));
    painter.restore();
}

void TOverviewView::PaintMarks(QPainter& painter) {
    auto handle = [&](double ms, const QColor& colour, bool pointsRight) {
        double x = std::round(XOf(ms * 1000.0)) + 0.5;
        painter.setPen(QPen(colour, 1));
        painter.drawLine(QPointF(x, 0), QPointF(x, height()));
        QPolygonF flag;
        double dx = pointsRight ? kHandleSize : -kHandleSize;
        flag << QPointF(x, 0) << QPointF(x + dx, 0) << QPointF(x, kHandleSize * 1.5);
        painter.setBrush(colour);
        painter.drawPolygon(flag);
        QPolygonF foot;
        foot << QPointF(x, height()) << QPointF(x + dx, height()) << QPointF(x, height() - kHandleSize * 1.5);
        painter.drawPolygon(foot);
    };
    handle(double(FStartMs), kStartHandle, true);
    if (FEndMs >= 0) handle(double(FEndMs), kEndHandle, false);
    double x = std::round(XOf(double(FPositionUs))) + 0.5;
    painter.setPen(QPen(kPosition, 1));
    painter.drawLine(QPointF(x, 0), QPointF(x, height()));
}

// ---- Mouse ----------------------------------------------------------------------------------------

int TOverviewView::HandleAt(double x) const {
    int best = -1;
    double bestDistance = kHandleReach + 1;
    auto consider = [&](int mark, double ms) {
        double distance = std::abs(XOf(ms * 1000.0) - x);
        if (distance <= kHandleReach && distance < bestDistance) {
            best = mark;
            bestDistance = distance;
        }
    };
    // The end handle first: with both marks at one place, dragging right moves the end.
    if (FEndMs >= 0) consider(mkEnd, double(FEndMs));
    consider(mkStart, double(FStartMs));
    return best;
}

void TOverviewView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || FFileName.empty()) return;
    FPressX = event->position().x();
    FPressFirstUs = FFirstUs;
    FDragMark = HandleAt(FPressX);
    FDrag = FDragMark >= 0 ? TDrag::Handle : TDrag::Pending;
}

void TOverviewView::mouseMoveEvent(QMouseEvent* event) {
    double x = event->position().x();
    if (FDrag == TDrag::None) {
        setCursor(HandleAt(x) >= 0 ? Qt::SizeHorCursor : Qt::ArrowCursor);
        return;
    }
    if (FDrag == TDrag::Handle) {
        double us = std::clamp(UsAt(x), 0.0, DurationUs());
        emit markDragged(FDragMark, static_cast<qint64>(std::llround(us / 1000.0)));
        return;
    }
    if (FDrag == TDrag::Pending && std::abs(x - FPressX) > kDragThreshold) FDrag = TDrag::Scroll;
    if (FDrag == TDrag::Scroll) {
        FFirstUs = FPressFirstUs - (x - FPressX) * FUsPerPixel;
        ClampView();
        update();
    }
}

void TOverviewView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    double x = event->position().x();
    TDrag drag = FDrag;
    FDrag = TDrag::None;
    if (drag == TDrag::Pending)
        emit seekRequested(static_cast<qint64>(std::llround(std::clamp(UsAt(x), 0.0, DurationUs()))));
    else if (drag == TDrag::Handle)
        emit markDragged(FDragMark,
                         static_cast<qint64>(std::llround(std::clamp(UsAt(x), 0.0, DurationUs()) / 1000.0)));
}

void TOverviewView::wheelEvent(QWheelEvent* event) {
    QPoint delta = event->angleDelta();
    int steps = delta.y() != 0 ? delta.y() : delta.x();
    if (steps == 0 || FFileName.empty()) return;
    if (event->modifiers() & Qt::ShiftModifier || delta.y() == 0)
        ScrollBy(-steps / 120.0 * width() / 10.0);
    else
        ZoomAt(event->position().x(), std::pow(kZoomPerNotch, steps / 120.0));
    event->accept();
}
