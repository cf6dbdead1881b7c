// Texts of lossless cutting, in one place so that the workflow, the tool and the tests can name
// them. Reasons are sentences without a final full stop; "%s" is the file's format.
#pragma once

namespace LosslessText {

inline constexpr const char* kNoCopyPath = "Lossless cutting is not available for %s files";
inline constexpr const char* kNoDeletePath = "Lossless deleting is not available for %s files yet";
inline constexpr const char* kCannotRead = "The file cannot be read: %s";
inline constexpr const char* kFreeFormat = "The MP3 uses free-format frames, whose size is not in their headers";
inline constexpr const char* kNoMp3Frames = "No intact MP3 frame header was found: the file is damaged or not an MP3";
inline constexpr const char* kMixedLayers = "The MP3 does not use layer III frames";
inline constexpr const char* kLowBitRate =
    "At this low bit rate the first frame's data reaches further back than a lossless cut can skip";
inline constexpr const char* kStartInDecoderDelay =
    "The start lies within the decoder delay of a file without gapless information";
inline constexpr const char* kNoGaplessInfo =
    "The MP3 has no gapless information (an info frame with the encoder delay and padding)";
inline constexpr const char* kSeamReservoir =
    "The frames after the cut read more of the bit reservoir than the re-encoded seam can carry";
inline constexpr const char* kBeyondEnd = "The selection lies beyond the end of the audio";
inline constexpr const char* kBadWav = "The WAV file's header is damaged: %s";
inline constexpr const char* kOggDamaged = "An Ogg page of the file is damaged (its checksum does not match)";
inline constexpr const char* kOggMultiplexed = "The Ogg file holds more than one stream (chained or multiplexed)";
inline constexpr const char* kOggCodec = "Lossless cutting of Ogg files is available for Vorbis and Opus only";
inline constexpr const char* kOggPrerollTooLong = "The Opus packets are too short for the decoder's preroll to be copied";
inline constexpr const char* kVorbisSetup = "The seam of a lossless Vorbis delete cannot be re-encoded: %s";
inline constexpr const char* kVorbisSeamEdge =
    "The Vorbis packets around the deleted stretch leave no room for a bridge at the seam (it lies too close to "
    "the start or the end of the audio)";
inline constexpr const char* kOggHeaders = "The Ogg stream's codec headers are damaged";
inline constexpr const char* kBadFlac = "The FLAC file is damaged: %s";
inline constexpr const char* kNoAdtsFrames = "No intact ADTS frame header was found: the file is damaged or not AAC";
inline constexpr const char* kOneAudioStream = "The file holds other streams than one audio stream";
inline constexpr const char* kWavNotPcm = "The WAV file holds compressed audio";
inline constexpr const char* kWmaReservoir =
    "The WMA file carries parts of its frames in the packets before them, which a lossless delete would break";
inline constexpr const char* kOpusSeam = "The seam of a lossless Opus delete cannot be re-encoded: %s";

} // namespace LosslessText
