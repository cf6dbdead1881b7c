// Texts, captions and fixed names of the save workflow, in one place so that the window, the
// command-line tool and the tests can name them.
#pragma once

namespace WorkflowText {

// ---- Captions ----------------------------------------------------------------------------------
inline constexpr const char* kWarningCaption = "Warning";
inline constexpr const char* kInformationCaption = "Information";

// ---- File intake -------------------------------------------------------------------------------
// Extensions accepted by the intake check (a substring test on the lower-cased extension).
inline constexpr const char* kAudioExtensions = ".mp3.aac.wav.wma.ogg.oga.opus.flac.m4a";
inline constexpr const char* kUnsupportedFormat = "The file format is not supported. Please re-add files.";
inline constexpr const char* kNotAudio = "The selected file can't be added because it is not audio format.";
// Files whose audio could not be cut: no decoder, no sample rate or channels, or content of
// another format than the extension says.
inline constexpr const char* kNoDecoder = "The file's audio format can't be decoded. Please re-add files.";
inline constexpr const char* kNoAudioParameters =
    "The file's audio stream states no sample rate or no channels. Please re-add files.";
inline constexpr const char* kExtensionMismatch =
    "The file's content does not match its extension %s. Please re-add files.";

// ---- Save --------------------------------------------------------------------------------------
inline constexpr const char* kNoMarks = "Please set the starting point and ending point of the desired video "
                                        "segment before saving the file.";
inline constexpr const char* kNoTrimMode = "Please select Trim Mode before saving file.";
inline constexpr const char* kEndBeforeStart =
    "The ending point shall be after the starting point. Please reset.";
inline constexpr const char* kSameAsInput = "The output file can't be the same as the input file.";
inline constexpr const char* kNothingLeft = "Nothing would be left after deleting the selected segment.";
inline constexpr const char* kNoDiskSpace = "There is not enough free disk space for the temporary files.";
inline constexpr const char* kReplaceQuestion = "Would you like to replace the existing file?";
inline constexpr const char* kOpenFolderQuestion = "Would you like to open the output folder?";
// "%s" is the file or folder, the second "%s" the system's reason.
inline constexpr const char* kCannotCreateOutput = "%s: cannot create the output file: %s";
inline constexpr const char* kCannotReplaceOutput = "%s: cannot replace the output file: %s";
inline constexpr const char* kCannotCreateTempFolder = "%s: cannot create the temporary folder: %s";
// A conversion that ended neither finished nor with a message of its own.
inline constexpr const char* kConversionUnfinished = "%s: the conversion did not finish.";
// A conversion that failed while the output's file system was full; the second "%s" is the
// system's reason.
inline constexpr const char* kDiskFull = "%s: the disk is full. (%s)";
// A conversion that finished without writing any audio (a segment beyond the end of the input).
inline constexpr const char* kNoAudioWritten = "%s: no audio was written for the selected segment.";
// The lossless mode; "%s" is the reason a copy is not possible (a sentence without its full stop).
inline constexpr const char* kLosslessFallback = "%s. The file is saved by re-encoding instead.";
inline constexpr const char* kLosslessRefusedQuestion = "%s.\n\nWould you like to save it by re-encoding instead?";
inline constexpr const char* kLosslessWriteFailed = "%s: the lossless copy failed: %s";
// Formats that cut at frame boundaries: how far the copy starts and ends from the marks (ms).
inline constexpr const char* kLosslessFrameDistance =
    "Whole frames were copied: the cut lies %+.1f ms from the start mark and %+.1f ms from the end mark.";
// The same for a delete, whose removed stretch starts and ends at frame boundaries (to the
// hundredth: a Vorbis or Opus seam can move by a few samples).
inline constexpr const char* kLosslessDeleteDistance =
    "Whole frames were kept: the deleted stretch starts %+.2f ms from the start mark and ends %+.2f ms "
    "from the end mark.";
// A select whose start mark lies past the end of the decoded audio (the file's duration was an
// estimate).
inline constexpr const char* kStartBeyondEnd = "The starting point lies beyond the end of the file";
// A save whose input ended before the end mark: the output, then the length written and the
// length selected ("12.345 s").
inline constexpr const char* kInputEndedEarly =
    "%s: the input ended before the end mark; %s of the selected %s were written.";
// A file of the output's name appeared while the save ran (no replacement was agreed to).
inline constexpr const char* kOutputAppeared =
    "%s: a file of this name appeared while saving; it was left as it is and nothing was written.";
// Writing the output failed; the second "%s" is the system's reason.
inline constexpr const char* kCannotWriteOutput = "%s: cannot write the output file: %s";
// printf format of the progress text; the value is a percentage.
inline constexpr const char* kProgressFormat = "Progress: %.2f%%";

// ---- Conversions -------------------------------------------------------------------------------
// Inputs whose extension, exactly as written, occurs here are opened with their video dropped.
inline constexpr const char* kVideoOffExtensions = ".aac.ac3.mp2.mp3.wav.wma";
inline constexpr const char* kVideoOffOption = "vn=1";
inline constexpr const char* kTempFolderName = "TemAudio";
inline constexpr const char* kFirstPartName = "Movies1";
inline constexpr const char* kSecondPartName = "Movies2";
// The parts of a delete-mode save: lossless 32-bit float PCM in WAV. The WAV muxer's "rf64" option
// "auto" switches a part that grows beyond 4 GiB to 64-bit sizes, so long parts stay valid.
inline constexpr const char* kPartExt = ".wav";
inline constexpr const char* kPartMuxerOption = "rf64=auto";
inline constexpr const char* kPartEncoder = "pcm_f32le";
inline constexpr int kPartBytesPerSample = 4;

// Encoder names the output library knows, each preceded by ".".
inline constexpr const char* kEncoderList =
    ".ac3.adpcm_adx.adpcm_g726.adpcm_ima_qt.adpcm_ima_wav.adpcm_ms.adpcm_swf.adpcm_yamaha.alac.asv1.asv2.bmp."
    "dnxhd.dvbsub.dvdsub.dvvideo.ffv1.ffvhuff.flac.flashsv.flv.gif.h261.h263.h263p.huffyuv.jpegls.libfaac."
    "libgsm.libgsm_ms.libmp3lame.libopencore_amrnb.libtheora.libvorbis.libx264.libxvid.ljpeg.mjpeg.mp2."
    "mpeg1video.mpeg2video.mpeg4.msmpeg4v1.msmpeg4v2.msmpeg4v3.nellymoser.pam.pbm.pcm_alaw.pcm_f32be."
    "pcm_f32le.pcm_f64be.pcm_f64le.pcm_mulaw.pcm_s16be.pcm_s16le.pcm_s24be.pcm_s24daud.pcm_s24le.pcm_s32be."
    "pcm_s32le.pcm_s8.pcm_u16be.pcm_u16le.pcm_u24be.pcm_u24le.pcm_u32be.pcm_u32le.pcm_u8.pcm_zork.pcx.pgm."
    "pgmyuv.png.ppm.qtrle.rawvideo.roq.roq_dpcm.rv10.rv20.sgi.snow.sonic.sonic_ls.svq1.targa.tiff.v210."
    "vorbis.wmav1.wmav2.wmv1.wmv2.xsub.zlib.zmbv";

} // namespace WorkflowText
