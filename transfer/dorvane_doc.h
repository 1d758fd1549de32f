#pragma once
// CDorvaneDoc: the document core. It owns the two links, the protocol engine
// and the transport worker; it keeps the handheld's file list, connects
// (port search or USB), and runs the file commands on the handheld. It never
// touches a window: it reports through IDocFrontEnd.
//
// Threads: every public member is called on the user-interface thread (the
// command line's main thread). The worker's callbacks run on the worker
// thread; they change the device list under its lock, set the "CONNECT"
// event and post to the front end. While a command runs, the user-interface
// thread is inside the front end's modal progress dialog or event wait.

#include <atomic>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "convert/file_output.h"
#include "link/serial.h"
#include "link/usb.h"
#include "protocol/protocol_stp10.h"
#include "transfer/event.h"
#include "transfer/front_end.h"
#include "transfer/listing.h"
#include "transfer/settings_file.h"
#include "transfer/transport.h"

namespace dorvane {

/// The document's own error codes (the handheld's pass through unchanged).
namespace doc_error {
inline constexpr int kNotConnected = 240;
inline constexpr int kStartFailed = 241;  ///< the worker could not start (link would not open)
inline constexpr int kNoSuchFile = 242;
inline constexpr int kCancelled = static_cast<int>(0xF0F0F0F0);  ///< stop without an error
}  // namespace doc_error

/// The text of an error code, in the current language.
std::string DeviceErrorText(int code);

/// "Could not save into the folder <folder>: <cause>" in the current language.
std::string SaveFailedText(const std::string& folder, WriteError error);

class CDorvaneDoc {
public:
    struct Options {
        /// Settings file; empty for DefaultSettingsPath().
        std::filesystem::path settingsPath;
        /// The machine's serial ports in search order; empty for the serial
        /// link's own list (/sys/class/tty).
        std::function<std::vector<std::string>()> portList;
        /// Longest wait for a listing, and for the deletes to finish (ms).
        int listingWaitMs = 60000;
        int deleteWaitMs = 10000;
        /// Time-out of one listing request (ms).
        int listingTimeoutMs = 3000;
        /// USB configuration; the environment's when unset.
        std::optional<UsbConfig> usb;
        /// Read and write the settings file (off in some tests).
        bool persistSettings = true;
    };

    explicit CDorvaneDoc(IDocFrontEnd& frontEnd);
    CDorvaneDoc(IDocFrontEnd& frontEnd, Options options);
    ~CDorvaneDoc();
    CDorvaneDoc(const CDorvaneDoc&) = delete;
    CDorvaneDoc& operator=(const CDorvaneDoc&) = delete;

    // ---- Settings ----
    void LoadSettings();
    void SaveSettings();
    const LinkSettings& Settings() const { return settings_; }
    /// Puts back settings taken from Settings() (a front end whose options
    /// were for one run only), so that SaveSettings writes them.
    void RestoreSettings(const LinkSettings& settings) { settings_ = settings; }
    void SetLinkType(LinkType t) { settings_.linkType = t; }
    LinkType GetLinkType() const { return settings_.linkType; }
    void SetBaud(int baud) { settings_.baud = baud; }
    /// The folder downloads go into (UTF-8 path).
    void SetComputerFolder(const std::string& folder) { settings_.computerFolder = folder; }
    const std::string& ComputerFolder() const { return settings_.computerFolder; }
    /// 701 converts tracks and areas on download; anything else stores bytes as received.
    void SetModelCode(int code) { modelCode_ = code; }
    int ModelCode() const { return modelCode_; }

    // ---- Connection ----
    /// Puts `port` in front of the search; with `only`, it is the only port tried.
    void SetPreferredPort(const std::string& port, bool only);
    bool Connect();
    void Disconnect();
    /// Lists the handheld; returns the connected flag.
    bool ListDevice();
    bool IsConnected() const { return connected_; }
    /// The machine's ports in search order.
    std::vector<std::string> PortList() const;
    /// A text that explains why the last link could not be opened (the
    /// permission advice, a port another program holds, line settings the
    /// port refused; one line each), or empty.
    std::string LinkProblem() const;
    /// True when the last Connect found no handheld and a port it tried was
    /// held by another program (LinkProblem names the port and the holder).
    bool PortInUse() const;
    /// What the user should check when a search found nothing (NoDeviceChecklist
    /// for the ports of the search and the USB id in use), in the current language.
    std::string NoDeviceAdvice() const;

