// The intake check of an added file: its extension, the probe's view of it, and the audio stream
// parameters that every output copies.
#include "SaveWorkflow.h"

#include "MyUtils.h"

#include <exception>

using namespace WorkflowText;

bool TSaveWorkflow::CheckInputFile(const std::string& fileName) {
    if (!IsSupportedExtension(fileName)) {
        ShowMessage(TPromptKind::Plain, std::string(), kUnsupportedFormat);
        return false;
    }
    TAVProbe& probe = FFConverter.AVProbe();
    bool loaded = false;
    try {
        loaded = probe.LoadFile(fileName, std::string());
    } catch (const std::exception& e) { // libraries missing
        ShowMessage(TPromptKind::Plain, std::string(), e.what());
        return false;
    }
    if (!loaded) {
        ShowMessage(TPromptKind::Plain, std::string(), probe.LastErrMsg);
        return false;
    }
    if (!CheckStreams()) {
        ShowMessage(TPromptKind::Plain, std::string(), kNotAudio);
        return false;
    }
    TAudioStreamInfo info;
    probe.GetAudioStreamInfo(info);
    FStreamInfo.CodecName = CodecNameFromDescription(info.Codec);
    FStreamInfo.Channels = info.Channels;
    FStreamInfo.SampleRate = info.SampleRate;
    FStreamInfo.BitRate = info.BitRate;
    FInputInfo.StreamCount = probe.StreamCount;
    FInputInfo.AudioStreamCount = probe.AudioStreamCount;
    AVFormatContext* context = probe.FormatContext();
    FInputInfo.DurationUS =
        context && context->duration != AV_NOPTS_VALUE ? context->duration : info.DurationUS;
    return true;
}

// One audio stream; anything else in the file must be an attached picture (cover art).
bool TSaveWorkflow::CheckStreams() {
    TAVProbe& probe = FFConverter.AVProbe();
    if (probe.AudioStreamCount != 1) return false;
    if (probe.StreamCount <= 1) return true;
    AVFormatContext* context = probe.FormatContext();
    if (!context) return false;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream* stream = context->streams[i];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) continue;
        if ((stream->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0) return false;
    }
    return true;
}
