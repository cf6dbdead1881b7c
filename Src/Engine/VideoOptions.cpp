// Video options: the audio cutter has no video path, so these handlers only keep their values
// (FVideoSettings) for a video path to read. The video options that matter to audio (codec
// names, tags, bitstream filters, presets, "vb", "vframes", "sn", "newvideo", "newsubtitle")
// have their own handlers in OptionHandlers.cpp and Presets.cpp.
#include "FFmpeg.h"

void TCustomFFmpeg::OptVideoSetting(const std::string& name, const std::string& value) {
    for (auto& setting : FVideoSettings)
        if (setting.first == name) {
            setting.second = value;
            return;
        }
    FVideoSettings.emplace_back(name, value);
}

std::string TCustomFFmpeg::VideoSetting(const std::string& name) const {
    for (const auto& setting : FVideoSettings)
        if (setting.first == name) return setting.second;
    return std::string();
}

void TCustomFFmpeg::OptFrameRate(const std::string& value) {
    OptVideoSetting("r", value);
}
void TCustomFFmpeg::OptFrameSize(const std::string& value) {
    OptVideoSetting("s", value);
}
void TCustomFFmpeg::OptFrameAspectRatio(const std::string& value) {
    OptVideoSetting("aspect", value);
}
void TCustomFFmpeg::OptFrameCropTop(const std::string& value) {
    OptVideoSetting("croptop", value);
}
void TCustomFFmpeg::OptFrameCropBottom(const std::string& value) {
    OptVideoSetting("cropbottom", value);
}
void TCustomFFmpeg::OptFrameCropLeft(const std::string& value) {
    OptVideoSetting("cropleft", value);
}
void TCustomFFmpeg::OptFrameCropRight(const std::string& value) {
    OptVideoSetting("cropright", value);
}
void TCustomFFmpeg::OptFramePadTop(const std::string& value) {
    OptVideoSetting("padtop", value);
}
void TCustomFFmpeg::OptFramePadBottom(const std::string& value) {
    OptVideoSetting("padbottom", value);
}
void TCustomFFmpeg::OptFramePadLeft(const std::string& value) {
    OptVideoSetting("padleft", value);
}
void TCustomFFmpeg::OptFramePadRight(const std::string& value) {
    OptVideoSetting("padright", value);
}
void TCustomFFmpeg::OptPadColor(const std::string& value) {
    OptVideoSetting("padcolor", value);
}
void TCustomFFmpeg::OptVideoFilters(const std::string& value) {
    OptVideoSetting("vfilters", value);
}
void TCustomFFmpeg::OptVideoSync(const std::string& value) {
    OptVideoSetting("vsync", value);
}
void TCustomFFmpeg::OptTarget(const std::string& value) {
    OptVideoSetting("target", value);
}

void TCustomFFmpeg::OptTarget(const std::string& type, const std::string& norm,
                              const std::string& defaultNorm) {
    OptVideoSetting("target", norm == "auto" ? type : norm + "-" + type);
    OptVideoSetting("target_default_norm", defaultNorm);
}
