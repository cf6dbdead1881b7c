// Texts, captions and addresses of the main window, in one place so that tests can name them.
#pragma once

namespace UnitConst {

// ---- Program ----------------------------------------------------------------------------------
inline constexpr const char* kAppTitle = "Tamsel Free Clipwell";
inline constexpr const char* kCaptionFormat = "Tamsel Free Clipwell %s";
inline constexpr const char* kAppVersion = "1.0";
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
inline constexpr const char* kOurSite = "Our Site";
inline constexpr const char* kEmail = "Email";
inline constexpr const char* kNews = "News";

// ---- Dialogs ---------------------------------------------------------------------------------
inline constexpr const char* kInputFilter = "Audio Files|*.MP3;*.AAC;*.WAV;*.WMA;*.OGG;|All Files|*.*";
inline constexpr const char* kWarningCaption = "Warning";
inline constexpr const char* kInformationCaption = "Information";
inline constexpr const char* kConfirmCaption = "Confirm";

// ---- Messages --------------------------------------------------------------------------------
inline constexpr const char* kEndBeforeStart =
    "The ending point shall be after the starting point. Please reset.";

} // namespace UnitConst
