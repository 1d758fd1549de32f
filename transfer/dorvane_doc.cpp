#include "transfer/dorvane_doc.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

#include "convert/download.h"
#include "i18n/string_table.h"
#include "names/encoding.h"
#include "names/file_names.h"
#include "names/shown_name.h"
#include "transfer/text_format.h"
#include "transfer/usb_setting.h"

namespace dorvane {

namespace {
using namespace wire::cmd;
/// Pause after stopping a cancelled transfer, so the cancel frame leaves the line.
constexpr auto kAfterCancel = std::chrono::milliseconds(100);
/// The handheld's error code for a GMT file it will not receive.
constexpr int kErrorGmtRefused = 48;
/// Longest wait for a worker that was started with nothing to do.
constexpr int kEmptyRunWaitMs = 5000;
/// A fetched file may claim at most twice its listed size plus this: a
/// track still being recorded grows between the listing and the fetch, but
/// a claim beyond that is a lie, and must not make the computer wait for
/// (or hold) megabytes that will never come.
constexpr std::uint64_t kListedSizeSlack = 1024 * 1024;

/// The most a fetch of a file listed with `listedSize` bytes may receive.
std::uint64_t ReceiveLimitFor(std::uint32_t listedSize) {
    return 2 * static_cast<std::uint64_t>(listedSize) + kListedSizeSlack;
}
}  // namespace

std::string DeviceErrorText(int code) {
    switch (code) {
        case 0:
            return Text(StringId::RES_GLOBAL_STRING_RES_ERR_MSG_NULL_1);
        case 1:
        case doc_error::kNoSuchFile:
            return Text(StringId::RES_GLOBAL_STRING_RES_ERR_FILE_NOT_EXIST);
        case 2:
            return Text(StringId::RES_GLOBAL_STRING_RES_ERR_MSG_FILEBUSY);
        case 3:
            return Text(StringId::RES_GLOBAL_STRING_RES_ERR_MSG_FILEUNKNOW);
        case 4:
            return Text(StringId::RES_GLOBAL_STRING_RES_ERR_MSG_FILEEXIST);
        case 5:
            return Text(StringId::RES_GLOBAL_STRING_RES_ERR_MSG_WPTISFULL);
        case 6:
            return Text(StringId::RES_GLOBAL_STRING_RES_ERROR_NOSPACE);
        case transport_error::kTimeout:
            return Text(StringId::RES_GLOBAL_STRING_RES_ERR_MSG_TIMEOUT);
        case transport_error::kLocalWriteFailed:
            return Text(StringId::RES_GLOBAL_STRING_RES_ERR_LOCAL_WRITE);
        case transport_error::kLocalReadFailed:
            return Text(StringId::RES_GLOBAL_STRING_RES_ERR_LOCAL_READ);
        case kErrorGmtRefused:
            return Text(StringId::RES_CMAINFRAME_ERROR_DONT_SUPPORT_DOWNLOAD_GMT);
        case kErrorFileTooLarge:
            return Text(StringId::RES_CORE2_FILE_TOO_LARGE);
        case transport_error::kDisconnected:
            return Text(StringId::RES_FAULTS_DISCONNECTED);
        case kErrorBadBlocks:
            return Text(StringId::RES_FAULTS_BAD_DATA);
        case doc_error::kNotConnected:
        case doc_error::kStartFailed:
            return Text(StringId::RES_GLOBAL_STRING_RES_GPS_CONNECT_ERROR);
        default:
            return Text(StringId::RES_GLOBAL_STRING_RES_ERR_OTHER);
    }
}

std::string SaveFailedText(const std::string& folder, WriteError error) {
    StringId cause = StringId::RES_FAULTS_CAUSE_IO;
    switch (error) {
        case WriteError::kDiskFull:
            cause = StringId::RES_FAULTS_CAUSE_DISK_FULL;
            break;
        case WriteError::kTooLarge:
            cause = StringId::RES_FAULTS_CAUSE_TOO_LARGE;
            break;
        case WriteError::kPermissionDenied:
            cause = StringId::RES_FAULTS_CAUSE_PERMISSION;
            break;
        case WriteError::kFolderMissing:
            cause = StringId::RES_FAULTS_CAUSE_FOLDER_MISSING;
            break;
        case WriteError::kNoFreeName:
            cause = StringId::RES_FAULTS_CAUSE_NO_FREE_NAME;
            break;
        case WriteError::kNone:
        case WriteError::kIoError:
            break;
    }
    return FormatText(Text(StringId::RES_FAULTS_SAVE_FAILED), folder, Text(cause));
}

CDorvaneDoc::CDorvaneDoc(IDocFrontEnd& frontEnd) : CDorvaneDoc(frontEnd, Options{}) {}

CDorvaneDoc::CDorvaneDoc(IDocFrontEnd& frontEnd, Options options)
    : fe_(frontEnd),
      options_(std::move(options)),
      usb_(options_.usb ? *options_.usb : UsbConfigFromEnvironment()) {
    settingsPath_ = options_.settingsPath.empty() ? DefaultSettingsPath() : options_.settingsPath;
    // The id the user set with `dorvane-cli --usb-id` (beside the settings).
    if (!options_.usb) usb_.Configure(UserUsbConfig(UsbIdPathFor(settingsPath_)));
    transport_.SetDataCallback([this](std::vector<std::uint8_t>&& b, const TransferJob& j) {
        return OnData(std::move(b), j);
    });
    transport_.SetStopCallback([this](int code, const TransferJob& j) { OnStop(code, j); });
    transport_.SetFinishedCallback([this] {
        // A run can end without a job's result closing the dialog (an empty
        // queue, a failure the handheld reported with code 0): close it then.
        if (fe_.ProgressVisible()) fe_.PostWaitClose(0, WaitCloseKind::kFinished);
    });
    if (options_.persistSettings)
        LoadSettings();
    else
        settings_ = LoadSettingsFile({}, PortList());
    transport_.SetProtocol(&engine_);
    transport_.SetLink(&serial_);
    Accept({});
    serial_.Close();
    usb_.Close();
}

CDorvaneDoc::~CDorvaneDoc() {
    transport_.Stop();
    if (options_.persistSettings) SaveSettings();
}

void CDorvaneDoc::LoadSettings() {
    settings_ = LoadSettingsFile(settingsPath_, PortList());
}

void CDorvaneDoc::SaveSettings() {
    SaveSettingsFile(settingsPath_, settings_);
}

std::string CDorvaneDoc::LastLocalProblem() const {
    std::lock_guard lock(m_);
    return localProblem_;
}

std::vector<std::string> CDorvaneDoc::TakeWrittenFiles() {
    std::lock_guard lock(m_);
    return std::exchange(written_, {});
}

std::vector<std::string> CDorvaneDoc::TakeDeletedFiles() {
    std::lock_guard lock(m_);
    return std::exchange(deleted_, {});
}

std::string CDorvaneDoc::ErrorText(int code) const {
    std::string text = DeviceErrorText(code);
    if (code == transport_error::kLocalWriteFailed || code == transport_error::kLocalReadFailed) {
        const std::string problem = LastLocalProblem();
        if (!problem.empty()) text += "\n" + problem;
    }
    return text;
}

void CDorvaneDoc::EndCommand() {
    // A pulled cable leaves nothing to talk to: show the handheld as gone,
    // so that Connect is offered again.
    if (lastError_ == transport_error::kDisconnected) Disconnect();
}

void CDorvaneDoc::SetLocalProblem(const std::string& text) {
    std::lock_guard lock(m_);
    localProblem_ = text;
}

void CDorvaneDoc::Accept(std::initializer_list<std::uint8_t> ops) {
    std::lock_guard lock(m_);
    accepted_.clear();
    accepted_.insert(ops.begin(), ops.end());
}

bool CDorvaneDoc::Accepted(std::uint8_t op) const {
    std::lock_guard lock(m_);
    return accepted_.count(op) != 0;
}

void CDorvaneDoc::InstallProgress(bool on) {
    if (!on) {
        engine_.SetProgressCallback(nullptr);
        return;
    }
    engine_.SetProgressCallback([this](const ProgressInfo& p) {
        if (!fe_.ProgressVisible()) return;
        ProgressInfo shown = p;
        shown.name = ShownDeviceName(p.name);
        fe_.PostWaitProgress(shown);
    });
}

// ---- Device list -------------------------------------------------------------

std::vector<DeviceFileEntry> CDorvaneDoc::DeviceFiles() const {
    std::lock_guard lock(m_);
    return {files_.begin(), files_.end()};
}

void CDorvaneDoc::ClearSelection() {
    std::lock_guard lock(m_);
    for (auto& e : files_) e.selected = false;
}

bool CDorvaneDoc::SelectByName(const std::string& name) {
    std::lock_guard lock(m_);
    for (auto& e : files_) {
        if (e.name == name) {
            e.selected = true;
            return true;
        }
    }
    return false;
}

bool CDorvaneDoc::IsSelected(const std::string& name) const {
    std::lock_guard lock(m_);
    for (const auto& e : files_)
        if (e.name == name) return e.selected;
    return false;
}

bool CDorvaneDoc::SetEntryTime(const std::string& name, std::int64_t mtime) {
    std::lock_guard lock(m_);
    for (auto& e : files_) {
        if (e.name == name) {
            e.mtime = mtime;
            return true;
        }
    }
    return false;
}

bool CDorvaneDoc::NoneSelected() const {
    std::lock_guard lock(m_);
    return std::none_of(files_.begin(), files_.end(),
                        [](const DeviceFileEntry& e) { return e.selected; });
}

// ---- Commands ----------------------------------------------------------------

int CDorvaneDoc::CopyFromDevice(bool move) {
    if (!connected_ || NoneSelected()) return 0;
    lastError_ = 0;
    SetLocalProblem("");
    EndEarlierRun();
    Accept({kFetch, kDelete});
    for (const auto& e : DeviceFiles()) {
        if (!e.selected) continue;
        transport_.AddJob(kFetch, e.name, "", ReceiveLimitFor(e.size));
        if (move) transport_.AddJob(kDelete, e.name, "");
    }
    InstallProgress(true);
    // The previous run (the listing) may still be sending its closing frame:
    // let it end before the dialog opens, so its end cannot close this dialog.
    transport_.Stop();
    // The worker stores into this run's folder: a copy taken now, while no
    // worker runs, so the computer pane may move on during the run.
    runFolder_ = settings_.computerFolder;
    runModelCode_ = modelCode_;
    fe_.OpenProgressDialog();
    if (!transport_.Start()) {
        fe_.AbortProgressDialog();
        lastError_ = doc_error::kStartFailed;
        fe_.PostDeviceError(doc_error::kStartFailed);
        InstallProgress(false);
        return 0;
    }
    if (fe_.RunProgressDialog() == DialogResult::kCancel) {
        transport_.Stop();
        std::this_thread::sleep_for(kAfterCancel);
        if (lastError_ == 0) lastError_ = doc_error::kCancelled;
    } else {
        fe_.Beep();
    }
    InstallProgress(false);
    fe_.RelayToPanes(hint::kDeviceList | hint::kPcRelist);
    EndCommand();
    return 1;
}

std::optional<std::vector<std::uint8_t>> CDorvaneDoc::FetchIntoMemory(
    const std::string& deviceName) {
    if (!connected_) return std::nullopt;
    lastError_ = 0;
    SetLocalProblem("");
    std::optional<std::uint32_t> listed;
    for (const auto& e : DeviceFiles())
        if (e.name == deviceName) listed = e.size;
    if (!listed) {
        lastError_ = doc_error::kNoSuchFile;
        fe_.PostDeviceError(doc_error::kNoSuchFile);
        return std::nullopt;
    }
    EndEarlierRun();
    Accept({kFetch});
    {
        std::lock_guard lock(m_);
        preview_.reset();
    }
    previewing_ = true;
    // The same bound as a copy: whatever a block header announces, the
    // bytes held stay within what the listing makes plausible.
    transport_.AddJob(kFetch, deviceName, "", ReceiveLimitFor(*listed));
    InstallProgress(true);
    transport_.Stop();
    auto endPreview = [this] {
        InstallProgress(false);
        // The run has ended (or was stopped): no further block can arrive.
        transport_.Stop();
        previewing_ = false;
    };
    fe_.OpenProgressDialog();
    if (!transport_.Start()) {
        fe_.AbortProgressDialog();
        lastError_ = doc_error::kStartFailed;
        fe_.PostDeviceError(doc_error::kStartFailed);
        endPreview();
        return std::nullopt;
    }
    if (fe_.RunProgressDialog() == DialogResult::kCancel) {
        transport_.Stop();
        std::this_thread::sleep_for(kAfterCancel);
        if (lastError_ == 0) lastError_ = doc_error::kCancelled;
    }
    endPreview();
    std::lock_guard lock(m_);
    if (lastError_ != 0) return std::nullopt;
    return std::exchange(preview_, std::nullopt);
}

void CDorvaneDoc::CopyToDevice(const std::vector<std::string>& paths) {
    lastError_ = 0;
    SetLocalProblem("");
    EndEarlierRun();
    Accept({kUpload});
    for (const std::string& path : paths) {
        if (!FileExists(path)) continue;
        // The handheld speaks GBK: the whole name (extension included) goes
        // over in GBK, and a name GBK cannot hold is not sent.
        const std::string name = FileNameWithExtension(path);
        const std::optional<std::string> gbk = Utf8ToGbk(name);
        if (!gbk || gbk->empty()) {
            SetLocalProblem(FormatText(Text(StringId::RES_CORE2_NAME_NOT_GBK), name));
            lastError_ = transport_error::kLocalReadFailed;
            continue;
        }
        transport_.AddNamedJob(kUpload, path, *gbk);
    }
    InstallProgress(true);
    const bool dialog = transport_.JobCount() > 0;
    transport_.Stop();
    if (dialog) fe_.OpenProgressDialog();
    if (!transport_.Start()) {
        // The Windows program left its dialog up waiting for Cancel here;
        // the message box alone says it all.
        if (dialog) fe_.AbortProgressDialog();
        lastError_ = doc_error::kStartFailed;
        fe_.ShowError(Text(StringId::RES_CDORVANEDOC_MESSAGE03));
        InstallProgress(false);
        return;
    }
    if (!dialog) {
        // Nothing to send: the run only greets the handheld and closes.
        transport_.Join(kEmptyRunWaitMs);
    } else if (fe_.RunProgressDialog() == DialogResult::kCancel) {
        transport_.Stop();
        std::this_thread::sleep_for(kAfterCancel);
        if (lastError_ == 0) lastError_ = doc_error::kCancelled;
    }
    InstallProgress(false);
    fe_.RelayToPanes(hint::kDeviceList | hint::kPcRelist);
    EndCommand();
}

void CDorvaneDoc::DeleteSelected() {
    lastError_ = 0;
    Accept({kDelete, kDeleteEx, kDeleteEx2});
    fe_.SetBusyCursor(true);
    EndEarlierRun();
    connectEvent_.Reset();  // after the earlier run, which may still set it
    for (const auto& e : DeviceFiles())
        if (e.selected) transport_.AddJob(kDelete, e.name, "");
    if (!transport_.Start()) {
        lastError_ = doc_error::kStartFailed;
        fe_.PostDeviceError(doc_error::kStartFailed);
        fe_.SetBusyCursor(false);
        return;
    }
    WaitForHandheld(options_.deleteWaitMs);
    connectEvent_.Reset();
    fe_.RelayToPanes(hint::kDeviceList);
    fe_.SetBusyCursor(false);
    EndCommand();
}

// ---- Worker callbacks (worker thread) --------------------------------------

int CDorvaneDoc::OnData(std::vector<std::uint8_t>&& bytes, const TransferJob& job) {
    if (!Accepted(job.code)) return 0;
    switch (job.code) {
        case kFetch:
        case kFetchEx: {
            if (previewing_) {
                {
                    std::lock_guard lock(m_);
                    preview_ = std::move(bytes);
                }
                if (fe_.ProgressVisible()) fe_.PostWaitClose(0, WaitCloseKind::kFinished);
                return 0;
            }
            const StoreResult r = StoreDownload(bytes, GbkToUtf8Lossy(job.deviceName),
                                                runFolder_, runModelCode_);
            if (!r.ok()) {
                // The file is not safely on the computer: end the run here so
                // that a move never deletes it on the handheld.
                SetLocalProblem(SaveFailedText(runFolder_, r.error));
                return transport_error::kLocalWriteFailed;
            }
            {
                std::lock_guard lock(m_);
                for (const auto& p : r.written) written_.push_back(p.string());
                for (auto& e : files_) {
                    if (e.name == job.deviceName) {
                        e.selected = false;
                        break;
                    }
                }
            }
            fe_.RelayToPanes(hint::kDeviceSelect);
            if (transport_.IsLastJob() && fe_.ProgressVisible())
                fe_.PostWaitClose(0, WaitCloseKind::kFinished);
            return 0;
        }
        case kList:
        case kListEx: {
            if (auto entries = ParseListing(bytes)) {
                std::lock_guard lock(m_);
                files_.assign(entries->begin(), entries->end());
            }
            connected_ = true;
            connectEvent_.Set();
            return 0;
        }
        case kDelete:
        case kDeleteEx:
        case kDeleteEx2: {
            bool anySelected;
            {
                std::lock_guard lock(m_);
                const std::string name = FileNameWithExtension(job.deviceName);
                auto it = std::find_if(files_.begin(), files_.end(),
                                       [&](const DeviceFileEntry& e) { return e.name == name; });
                if (it != files_.end()) {
                    deleted_.push_back(it->name);
                    files_.erase(it);
                }
                anySelected = std::any_of(files_.begin(), files_.end(),
                                          [](const DeviceFileEntry& e) { return e.selected; });
            }
            if (!anySelected) {
                fe_.RelayToPanes(hint::kDeviceList);
                connectEvent_.Set();
                if (fe_.ProgressVisible()) fe_.PostWaitClose(0, WaitCloseKind::kFinished);
            }
            return 0;
        }
        case kUpload:
            if (transport_.IsLastJob()) {
                fe_.PostWaitClose(0, WaitCloseKind::kFinished);
                fe_.RelayToPanes(hint::kDeviceRoot);
            }
            return 0;
        default:
            connectEvent_.Set();
            return 0;
    }
}

void CDorvaneDoc::OnStop(int code, const TransferJob& job) {
    // Job code 0 (no job: the handshake of an empty queue) and the worker's
    // exception record (code 87) end the whole run; every other job is one
    // of the current command's or a stale one, ignored like its data.
    const bool runFailure =
        job.code == 0 || (job.code == kData && code == transport_error::kException);
    if (!runFailure && !Accepted(job.code)) return;
    if (code == 0 || code == doc_error::kCancelled) {
        if (fe_.ProgressVisible()) fe_.PostWaitClose(0, WaitCloseKind::kFailed);
        return;
    }
    lastError_ = code;
    if (job.code == kData && code == transport_error::kException) {
        if (Accepted(kList)) {
            // A listing that broke off: not connected any more.
            connected_ = false;
        } else if (fe_.ProgressVisible()) {
            // A copy that broke off closes its dialog with the error shown,
            // never as finished.
            fe_.PostWaitClose(code, WaitCloseKind::kFailed);
            return;
        } else {
            fe_.PostDeviceError(code);
        }
        connectEvent_.Set();
        return;
    }
    switch (job.code) {
        case 0:
        case kList:
        case kListEx:
            connected_ = false;
            connectEvent_.Set();
            return;
        case kFetch:
        case kFetchEx:
            if (fe_.ProgressVisible()) fe_.PostWaitClose(code, WaitCloseKind::kFailed);
            return;
        case kDelete:
        case kDeleteEx:
        case kDeleteEx2:
            if (fe_.ProgressVisible()) {
                fe_.PostWaitClose(code, WaitCloseKind::kFailed);
            } else {
                {
                    std::lock_guard lock(m_);
                    for (auto& e : files_) {
                        if (e.name == job.deviceName) {
                            e.selected = false;
                            break;
                        }
                    }
                }
                // Post before waking the waiter, so the error is on its way
                // when the delete command returns.
                fe_.PostDeviceError(code);
                connectEvent_.Set();
            }
            return;
        case kUpload:
            fe_.PostWaitClose(code, WaitCloseKind::kFailed);
            return;
        default:
            connectEvent_.Set();
            return;
    }
}

}  // namespace dorvane
