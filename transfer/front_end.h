#pragma once
// What the document core asks of a front end. The document never touches a
// window: where the desktop program posts a window message, shows a box, sets
// a cursor or runs a modal dialog, the document calls this interface. The Qt
// front end turns every call into a queued call on the GUI thread; the
// command line prints and waits.

#include <cstdint>
#include <string>

#include "protocol/protocol.h"

namespace dorvane {

class CEvent;

/// Private message numbers of the desktop program (kept for the front ends).
namespace msg {
inline constexpr unsigned kPaneUpdate = 0x465;     ///< WM_PANE_UPDATE: a pane runs OnUpdate(hint)
inline constexpr unsigned kRelayToPanes = 0x466;   ///< WM_RELAY_TO_PANES: the frame relays a hint
inline constexpr unsigned kWaitClose = 0x467;      ///< WM_WAIT_CLOSE: the progress dialog closes
inline constexpr unsigned kWaitProgress = 0x468;   ///< WM_WAIT_PROGRESS: the progress dialog repaints
inline constexpr unsigned kDeviceError = 0x469;    ///< WM_DEVICE_ERROR: the frame shows an error
}  // namespace msg

/// Pane update hint bits.
namespace hint {
inline constexpr std::uint32_t kShowBusy = 0x0001;
inline constexpr std::uint32_t kHideBusy = 0x0002;
inline constexpr std::uint32_t kDelete = 0x0004;
inline constexpr std::uint32_t kLinkState = 0x0008;
inline constexpr std::uint32_t kDeviceList = 0x0010;
inline constexpr std::uint32_t kDeviceSelect = 0x0020;
inline constexpr std::uint32_t kPcRelist = 0x0100;
inline constexpr std::uint32_t kTitle = 0x0200;
inline constexpr std::uint32_t kUp = 0x0400;
inline constexpr std::uint32_t kDeviceRoot = 0x0800;
inline constexpr std::uint32_t kLanguage = 0x2000;
}  // namespace hint

/// How the progress dialog closes (lParam of WM_WAIT_CLOSE).
enum class WaitCloseKind : int { kFinished = 1, kFailed = 2 };

/// Result of the modal progress dialog.
enum class DialogResult : int { kOk = 1, kCancel = 2 };

/// Status-bar panes the document writes.
namespace status_pane {
inline constexpr int kMessage = 0;
inline constexpr int kPort = 3;
inline constexpr int kBaud = 4;
}  // namespace status_pane

class IDocFrontEnd {
public:
    virtual ~IDocFrontEnd() = default;

    // ---- Posted from any thread (the worker included); must not block. ----
    /// WM_RELAY_TO_PANES: every pane runs its update with `hints`.
    virtual void RelayToPanes(std::uint32_t hints) = 0;
    /// WM_DEVICE_ERROR: show DeviceErrorText(code); after 16 and 241 the
    /// front end calls CDorvaneDoc::Disconnect.
    virtual void PostDeviceError(int code) = 0;
    /// WM_WAIT_CLOSE to the progress dialog.
    virtual void PostWaitClose(int code, WaitCloseKind kind) = 0;
    /// The progress dialog's SetProgress followed by WM_WAIT_PROGRESS.
    virtual void PostWaitProgress(const ProgressInfo& progress) = 0;
    /// True while the progress dialog is shown.
    virtual bool ProgressVisible() const = 0;

    // ---- Called on the user-interface thread only. ----
    /// Shows the progress dialog (not yet modal) before the worker starts, so
    /// that no result of a quick run can miss it: from here ProgressVisible()
    /// is true and a close posted before RunProgressDialog is kept.
    virtual void OpenProgressDialog() = 0;
    /// Hides an opened dialog that will not run (the worker did not start).
    virtual void AbortProgressDialog() = 0;
    /// Runs the opened progress dialog modally until it is closed by
    /// PostWaitClose (at once when a close already came) or by the user's
    /// Cancel.
    virtual DialogResult RunProgressDialog() = 0;
    /// An error message box.
    virtual void ShowError(const std::string& text) = 0;
    virtual void SetStatusPane(int pane, const std::string& text) = 0;
    /// Waits for `event` at most `ms`, keeping the windows painted but taking
    /// no user input (input made meanwhile is dropped). True when it was set.
    virtual bool WaitForEvent(CEvent& event, int ms) = 0;
    virtual void SetBusyCursor(bool busy) = 0;
    /// The information sound after a finished copy.
    virtual void Beep() = 0;
};

}  // namespace dorvane
