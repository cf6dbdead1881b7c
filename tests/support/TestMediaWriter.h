// Internal to the test-media generator: writing a media file from synthetic signals through the
// loaded libraries.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One audio stream to encode.
struct TAudioPlan {
    std::string Encoder; // encoder name ("libmp3lame", "aac", ...)
    int SampleRate = 44100;
    int Channels = 2;
    int BitRate = 128000; // 0: the encoder's default
    int VbrQuality = -1;  // >= 0: variable bit rate at this quality (lame's -V scale)
    int64_t Frames = 0;   // sample frames to encode
    std::function<float(int64_t n, int channel)> Signal;
};

// A small video stream: moving pictures, or one attached picture (cover art).
struct TVideoPlan {
    std::string Encoder = "mpeg4";
    int Width = 16;
    int Height = 16;
    int FramesPerSecond = 5;
    int64_t Frames = 10;
    bool AttachedPicture = false; // one picture with the attached-picture disposition
};

// Tags of the file (Ogg: of its audio streams too) and a cover picture, written as the container
// keeps it: an attached-picture stream, or the METADATA_BLOCK_PICTURE comment in Ogg.
struct TTagPlan {
    std::vector<std::pair<std::string, std::string>> Tags;
    bool Cover = false;
};

// Writes `path` with the muxer `muxer`: the video stream (when `video` has frames) first when
// `videoFirst`, else after the audio streams. Raises std::runtime_error on failure.
void WriteMediaFile(const std::string& path, const std::string& muxer, const std::vector<TAudioPlan>& audio,
                    const TVideoPlan* video, bool videoFirst, const TTagPlan* tags = nullptr);

// Generates `finalPath` unless it exists: `make` writes the given temporary path (same folder, same
// extension), which is then renamed into place. Safe across threads and processes.
std::string CachedFile(const std::string& finalPath, const std::function<void(const std::string&)>& make);
