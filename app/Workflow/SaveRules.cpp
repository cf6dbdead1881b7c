// Rules of the save that need no state: extension tests, the encoder choice, progress arithmetic
// and the shares of a delete-mode save.
#include "SaveWorkflow.h"

#include "FFmpegLoader.h"
#include "MediaApi.h"
#include "MyUtils.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace WorkflowText;

std::string CodecNameFromDescription(const std::string& codecText) {
    std::string text = Trim(codecText);
    size_t open = text.find('(');
    if (open == std::string::npos) return std::string();
    return Trim(text.substr(0, open));
}

bool IsSupportedExtension(const std::string& fileName) {
    std::string ext = LowerCase(ExtractFileExt(fileName));
    return !ext.empty() && std::strstr(kAudioExtensions, ext.c_str()) != nullptr;
}

bool InputNeedsVideoOff(const std::string& fileName) {
    std::string ext = ExtractFileExt(fileName);
    return !ext.empty() && std::strstr(kVideoOffExtensions, ext.c_str()) != nullptr;
}

std::string SaveDialogFilter(const std::string& ext) {
    std::string bare = ext;
    bare.erase(std::remove(bare.begin(), bare.end(), '.'), bare.end());
    return bare + " Files|*" + ext;
}

namespace {

constexpr int64_t kMaxLossyBitRate = 1000000;

bool IsKnownEncoder(const std::string& name) {
    if (FFLoader().IsLoaded(libAVCodec)) {
        const AVCodec* codec = name.empty() ? nullptr : av::avcodec_find_encoder_by_name(name.c_str());
        return name.empty() || (codec && av::av_codec_is_encoder(codec));
    }
    return std::strstr(kEncoderList, ("." + name).c_str()) != nullptr;
}

bool IsOggExtension(const std::string& ext) {
    return ext == ".ogg" || ext == ".oga";
}

} // namespace

void ChooseAudioEncoder(const std::string& outputExt, TOutputOptions& options) {
    // The floating-point MPEG audio decoders are the ones the current libraries pick.
    std::string name = options.AudioCodec;
    if (name == "mp3float")
        name = "mp3";
    else if (name == "mp2float")
        name = "mp2";
    options.AudioCodec = name;
    if (!IsKnownEncoder(name)) {
        if (name == "aac")
            options.AudioCodec = "libfaac";
        else if (name == "mp3")
            options.AudioCodec = "libmp3lame";
        else
            options.AudioCodec.clear(); // the format's default encoder
        if (IsOggExtension(outputExt)) options.AudioCodec = "libvorbis";
        if (outputExt == ".opus") options.AudioCodec = "libopus";
    }
    // MPEG layer II audio in a .mp3 file: the MP3 muxer takes only layer III.
    if (outputExt == ".mp3" && options.AudioCodec == "mp2") options.ForceFormat = "mp2";
    if (outputExt == ".wma") {
        options.DisableVideo = true;
        options.AudioCodec = "wmav2";
    }
    // The current libraries have no libfaac, and their own Vorbis and Opus encoders are
    // experimental.
    if (options.AudioCodec == "libfaac")
        options.AudioCodec = "aac";
    else if (options.AudioCodec == "vorbis")
        options.AudioCodec = "libvorbis";
    else if (options.AudioCodec == "opus")
        options.AudioCodec = "libopus";
}

void ApplyVariableBitRate(const rInputStreamInfo& input, TOutputOptions& options) {
    if (!input.VariableBitRate || options.AudioCodec != "libmp3lame") return;
    std::string line;
    if (input.VbrQuality >= 0) {
        line = Format("aq=%d", int(input.VbrQuality));
        options.AudioBitrate = -1;
    } else if (options.AudioBitrate > 0) {
        line = "abr=1"; // LAME's average bit rate mode: frames vary around the input's average
    }
    if (line.empty()) return;
    options.ExtOptions = options.ExtOptions.empty() ? line : options.ExtOptions + "\n" + line;
}

void ApplyExactLength(const std::string& outputExt, TOutputOptions& options) {
    if (LowerCase(outputExt) != ".m4a" || options.AudioSampleRate <= 0) return;
    std::string line = Format("movie_timescale=%d", int(options.AudioSampleRate));
    options.ExtOptions = options.ExtOptions.empty() ? line : options.ExtOptions + "\n" + line;
}

int32_t EncoderBitRate(int64_t inputBitRate) {
    if (inputBitRate <= 0 || inputBitRate > kMaxLossyBitRate) return -1;
    return static_cast<int32_t>(inputBitRate);
}

TProgressView ProgressView(int32_t trimMode, int32_t base, int32_t weight, int64_t currentMs,
                           int64_t totalMs) {
    TProgressView view;
    if (totalMs <= 0 || (trimMode != 1 && trimMode != 2)) return view;
    // An estimated total may be passed: keep each conversion inside its own share of the bar.
    int64_t cur = Clip<int64_t>(currentMs, 0, totalMs);
    double value;
    int64_t position;
    if (trimMode == 1) {
        position = cur * 100 / totalMs;
        value = double(cur) * 100.0 / double(totalMs);
    } else {
        position = cur * weight / totalMs + base;
        value = double(cur) * weight / double(totalMs) + base;
    }
    view.Valid = true;
    view.Position = int32_t(Clip<int64_t>(position, 0, 100));
    view.Text = Format(kProgressFormat, Clip(value, 0.0, 100.0));
    return view;
}

TDeletePlan PlanDelete(int64_t totalTimeUs, int64_t startMark, int64_t endMark) {
    TDeletePlan plan;
    int64_t totalMs = totalTimeUs / 1000;
    plan.FirstPart = startMark > 0;
    plan.SecondPart = endMark < totalMs;
    // Step: the file's length in tenths of a second, so that ms / Step is a percentage. A file
    // shorter than 0.1 s has no Step; its shares are then taken from the milliseconds directly.
    int64_t step = totalTimeUs / 100000;
    auto share = [&](int64_t ms) -> int32_t {
        double percent = 0.0;
        if (step > 0)
            percent = std::trunc(double(ms) / double(step));
        else if (totalMs > 0)
            percent = std::trunc(double(ms) * 100.0 / double(totalMs));
        return int32_t(Clip(percent, 0.0, 100.0));
    };
    plan.FirstWeight = share(startMark);
    plan.SecondBase = plan.FirstWeight;
    plan.SecondWeight = std::min(share(totalMs - endMark), 100 - plan.SecondBase);
    plan.JoinBase = plan.SecondBase + plan.SecondWeight;
    plan.JoinWeight = 100 - plan.JoinBase;
    return plan;
}
