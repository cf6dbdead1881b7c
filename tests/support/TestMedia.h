// Generated test media: synthetic signals whose position can be read back from the samples,
// encoded through the loaded media libraries into every supported format, plus a few special and
// broken files. Load the libraries first (LoadTestLibs(ConverterLibs)).
//
// Files are generated once and cached under $CLIPWELL_TEST_MEDIA (default
// /tmp/clipwell-testmedia). Each is written to a temporary name and renamed into place, so test
// processes running in parallel may ask for the same file. Failures to generate raise
// std::runtime_error with the reason.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class TMediaFormat {
    Mp3Cbr,
    Mp3Vbr,
    Aac,
    Wav16,
    WavFloat,
    Wma,
    Ogg,
    Flac,    // .flac, sample-exact like WAV (carries the PCM ramp)
    M4a,     // AAC in MP4 (.m4a)
    OggOpus, // Opus in .ogg (48 kHz only)
    Mp2,     // MPEG layer II audio in a .mp3 file
};

struct TMediaSpec {
    TMediaFormat Format = TMediaFormat::Wav16;
    double Seconds = 5.0;
    int SampleRate = 44100;
    int Channels = 2;     // 1, 2 or 6 (5.1) where the encoder allows (MP3 and WMA: at most 2)
    int BitRate = 128000; // lossy formats; VBR MP3 uses a quality instead
};

// The folder of the cache, with a trailing "/"; created when missing.
std::string TestMediaFolder();

// Generates the file once and returns its absolute path. Extension by format:
// .mp3 .mp3 .aac .wav .wav .wma .ogg .flac .m4a .ogg .mp3.
std::string TestMediaFile(const TMediaSpec& spec);

// The file extension (with the dot) and the encoder name of a format.
std::string MediaFormatExt(TMediaFormat format);
std::string MediaFormatEncoder(TMediaFormat format);
bool IsPcmFormat(TMediaFormat format); // Wav16, WavFloat, Flac (lossless: the ramp signal)

// ---- Source signals -------------------------------------------------------------------------

// The PCM ramp: an arithmetic progression of 16-bit codes with an odd step, wrapping every
// kRampPeriod samples. The large step keeps it away from zero (no quiet stretch, so silence
// checks work on PCM too) and makes it correlate sharply like noise.
constexpr int64_t kRampPeriod = 65536;
constexpr int64_t kRampStep = 2053;

// The source signal before encoding: sample n (0-based) of channel c, in -1..1.
// PCM formats (Wav16, WavFloat): the ramp, value (((n * kRampStep + c * 4096) mod 65536) - 32768)
// / 32768, so every 16-bit sample names its index modulo 65536 exactly (and the channel order
// shows).
// Lossy formats: a position code with no silent stretch anywhere: band-limited pseudo-noise
// (different per channel and never repeating) plus a tone whose pitch steps every 100 ms.
float SourceSample(const TMediaSpec& spec, int64_t n, int channel);

// The sample index encoded in a decoded 16-bit ramp value of channel `channel` (exact). The ramp
// repeats every kRampPeriod samples (~1.5 s at 44.1 kHz): of the indexes with this value, the one
// nearest to `near` is returned.
int64_t RampIndexOf(int16_t value, int64_t near = 0, int channel = 0);
// The same for a decoded float sample (a WAV of either kind decoded to float).
int64_t RampIndexOf(float value, int64_t near = 0, int channel = 0);

// ---- Decoding and measuring -----------------------------------------------------------------

struct TDecodedAudio {
    int SampleRate = 0;
    int Channels = 0;
    std::vector<float> Samples; // interleaved, -1..1
    int64_t Frames() const { return Channels > 0 ? int64_t(Samples.size()) / Channels : 0; }
    float At(int64_t frame, int channel) const { return Samples[size_t(frame * Channels + channel)]; }
    double Seconds() const { return SampleRate > 0 ? double(Frames()) / SampleRate : 0.0; }
};

// Decodes the first audio stream of any file fully (through the loaded libraries), without
// resampling. Raises std::runtime_error when the file cannot be opened or decoded.
// `fromTimeZero`: samples stamped before the stream's time 0 (a decoder's preroll that the
// container marks with negative times, as Ogg Vorbis does) are dropped, as a player drops them.
TDecodedAudio DecodeAudioFile(const std::string& path, bool fromTimeZero = false);

// The source signal of `spec` as a decoder would return it without coding loss (frames 0..count).
TDecodedAudio SourceAudio(const TMediaSpec& spec, int64_t frames = -1);

// Where does `piece` start inside `source` (both decoded, same rate)? Compares piece frames from
// `pieceStart` on (so leading frames of the piece can be skipped, e.g. decoder warm-up) with the
// source and returns the source frame index s that piece frame 0 corresponds to, i.e. piece frame
// pieceStart + i matches source frame s + pieceStart + i. `expected` is the expected value of s;
// the search covers expected ± radius. Channels are averaged first, so a piece with another
// channel count (a downmix) can still be located. Returns -1 when nothing in the range matches
// (normalised correlation below 0.5). Exact to the sample for PCM; for MP3, OGG, AAC and WMA at
// 128 kbit/s the error stays within a few samples.
int64_t FindOffsetInSource(const TDecodedAudio& source, const TDecodedAudio& piece, int64_t pieceStart,
                           int64_t expected, int64_t radius);

// Longest run of frames in which every channel stays below `threshold` in magnitude.
int64_t LongestSilence(const TDecodedAudio& audio, float threshold = 1e-3f);

// ---- Special files ----------------------------------------------------------------------------

std::string CoverArtMp3(); // MP3 (2 s, 44.1 kHz stereo) + an attached PNG picture: streams audio 0, video 1
std::string
TwoAudioStreamFile();          // .mka: two audio streams (Vorbis 44.1 kHz stereo, Vorbis 22.05 kHz mono), 2 s
std::string VideoStreamFile(); // .mkv: a 16x16 MPEG-4 video stream (index 0) and AAC audio (index 1), 2 s
std::string TruncatedMp3();    // a valid 2 s MP3 cut off in the middle of a frame (~60% of its size)
std::string CorruptMiddleMp3(); // a 4 s MP3 with random bytes over 4 KiB in the middle
std::string ZeroByteFile(const std::string& ext = ".mp3");
std::string RandomBytesFile(const std::string& ext = ".mp3"); // 64 KiB of random bytes
std::string TextAsMp3();                                      // a plain text file named .mp3
// A WAV whose format tag (0x7777) no decoder knows: it opens and has an audio stream (44.1 kHz
// stereo, 1 s of data), but nothing can decode it.
std::string UnknownCodecWav();

// ---- Tagged files -----------------------------------------------------------------------------

// The tags every tagged file carries (title, artist, album, date, track).
const std::vector<std::pair<std::string, std::string>>& TestTags();
// Whether the container of `format` holds a cover picture (MP3, OGG, FLAC, M4A).
bool HoldsCover(TMediaFormat format);
// A 4 s file of `format` (44.1 kHz stereo; Opus 48 kHz) with TestTags() and, where the container
// holds one, a 32x32 PNG front cover (an attached-picture stream, or the Ogg picture comment).
std::string TaggedMediaFile(TMediaFormat format);
// A Vorbis file (.ogg, 44.1 kHz stereo, 6 s) remuxed so that the packet timestamps jump forward by
// `jumpSamples` at 3 s: decoded sample n is source sample n, its container time is not.
std::string GranuleJumpOgg(int jumpSamples);
