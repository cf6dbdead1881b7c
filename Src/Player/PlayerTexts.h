// Texts of the player, in one place so that tests can name them. Texts with "%s" are formatted
// with the file name.
#pragma once

namespace PlayerTexts {
inline constexpr const char* kVersion = "1.3";
inline constexpr const char* kSource = "Src/FFPlay";

inline constexpr const char* kNotLoaded = "libav or libsdl not loaded.";
inline constexpr const char* kSDLInitFailed = "Could not initialize SDL: ";
inline constexpr const char* kAllocFailed = "av_mallocz() failed.";
inline constexpr const char* kThreadFailed = "SDL_CreateThread() failed.";

inline constexpr const char* kNoCodecParameters = "%s: could not find codec parameters";
inline constexpr const char* kNoStreamToPlay = "%s: could not open codecs, no stream to play.";
inline constexpr const char* kCodecOpenFailed = "avcodec_open() failed.";
inline constexpr const char* kSeekFailed = "%s: error while seeking";
inline constexpr const char* kReadEnded = "%s: error or end of file";

inline constexpr const char* kAudioOpenFailed = "SDL_OpenAudio() failed: ";
inline constexpr const char* kDummyAudio =
    "No sound device could be opened; playing silently through SDL's dummy driver.";
inline constexpr const char* kDecodeFailed = "avcodec_decode_audio2() failed";
inline constexpr const char* kNoConverter = "Cannot convert %s sample format to %s sample format";
inline constexpr const char* kConvertFailed = "av_audio_convert() failed";
} // namespace PlayerTexts
