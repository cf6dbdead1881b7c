// Presets: named sets of option lines ("name=value"), built in or read from a file. Used by
// "apre", "vpre", "spre" and by the conversion component's preset fields.
#include "EngineTexts.h"
#include "FFmpeg.h"

#include <array>
#include <fstream>
#include <sstream>

namespace {

struct TOptionsPreset {
    const char* Name;
    const char* Text;
};

// Presets of the H.264 video encoder. The audio cutter encodes no video; the texts hold a few
// generic codec options so that applying one is meaningful and checkable.
constexpr std::array<TOptionsPreset, 16> kBuiltinPresets{{
    {"libx264-baseline", "qcomp=0.6\nbf=0\nrefs=1"},
    {"libx264-default", "qcomp=0.6\nbf=3\nrefs=2\ng=250\nqmin=10\nqmax=51"},
    {"libx264-fastfirstpass", "bf=3\nrefs=1\ng=250"},
    {"libx264-hq", "qcomp=0.6\nbf=16\nrefs=4\ng=250\nqmin=10\nqmax=51"},
    {"libx264-ipod320", "qcomp=0.6\nbf=0\nrefs=1\nlevel=13\nmaxrate=768000\nbufsize=3000000"},
    {"libx264-ipod640", "qcomp=0.6\nbf=0\nrefs=1\nlevel=30\nmaxrate=10000000\nbufsize=10000000"},
    {"libx264-lossless_fast", "qcomp=0.6\nrefs=2\nqmin=0\nqmax=0"},
    {"libx264-lossless_max", "qcomp=0.6\nrefs=16\nqmin=0\nqmax=0"},
    {"libx264-lossless_medium", "qcomp=0.6\nrefs=2\nqmin=0\nqmax=0"},
    {"libx264-lossless_slow", "qcomp=0.6\nrefs=4\nqmin=0\nqmax=0"},
    {"libx264-lossless_slower", "qcomp=0.6\nrefs=4\nqmin=0\nqmax=0\ntrellis=1"},
    {"libx264-lossless_ultrafast", "qcomp=0.6\nrefs=1\nqmin=0\nqmax=0"},
    {"libx264-main", "qcomp=0.6\nbf=3\nrefs=3"},
    {"libx264-max", "qcomp=0.6\nbf=16\nrefs=16\ntrellis=2"},
    {"libx264-normal", "qcomp=0.6\nbf=3\nrefs=2\ng=250"},
    {"libx264-slowfirstpass", "qcomp=0.6\nbf=3\nrefs=1\ng=250"},
}};

// Preset files are small option lists; anything larger is not one.
constexpr int64_t kMaxPresetFileSize = 1 << 20;

bool FindBuiltinPreset(const std::string& name, std::string& text) {
    for (const TOptionsPreset& preset : kBuiltinPresets)
        if (SameText(preset.Name, name)) {
            text = preset.Text;
            return true;
        }
    return false;
}

// The whole content of a preset file (8-bit text), or false when there is no such file.
bool ReadPresetFile(const std::string& name, std::string& text) {
    int64_t size = GetFileSize64(name); // regular files only: no folders, devices or pipes
    if (size < 0) return false;
    if (size > kMaxPresetFileSize)
        throw FFmpegException(Format(kMsgPresetTooLarge, name.c_str(), int(kMaxPresetFileSize)));
    std::ifstream file(name, std::ios::binary);
    if (!file) throw FFmpegException(Format(kMsgPresetUnreadable, name.c_str()));
    std::ostringstream content;
    content << file.rdbuf();
    text = content.str();
    return true;
}

} // namespace

void TCustomFFmpeg::ApplyPreset(const std::string& optionName, const std::string& presetName) {
    if (optionName.empty() || presetName.empty()) return;

    std::string candidate = presetName;
    std::string text;
    bool found = FindBuiltinPreset(candidate, text);
    if (!found) {
        // The codec name of the option's kind as a prefix ("libmp3lame-<preset>").
        const std::string* prefix = nullptr;
        if (optionName[0] == 'v' && !FVideoCodecName.empty())
            prefix = &FVideoCodecName;
        else if (optionName[0] == 'a' && !FAudioCodecName.empty())
            prefix = &FAudioCodecName;
        else if (!FSubtitleCodecName.empty())
            prefix = &FSubtitleCodecName;
        if (prefix) {
            candidate = *prefix + "-" + presetName;
            found = FindBuiltinPreset(candidate, text);
        }
    }
    if (!found && ReadPresetFile(presetName, text)) {
        candidate = presetName;
        found = !text.empty();
    }
    if (!found) throw FFmpegException(Format(kMsgPresetNotFound, candidate.c_str()));

    std::string rest = NormaliseLineBreaks(Trim(text));
    std::string line;
    while (!rest.empty()) {
        SplitString(rest, "\n", true, line);
        line = Trim(line);
        if (line.empty()) continue;
        size_t eq = line.find('=');
        std::string name = eq == std::string::npos ? line : line.substr(0, eq);
        std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
        if (name.empty() || value.empty())
            throw FFmpegException(Format(kMsgPresetSyntax, candidate.c_str(), line.c_str()));
        if (SameText(name, "acodec"))
            OptAudioCodec(value);
        else if (SameText(name, "vcodec"))
            OptVideoCodec(value);
        else if (SameText(name, "scodec"))
            OptSubtitleCodec(value);
        else {
            RequireLibraries();
            if (!SetOptionDefault(&FOptionContexts, name, value))
                throw FFmpegException(Format(kMsgPresetBadOption, candidate.c_str(), line.c_str(),
                                             name.c_str(), value.c_str()));
        }
    }
}
