// Messages of the engine's lifecycle and option table, in one place so that tests can name them.
// printf-style templates are filled with Format().
#pragma once

// ---- Lifecycle ------------------------------------------------------------------------------
inline constexpr const char* kMsgNoOutputFile = "At least one output file must be specified";
inline constexpr const char* kMsgNoInputFile = "At least one input file must be specified";
inline constexpr const char* kMsgLibrariesNotLoaded = "The media libraries are not loaded";
// Full tables (first argument: the capacity).
inline constexpr const char* kMsgInputFilesFull = "Too many input files: at most %d can be opened";
inline constexpr const char* kMsgOutputFilesFull = "Too many output file entries: at most %d can be created";
inline constexpr const char* kMsgStreamMapsFull = "Too many stream maps: at most %d can be given";
inline constexpr const char* kMsgMetadataMapsFull = "Too many metadata maps: at most %d can be given";

// ---- Option handlers --------------------------------------------------------------------------
inline constexpr const char* kMsgDoNothing = "Do nothing: option - ";
inline constexpr const char* kMsgTodoOption = "TODO: option - ";
inline constexpr const char* kMsgInvalidSpec = "Invalid %s specification for %s: %s"; // kind, option, value
inline constexpr const char* kMsgUnknownInOutFormat = "Unknown input or output format: %s";
inline constexpr const char* kMsgUnknownInputFormat = "Unknown input format: %s";
inline constexpr const char* kMsgUnknownOutputFormat = "Unknown output format: %s";
inline constexpr const char* kMsgPgmYuvDeprecated = "pgmyuv format is deprecated, use image2";
inline constexpr const char* kMsgStreamIndexOver = "stream index over MAX_STREAMS(%d)";
inline constexpr const char* kMsgInvalidTsScale = "Invalid timestamp scale for stream %d: %s";
inline constexpr const char* kMsgInputTsScalesFull =
    "Too many input files: no timestamp scale can be given for input %d (at most %d inputs)";
inline constexpr const char* kMsgMissingEquals = "Missing =";
inline constexpr const char* kMsgBitrateTooLow =
    "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s";
inline constexpr const char* kMsgUnknownBsf = "Unknown bitstream filter %s";
inline constexpr const char* kMsgAudioTagLength = "audio tag parameter must be 4 chars";
inline constexpr const char* kMsgVideoTagLength = "video tag parameter must be 4 chars";
inline constexpr const char* kMsgSubtitleTagLength = "subtitle tag parameter must be 4 chars";

// ---- Presets --------------------------------------------------------------------------------
inline constexpr const char* kMsgPresetNotFound = "Preset \"%s\" not found";
inline constexpr const char* kMsgPresetSyntax = "%s: Invalid syntax: \"%s\"";
inline constexpr const char* kMsgPresetBadOption =
    "%s: Invalid option or argument: \"%s\", parsed as \"%s\" = \"%s\"";
inline constexpr const char* kMsgPresetUnreadable = "%s: Cannot read the preset file";
inline constexpr const char* kMsgPresetTooLarge = "%s: The preset file is larger than %d bytes";
