// The background build: the "peaks" thread opens the file and decodes its first half (or all of
// it); for a seekable file of some length the "peaks-2" thread decodes the second half with a
// decoder of its own. Should the second half fail to start, the first thread carries on to the end.
#include "PeakBuilder.h"

#include "BinWriter.h"
#include "MyUtils.h"
#include "PeakDecoder.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>

namespace {

constexpr int64_t kMinSplitSeconds = 20; // shorter files are not worth a second decoder
constexpr int kNotifyMs = 30;

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

struct TPeakBuilder::TBuild {
    struct TSegment {
        int64_t First = 0;
        std::atomic<int64_t> Front{0}; // decoded up to here
        int64_t End = -1;              // -1: to the end of the file
    };

    std::string FileName;
    TPeakOptions Options;
    std::function<void()> OnProgress;

    std::atomic<bool> Abort{false};
    std::atomic<TPeakState> State{TPeakState::Opening};
    std::atomic<int> DecodeErrors{0};
    std::atomic<int64_t> LastNotifyMs{0};

    mutable std::mutex Lock;               // guards Error, Summary, EstimateFrames, SegmentCount
    std::condition_variable HelperChanged; // with Lock: HelperVerdict moved
    std::string Error;
    std::shared_ptr<TPeakSummary> Summary;
    int64_t EstimateFrames = -1; // the end asked for, else the container's estimate
    int SegmentCount = 0;
    int HelperVerdict = 0; // second half: 0 not known yet, 1 decoding, -1 failed (under Lock)
    TSegment Segments[2];

    std::unique_ptr<TFunctionThread> Main;   // started and waited for by the builder's owner
    std::unique_ptr<TFunctionThread> Helper; // started and waited for by Main

