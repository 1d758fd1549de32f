#include "transfer/dorvane_doc.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "i18n/string_table.h"
#include "link/permission.h"
#include "link/serial_ports.h"
#include "transfer/no_device_advice.h"
#include "transfer/text_format.h"
#include "transfer/usb_setting.h"

// The document's connection: the port list and its search over ports and
// rates, the serial and USB links, and the listing that proves a handheld
// is there. The file commands are in dorvane_doc.cpp.

namespace dorvane {

namespace {
using namespace wire::cmd;
/// How often a command looks whether an earlier run has ended.
constexpr int kRunPollMs = 20;
}  // namespace

// ---- Port search -----------------------------------------------------------

std::vector<std::string> CDorvaneDoc::PortList() const {
    std::vector<std::string> ports;
    if (options_.portList) {
        ports = options_.portList();
    } else {
        const auto list = serial_.PortList();
        ports.assign(list.begin(), list.end());
    }
    if (!preferredPort_.empty()) {
        if (preferredOnly_) return {preferredPort_};
        ports.erase(std::remove(ports.begin(), ports.end(), preferredPort_), ports.end());
        ports.insert(ports.begin(), preferredPort_);
    }
    return ports;
}

void CDorvaneDoc::SetPreferredPort(const std::string& port, bool only) {
    preferredPort_ = port;
    preferredOnly_ = only && !port.empty();
    if (!port.empty()) settings_.portName = port;
}

std::string CDorvaneDoc::LinkProblem() const {
    std::lock_guard lock(m_);
    return linkProblem_;
}

std::string CDorvaneDoc::NoDeviceAdvice() const {
    // The ports the last search tried; before any search, those it would try.
    std::vector<std::string> ports = triedPorts_;
    if (ports.empty() && settings_.linkType == LinkType::kSerial) {
        ports = PortList();
        if (std::find(ports.begin(), ports.end(), settings_.portName) == ports.end())
            ports.insert(ports.begin(), settings_.portName);
    }
    return NoDeviceChecklist(ports, usb_.Config());
}

bool CDorvaneDoc::PortInUse() const {
    // Only when nothing answered: a busy port beside the one found is no news.
    return portInUse_ && !connected_;
}

// ---- Connection ------------------------------------------------------------

bool CDorvaneDoc::ListDevice() {
    InstallProgress(false);
    fe_.RelayToPanes(hint::kShowBusy);
    fe_.SetBusyCursor(true);
    // Reset only after the earlier run has ended: an ending run may still
    // set the event, and this wait would then return at once.
    EndEarlierRun();
    connectEvent_.Reset();
    const int savedTimeout = transport_.GetTimeout();
    transport_.SetTimeout(options_.listingTimeoutMs);
    Accept({kList});
    transport_.AddJob(kList, "CONNECT", "");
    if (!transport_.Start()) {
        fe_.RelayToPanes(hint::kHideBusy);
        fe_.SetBusyCursor(false);
        transport_.SetTimeout(savedTimeout);
        return false;
    }
    if (!WaitForHandheld(options_.listingWaitMs)) {
        transport_.Stop();
        connected_ = false;
    }
    connectEvent_.Reset();
    fe_.RelayToPanes(hint::kHideBusy | hint::kDeviceList);
    fe_.SetBusyCursor(false);
    transport_.SetTimeout(savedTimeout);
    return connected_;
}

void CDorvaneDoc::EndEarlierRun() {
    // ClearJobs waits for a run that is ending by itself with the calling
    // thread blocked, up to two seconds: wait for it here through the front
    // end instead, which keeps the windows painted, then stop what is left.
    CEvent never(true);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(CTransport::kFinishWaitMs);
    while (transport_.IsRunning() && std::chrono::steady_clock::now() < deadline)
        fe_.WaitForEvent(never, kRunPollMs);
    if (transport_.IsRunning()) transport_.Stop();
    transport_.ClearJobs();
}

bool CDorvaneDoc::WaitForHandheld(int ms) {
    // A handheld that stopped answering is given all its retries, which take
    // long: the status bar says what the program waits for. (While a port is
    // searched, the search text stays.)
    const bool say = connected_;
    if (say) fe_.SetStatusPane(status_pane::kMessage, Text(StringId::RES_GUI2_WAITING_DEVICE));
    const bool set = fe_.WaitForEvent(connectEvent_, ms);
    if (say) fe_.SetStatusPane(status_pane::kMessage, "");
    return set;
}

void CDorvaneDoc::ShowSearch() {
    fe_.SetStatusPane(status_pane::kMessage, FormatText(Text(StringId::RES_CDORVANEDOC_MESSAGE01),
                                                        settings_.portName, settings_.baud));
}

bool CDorvaneDoc::TrySerial(const std::string& port, int baud) {
    const std::string path = SerialDevicePath(port);
    if (std::find(triedPorts_.begin(), triedPorts_.end(), port) == triedPorts_.end())
        triedPorts_.push_back(port);
    bool opened = false;
    try {
        opened = serial_.Open(port, baud) != 0;
    } catch (const LinkSettingsError& error) {
        // A driver that refuses the rate, or an adapter pulled while it
        // opened: this port is out, the search goes on.
        AddLinkProblem(FormatText(Text(StringId::RES_CDORVANEDOC_ERR_PORT_SETTINGS), path, baud,
                                  std::strerror(error.Errno())));
        return false;
    }
    if (opened) return ListDevice();
    if (serial_.LastError() == LinkError::PermissionDenied) {
        const PermissionAdvice advice = DescribePermissionProblem(path);
        AddLinkProblem(advice.joinable
                           ? FormatText(Text(StringId::RES_CDORVANEDOC_ERR_PORT_PERMISSION), path,
                                        advice.group)
                           : FormatText(Text(StringId::RES_CDORVANEDOC_ERR_PORT_PERMISSION_ROOT),
                                        path, advice.group, kUsualSerialGroup));
    } else if (serial_.LastError() == LinkError::Busy) {
        portInUse_ = true;
        const PortHolder& holder = serial_.Holder();
        AddLinkProblem(
            holder.pid == 0
                ? FormatText(Text(StringId::RES_CDORVANEDOC_ERR_PORT_BUSY), path)
                : FormatText(Text(StringId::RES_CDORVANEDOC_ERR_PORT_BUSY_HOLDER), path,
                             holder.pid, holder.program.empty() ? "?" : holder.program));
    }
    return false;
}

void CDorvaneDoc::AddLinkProblem(const std::string& text) {
    std::lock_guard lock(m_);
    // The search may meet the same refusal twice (the remembered port first).
    if (linkProblem_.find(text) != std::string::npos) return;
    if (!linkProblem_.empty()) linkProblem_ += '\n';
    linkProblem_ += text;
}

bool CDorvaneDoc::Connect() {
    if (connected_) return true;
    {
        std::lock_guard lock(m_);
        linkProblem_.clear();
    }
    triedPorts_.clear();
    portInUse_ = false;
    fe_.SetStatusPane(status_pane::kPort, "");
    fe_.SetStatusPane(status_pane::kBaud, "");
    // SetLink below waits for a run that is still ending with the thread blocked: wait
    // for it here through the front end, which keeps the windows painted.
    EndEarlierRun();
    transport_.SetRetries(1);
    if (settings_.linkType == LinkType::kSerial) {
        transport_.SetLink(&serial_);
        ShowSearch();
        TrySerial(settings_.portName, settings_.baud);
        std::optional<int> lastRate;
        // A port given alone (the command line's --port) is tried once.
        for (const std::string& port : preferredOnly_ ? std::vector<std::string>{} : PortList()) {
            for (int rate : kBaudRates) {
                if (connected_) break;
                if (port == settings_.portName && lastRate == rate) continue;
                settings_.portName = port;
                settings_.baud = rate;
                lastRate = rate;
                ShowSearch();
                TrySerial(port, rate);
            }
            if (connected_) break;
        }
    } else {
        transport_.SetLink(&usb_);
        if (usb_.Reopen()) {
            ListDevice();
        } else {
            if (usb_.LastError() == LinkError::PermissionDenied)
                AddLinkProblem(FormatText(Text(StringId::RES_CDORVANEDOC_ERR_USB_PERMISSION),
                                          UsbIdText(usb_.Config().vendorId, usb_.Config().productId)));
        }
    }
    fe_.RelayToPanes(hint::kHideBusy | hint::kLinkState | hint::kDeviceList);
    Accept({});
    if (!connected_) serial_.Close();
    if (connected_) {
        fe_.SetStatusPane(status_pane::kMessage, "");
        if (settings_.linkType == LinkType::kSerial) {
            fe_.SetStatusPane(status_pane::kPort, settings_.portName);
            fe_.SetStatusPane(status_pane::kBaud, std::to_string(settings_.baud));
        } else {
            fe_.SetStatusPane(status_pane::kPort, "");
            fe_.SetStatusPane(status_pane::kBaud, "USB");
        }
    } else {
        const std::string& text = Text(StringId::RES_CDORVANEDOC_MESSAGE02);
        fe_.SetStatusPane(status_pane::kMessage, text);
        const std::string problem = LinkProblem();
        std::string shown = problem.empty() ? text : text + "\n" + problem;
        // A port another program holds needs no checklist: the message says
        // who holds it.
        if (!PortInUse()) shown += "\n\n" + NoDeviceAdvice();
        fe_.ShowError(shown);
    }
    transport_.SetRetries(CTransport::kDefaultRetries);
    return connected_;
}

void CDorvaneDoc::Disconnect() {
    connected_ = false;
    fe_.SetStatusPane(status_pane::kPort, "");
    fe_.SetStatusPane(status_pane::kBaud, "");
    {
        std::lock_guard lock(m_);
        files_.clear();
    }
    serial_.Close();
    usb_.Close();
    fe_.RelayToPanes(hint::kLinkState | hint::kDeviceList);
}

}  // namespace dorvane
