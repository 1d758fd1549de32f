#pragma once
// Command ids of the desktop program. The program's own commands are numbered
// from 32771; exit, about, help and the view toggles keep the numbers the
// Windows framework gave them, so that the tables (tooltips, prompts, menu
// texts) are keyed the same way on both systems.

#include <QIcon>

namespace dorvane::cmd {

inline constexpr int kNewFolder = 32771;
inline constexpr int kStyleList = 32773;  ///< "摘要": list style
inline constexpr int kConnect = 32774;
inline constexpr int kCopy = 32775;
inline constexpr int kDiskSpace = 32780;
inline constexpr int kStyleReport = 32783;  ///< "全部": report style
inline constexpr int kHelp = 32784;
inline constexpr int kDelete = 32787;
inline constexpr int kMove = 32788;
inline constexpr int kDisconnect = 32789;
inline constexpr int kRename = 32790;
inline constexpr int kRefresh = 32792;
inline constexpr int kUp = 32800;
inline constexpr int kChinese = 32801;
inline constexpr int kEnglish = 32802;
/// The Linux program's setting "convert tracks and areas on download".
inline constexpr int kConvert = 32803;
/// Shows or hides the field view (map and figures of the selected file).
inline constexpr int kFieldView = 32804;
/// Chooses the field view's map tile source.
inline constexpr int kTileSource = 32805;
/// Fetches the selected handheld file into memory and shows it in the field view.
inline constexpr int kPreview = 32806;
/// The field ledger of the computer pane's selection (or its folder).
inline constexpr int kLedger = 32810;
/// Exports the computer pane's selected field and track files to a GIS format.
inline constexpr int kExportAs = 32811;
/// Opens the Book window (the season book: jobs, customers, bills, payments).
inline constexpr int kBook = 32812;
/// Adds the computer pane's selected files to the book.
inline constexpr int kAddToBook = 32813;
/// The setting "Add downloads to the book".
inline constexpr int kBookDownloads = 32814;
/// Sets the receiver's accuracy that the areas' bands are drawn with.
inline constexpr int kAccuracy = 32820;
inline constexpr int kSplit = 57653;  ///< framework: move the splitter divider
inline constexpr int kAbout = 57664;
inline constexpr int kExit = 57665;
inline constexpr int kToolbar = 59392;
inline constexpr int kStatusBar = 59393;
/// The framework's idle id: its prompt is "ready".
inline constexpr int kIdle = 57345;

}  // namespace dorvane::cmd

namespace dorvane {

/// The 16-pixel picture of a toolbar command (drawn here, so the menus and the
/// toolbar share it); a null icon for commands without a button. GUI thread.
QIcon CommandIcon(int commandId);

/// The pictures of the link selector: 0 serial port, 1 USB.
QIcon LinkIcon(int index);

/// The program's own icon (window and about box).
QIcon ProgramIcon();

}  // namespace dorvane