    void Run();
    bool OpenAndPlan(TPeakDecoder& decoder);
    void RunHelper();
    TDecodeEnd Decode(TPeakDecoder& decoder, TSegment& segment, int64_t end);
    void SetHelperVerdict(int verdict);
    void Notify(bool force);
};

void TPeakBuilder::TBuild::Notify(bool force) {
    int64_t now = NowMs();
    if (!force && now - LastNotifyMs.load() < kNotifyMs) return;
    LastNotifyMs = now;
    if (OnProgress) OnProgress();
}

void TPeakBuilder::TBuild::SetHelperVerdict(int verdict) {
    std::lock_guard<std::mutex> guard(Lock);
    if (HelperVerdict != 0) return;
    HelperVerdict = verdict;
    HelperChanged.notify_all();
}

TDecodeEnd TPeakBuilder::TBuild::Decode(TPeakDecoder& decoder, TSegment& segment, int64_t end) {
    TBinWriter writer(*Summary);
    bool helper = &segment == &Segments[1];
    TDecodeEnd result = decoder.Run(segment.Front.load(), end,
                                    [&](int64_t first, const AVFrame& frame, int offset, int count) {
                                        if (helper) SetHelperVerdict(1);
                                        writer.Add(first, frame, offset, count);
                                        segment.Front = first + count;
                                        Notify(false);
                                    });
    writer.Flush();
    DecodeErrors += decoder.DecodeErrors();
    return result;
}

// Opens the file, creates the summary and decides on the segments.
bool TPeakBuilder::TBuild::OpenAndPlan(TPeakDecoder& decoder) {
    std::string error;
    if (!decoder.Open(FileName, error)) {
        std::lock_guard<std::mutex> guard(Lock);
        Error = error;
        return false;
    }
    const TAudioFacts& facts = decoder.Facts();
    auto toFrames = [&](int64_t ms) { return ms * facts.SampleRate / 1000; };
    int64_t start = toFrames(std::max<int64_t>(Options.StartMs, 0));
    int64_t askedEnd = Options.EndMs >= 0 ? std::max(toFrames(Options.EndMs), start) : -1;
    int64_t end = askedEnd >= 0 ? askedEnd : facts.DurationFrames;
    int binFrames = Options.BinFrames;
    if (Options.Columns > 0 && end > start)
        binFrames = static_cast<int>(
            std::clamp<int64_t>((end - start + Options.Columns - 1) / Options.Columns, 1, INT32_MAX));
    auto summary = std::make_shared<TPeakSummary>(facts.Channels, facts.SampleRate, binFrames, start);
    if (end > start) summary->Reserve(end - start);
    bool split = Options.Threads >= 2 && facts.Seekable && end > start &&
                 end - start >= kMinSplitSeconds * facts.SampleRate;
    int64_t middle = start + (end - start) / 2;
    middle -= (middle - start) % summary->BinFrames();

    std::lock_guard<std::mutex> guard(Lock);
    Summary = std::move(summary);
    EstimateFrames = end;
    Segments[0].First = start;
    Segments[0].Front = start;
    Segments[0].End = split ? middle : askedEnd;
    Segments[1].First = middle;
    Segments[1].Front = middle;
    Segments[1].End = askedEnd;
    SegmentCount = split ? 2 : 1;
    return true;
}

void TPeakBuilder::TBuild::RunHelper() {
    TPeakDecoder decoder(Abort);
    std::string error;
    TSegment& segment = Segments[1];
    if (!decoder.Open(FileName, error) || !decoder.SeekBefore(segment.First)) {
        SetHelperVerdict(-1);
        return;
    }
    TDecodeEnd result = Decode(decoder, segment, segment.End);
    if (result == TDecodeEnd::Unplaceable || segment.Front.load() == segment.First) SetHelperVerdict(-1);
}

void TPeakBuilder::TBuild::Run() {
    TPeakDecoder decoder(Abort);
    if (!OpenAndPlan(decoder)) {
        State = Abort.load() ? TPeakState::Stopped : TPeakState::Failed;
        Notify(true);
        return;
    }
    State = TPeakState::Building;
    Notify(true);
    if (SegmentCount == 2) {
        Helper = std::make_unique<TFunctionThread>("peaks-2", [this] { RunHelper(); });
        try {
            Helper->Start();
        } catch (const std::exception&) {
            SetHelperVerdict(-1);
        }
    }
    TSegment& first = Segments[0];
    if (first.First > 0 && !decoder.SeekBefore(first.First)) {
        // Decoding from the start still gets there.
    }
    TDecodeEnd result = Decode(decoder, first, first.End);
    if (SegmentCount == 2 && result == TDecodeEnd::Reached) {
        std::unique_lock<std::mutex> lock(Lock);
        HelperChanged.wait(lock, [this] { return HelperVerdict != 0 || Abort.load(); });
        bool carryOn = HelperVerdict < 0;
        lock.unlock();
        if (carryOn && !Abort.load()) result = Decode(decoder, first, Segments[1].End);
    }
    if (Helper) Helper->WaitFor();
    if (result == TDecodeEnd::ReadFailed || DecodeErrors.load() > 0) {
        std::lock_guard<std::mutex> guard(Lock);
        Error = Format("%s: parts of the file could not be decoded", FileName.c_str());
    }
    State = Abort.load() ? TPeakState::Stopped : TPeakState::Done;
    Notify(true);
}

// ---- TPeakBuilder -----------------------------------------------------------------------------

TPeakBuilder::~TPeakBuilder() {
    Stop();
}

void TPeakBuilder::Start(const std::string& fileName, const TPeakOptions& options) {
    Stop();
    auto build = std::make_shared<TBuild>();
    build->FileName = fileName;
    build->Options = options;
    build->OnProgress = OnProgress;
    TBuild* raw = build.get();
    build->Main = std::make_unique<TFunctionThread>("peaks", [raw] { raw->Run(); });
    FBuild = build;
    try {
        build->Main->Start();
    } catch (const std::exception&) {
        build->Error = fileName + ": no thread for the overview could be started";
        build->State = TPeakState::Failed;
    }
}

void TPeakBuilder::Stop() {
    if (!FBuild) return;
    FBuild->Abort = true;
    {
        std::lock_guard<std::mutex> guard(FBuild->Lock);
        FBuild->HelperChanged.notify_all();
    }
    FBuild->Main->WaitFor();
    if (FBuild->State.load() != TPeakState::Done && FBuild->State.load() != TPeakState::Failed)
        FBuild->State = TPeakState::Stopped;
}

bool TPeakBuilder::Wait() {
    if (!FBuild) return false;
    FBuild->Main->WaitFor();
    return FBuild->State.load() == TPeakState::Done;
}

TPeakState TPeakBuilder::State() const {
    return FBuild ? FBuild->State.load() : TPeakState::Idle;
}

std::string TPeakBuilder::LastError() const {
    if (!FBuild) return "";
    std::lock_guard<std::mutex> guard(FBuild->Lock);
    return FBuild->Error;
}

std::string TPeakBuilder::FileName() const {
    return FBuild ? FBuild->FileName : "";
}

std::shared_ptr<const TPeakSummary> TPeakBuilder::Summary() const {
    if (!FBuild) return nullptr;
    std::lock_guard<std::mutex> guard(FBuild->Lock);
    return FBuild->Summary;
}

std::vector<TFrameRange> TPeakBuilder::BuiltRanges() const {
    std::vector<TFrameRange> ranges;
    if (!FBuild) return ranges;
    std::lock_guard<std::mutex> guard(FBuild->Lock);
    for (int i = 0; i < FBuild->SegmentCount; ++i) {
        const TBuild::TSegment& segment = FBuild->Segments[i];
        int64_t front = segment.Front.load();
        if (front > segment.First || i == 0) ranges.push_back(TFrameRange{segment.First, front});
    }
    // The first segment may have carried on over the second one's range.
    if (ranges.size() == 2 && ranges[0].End >= ranges[1].First) {
        ranges[0].End = std::max(ranges[0].End, ranges[1].End);
        ranges.pop_back();
    }
    return ranges;
}

int64_t TPeakBuilder::DecodedFrames() const {
    int64_t decoded = -1;
    for (const TFrameRange& range : BuiltRanges())
        decoded = std::max(decoded, range.End);
    return decoded;
}

int64_t TPeakBuilder::TotalFrames() const {
    if (!FBuild) return -1;
    int64_t decoded = DecodedFrames();
    std::lock_guard<std::mutex> guard(FBuild->Lock);
    return std::max(FBuild->EstimateFrames, decoded);
}

double TPeakBuilder::Progress() const {
    if (!FBuild) return 0.0;
    TPeakState state = FBuild->State.load();
    if (state == TPeakState::Done) return 1.0;
    int64_t total = TotalFrames();
    std::vector<TFrameRange> ranges = BuiltRanges();
    int64_t done = 0;
    for (const TFrameRange& range : ranges)
        done += range.End - range.First;
    int64_t start = ranges.empty() ? 0 : ranges.front().First;
    return total > start ? std::clamp(double(done) / double(total - start), 0.0, 1.0) : 0.0;
}

int TPeakBuilder::DecodeErrors() const {
    return FBuild ? FBuild->DecodeErrors.load() : 0;
}