    // ---- Device list and selection ----
    std::vector<DeviceFileEntry> DeviceFiles() const;
    void ClearSelection();
    /// Marks the first entry whose name equals `name` byte for byte.
    bool SelectByName(const std::string& name);
    bool IsSelected(const std::string& name) const;
    /// Replaces the time of the first entry named `name` (the device pane
    /// gives an entry without a plausible time the time of its fill). False
    /// when there is no such entry.
    bool SetEntryTime(const std::string& name, std::int64_t mtime);
    bool NoneSelected() const;

    // ---- Commands ----
    /// Copies (or moves) the marked entries into the computer folder.
    /// 1 when the transfer ran, 0 otherwise.
    int CopyFromDevice(bool move);
    /// Fetches the handheld's file `deviceName` into memory only (a preview):
    /// nothing is written to the computer and the device listing's marks stay
    /// as they are. The transfer runs on the worker thread while the caller
    /// (the GUI thread) sits in the progress dialog's modal loop, as in a
    /// copy. The bytes held are bounded as in a copy (twice the listed size
    /// plus a slack); blocks that claim more are refused, and a handheld that
    /// keeps lying fails with kErrorBadBlocks. Returns the bytes, or nullopt when not connected,
    /// the name is not in the listing (kNoSuchFile), on cancel, time-out or
    /// a device error (LastError says which; errors are posted to the front end).
    std::optional<std::vector<std::uint8_t>> FetchIntoMemory(const std::string& deviceName);
    /// Sends computer files (UTF-8 paths) to the handheld under their names.
    void CopyToDevice(const std::vector<std::string>& paths);
    /// Deletes the marked entries on the handheld.
    void DeleteSelected();

    /// The last error code a command reported (0 when it succeeded).
    int LastError() const { return lastError_; }
    /// Detail of the last local failure (a file that could not be written or read).
    std::string LastLocalProblem() const;
    /// The files the downloads since the last call wrote (UTF-8 paths), and forgets them.
    std::vector<std::string> TakeWrittenFiles();
    /// The handheld's names (raw bytes) that deletes since the last call
    /// removed, confirmed by the handheld, and forgets them.
    std::vector<std::string> TakeDeletedFiles();
    /// DeviceErrorText(code), followed for a local read or write failure by
    /// the line that names the file or folder and the cause.
    std::string ErrorText(int code) const;

    CTransport& Transport() { return transport_; }
    CProtocol_STP10& Engine() { return engine_; }
    CSerial& Serial() { return serial_; }
    CUsb& Usb() { return usb_; }

private:
    int OnData(std::vector<std::uint8_t>&& bytes, const TransferJob& job);
    void OnStop(int code, const TransferJob& job);
    void InstallProgress(bool on);
    void Accept(std::initializer_list<std::uint8_t> ops);
    bool Accepted(std::uint8_t op) const;
    void ShowSearch();
    /// Waits (through the front end, windows painted) at most `ms` for the
    /// "CONNECT" event of the running command; true when it was set. While
    /// connected the status bar says that the program waits for the handheld.
    bool WaitForHandheld(int ms);
    /// Lets a run that is still going end (at most CTransport::kFinishWaitMs,
    /// waiting through the front end), stops it if it does not, and empties
    /// the queue.
    void EndEarlierRun();
    /// Opens `port` at `baud` and lists; never throws for the link: refused
    /// line settings, a busy port or a refused permission become a line of
    /// LinkProblem and false.
    bool TrySerial(const std::string& port, int baud);
    void AddLinkProblem(const std::string& text);
    void SetLocalProblem(const std::string& text);
    void EndCommand();

    IDocFrontEnd& fe_;
    Options options_;
    CSerial serial_;
    CUsb usb_;
    CProtocol_STP10 engine_;
    CTransport transport_;

    LinkSettings settings_;
    std::filesystem::path settingsPath_;
    std::string preferredPort_;
    bool preferredOnly_ = false;
    int modelCode_ = 0;
    // Where the running copy stores, and for which model: set before the
    // worker starts, read only by it (the GUI may change the two above).
    std::string runFolder_;
    int runModelCode_ = 0;
    std::atomic<bool> connected_{false};
    CEvent connectEvent_{true};
    std::atomic<int> lastError_{0};

    mutable std::mutex m_;  // guards the list, the accepted set and the problem texts
    std::deque<DeviceFileEntry> files_;
    std::set<std::uint8_t> accepted_;
    std::string linkProblem_;
    std::string localProblem_;
    // The ports the last Connect tried, in order, and whether one was held by
    // another program (GUI thread only, like Connect).
    std::vector<std::string> triedPorts_;
    bool portInUse_ = false;
    std::vector<std::string> written_;
    std::vector<std::string> deleted_;
    std::atomic<bool> previewing_{false};  ///< fetched bytes go to preview_, not to disk
    std::optional<std::vector<std::uint8_t>> preview_;
};

}  // namespace dorvane
