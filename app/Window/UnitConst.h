// Texts, captions and addresses of the main window, in one place so that tests can name them.
#pragma once

namespace UnitConst {

// ---- Program ----------------------------------------------------------------------------------
inline constexpr const char* kAppTitle = "Tamsel Free Clipwell";
inline constexpr const char* kCaptionFormat = "Tamsel Free Clipwell %s";
inline constexpr const char* kAppVersion = "1.0";
// The title with a file open: "%s" is the file's name, the second the caption.
inline constexpr const char* kFileTitleFormat = "%s \u2014 %s";
// The window's client size at start and its smallest size.
inline constexpr int kBaseWidth = 704;
inline constexpr int kBaseHeight = 246;
inline constexpr const char* kLibraryFolder = "Dll/"; // beside the executable

// ---- Contact menu: the maker's addresses, kept together until real ones exist ------------------
inline constexpr const char* kSiteUrl = "https://example.org/clipwell";
inline constexpr const char* kNewsUrl = "https://example.org/clipwell/news";
inline constexpr const char* kSupportAddress = "support@example.org";
inline constexpr const char* kMailBody = "Welcome you for using this software!";

// ---- Captions and hints ----------------------------------------------------------------------
inline constexpr const char* kZeroTime = "00:00:00.000";
inline constexpr const char* kSupportedFormats = "Supported audio files: MP3, AAC, WAV, WMA and OGG";
inline constexpr const char* kAddFile = "Add File...";
inline constexpr const char* kSaveFile = "Save File...";
inline constexpr const char* kStop = "Stop";
inline constexpr const char* kContactUs = "Contact Us";
inline constexpr const char* kHintPlay = "Play";
inline constexpr const char* kHintStop = "Stop";
inline constexpr const char* kHintGotoFirst = "Go To Begin";
inline constexpr const char* kHintGotoEnd = "Go To End";
inline constexpr const char* kHintCutStart = "Trim Left";
inline constexpr const char* kHintCutEnd = "Trim Right";
inline constexpr const char* kHintSelectAudio = "Cut the selected audio segment and save it.";
inline constexpr const char* kHintDeleteAudio =
    "Delete the selected audio segment and save the unselected ones as a whole file.";
inline constexpr const char* kLossless = "Lossless";
inline constexpr const char* kHintLossless =
    "Save by copying the compressed audio instead of re-encoding it: no loss of quality and much faster. "
    "MP3, WAV, Ogg Vorbis, Opus and FLAC cuts keep exactly the marked samples; AAC, WMA and M4A cuts "
    "keep whole frames around them, as does a delete's seam where the frames allow no exact one (a notice "
    "says how far); other formats are re-encoded.";
inline constexpr const char* kOurSite = "Our Site";
inline constexpr const char* kEmail = "Email";
inline constexpr const char* kNews = "News";

inline constexpr const char* kHintPrelisten = "Listen to what will be saved";
inline constexpr const char* kHintAddFile = "Add File...";
inline constexpr const char* kHintSaveFile = "Save File...";
inline constexpr const char* kHintEditMark = "Click to type the time (00:01:02.345, 1:02.345 or milliseconds)";

// ---- Keys: the window's shortcuts, and how the tool tips name them ----------------------------
inline constexpr const char* kKeyPlayPause = "Space";
inline constexpr const char* kKeyGotoFirst = "Home";
inline constexpr const char* kKeyGotoEnd = "End";
inline constexpr const char* kKeysCutStart = "I;[";
inline constexpr const char* kKeysCutEnd = "O;]";
inline constexpr const char* kKeySelectAudio = "S";
inline constexpr const char* kKeyDeleteAudio = "D";
inline constexpr const char* kKeyPrelisten = "P";
inline constexpr const char* kKeyAddFile = "Ctrl+O";
inline constexpr const char* kKeySaveFile = "Ctrl+S";
inline constexpr const char* kKeyStopSave = "Esc";
// Arrow steps in µs: plain, with Shift and with Ctrl.
inline constexpr long long kStepPlain = 1000000;
inline constexpr long long kStepShift = 10000000;
inline constexpr long long kStepCtrl = 10000;
// Least time between two seeks handed to the player (ms).
inline constexpr int kSeekSpacing = 200;
// Prelisten in delete mode: heard before the start mark and after the end mark (µs).
inline constexpr long long kPrelistenSpan = 2000000;

// ---- Dialogs ---------------------------------------------------------------------------------
inline constexpr const char* kInputFilter = "Audio Files|*.MP3;*.AAC;*.WAV;*.WMA;*.OGG;*.OGA;*.OPUS;*.FLAC;*.M4A;|All Files|*.*";
inline constexpr const char* kWarningCaption = "Warning";
inline constexpr const char* kInformationCaption = "Information";
inline constexpr const char* kConfirmCaption = "Confirm";

// ---- Messages --------------------------------------------------------------------------------
inline constexpr const char* kEndBeforeStart =
    "The ending point shall be after the starting point. Please reset.";
inline constexpr const char* kBadTypedTime =
    "Please type a time such as 00:01:02.345, 1:02.345 or a number of milliseconds.";
// "%s" is the typed time, the second "%s" the file's duration.
inline constexpr const char* kTimeAfterEnd = "%s is after the end of the file (%s).";
// "%s" is the folder.
inline constexpr const char* kCannotOpenFolder = "%s: the desktop cannot open this folder.";

} // namespace UnitConst
