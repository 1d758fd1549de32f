// dorvane-cli: the command-line front end of the document core.
//
//   dorvane-cli [--port NAME] [--usb PATH] [--baud N] [--timeout MS] COMMAND [ARGS]
//     ports                 the serial ports in search order, one a line
//     ls [--json]           connect and list: name TAB size TAB local time (or JSON)
//     get NAME... [-C DIR] [--model CODE]   copy from the handheld into DIR
//     mv NAME... [-C DIR] [--model CODE]    fetch each file, then delete it on the handheld
//     rm NAME...            delete on the handheld
//     put FILE...           send files to the handheld
//     convert FILE... [-C DIR]              convert track/area files on the computer
//     usb-devices           the attached USB devices with ids and bulk endpoints
//   --usb-id VVVV:PPPP remembers the handheld's USB id (alone, or before a command
//   that then runs over USB). -Code_Chi / -Code_Eng choose the language.
//   dorvane-cli --help | --version
//     info FILE... [--json]                 figures of track and field files
//     overlaps FILE|DIR... [-r] [--json]    fields that overlap
//     report FILE|DIR... [-r] [--from DATE] [--to DATE] [--csv OUT] [--pdf OUT] [--tiles URL|none]
//     [--force] export FILE... --to gpkg|shp|geojson|kml|dxf|csv -o OUT [--force]

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/startup/startup.h"
#include "cli/cli_args.h"
#include "cli/cli_front_end.h"
#include "cli/cli_help.h"
#include "cli/list_json.h"
#include "cli/cli_output.h"
#include "cli/convert_command.h"
#include "cli/usb_commands.h"
#include "cli/book_command.h"
#include "cli/export_command.h"
#include "cli/info_command.h"
#include "cli/overlaps_command.h"
#include "cli/report_command.h"
#include "convert/download.h"
#include "i18n/string_table.h"
#include "names/encoding.h"
#include "names/file_names.h"
#include "names/shown_name.h"
#include "transfer/dorvane_doc.h"
#include "transfer/text_format.h"
#include "transfer/usb_setting.h"

namespace fs = std::filesystem;
using namespace dorvane;
using namespace dorvane::cli;

namespace {

int Usage(const char* argv0) {
    Complain(FormatText(Text(StringId::RES_CLI_USAGE), argv0));
    Complain(Text(StringId::RES_CORE2_CLI_COMMANDS));
    Complain(Text(StringId::RES_CORE2_CLI_COMMAND_OPTIONS));
    Complain(Text(StringId::RES_CORE2_CLI_OPTIONS));
    return kExitUsage;
}

void OnSigint(int) {
    CCliFrontEnd::RequestCancel();
}

// The handheld's entry for a name typed by the user (the raw bytes, or as shown).
const DeviceFileEntry* FindEntry(const std::vector<DeviceFileEntry>& files, const std::string& typed) {
    for (const auto& e : files)
        if (e.name == typed) return &e;
    for (const auto& e : files)
        if (ShownName(e) == typed) return &e;
    return nullptr;
}

class Session {
public:
    Session(const Args& a, CCliFrontEnd& fe) : a_(a), fe_(fe), doc_(fe, MakeOptions(a)), loaded_(doc_.Settings()) {
        if (a.usb || a.usbId) {
            doc_.SetLinkType(LinkType::kUsb);
        } else {
            doc_.SetLinkType(LinkType::kSerial);
            if (a.port) doc_.SetPreferredPort(*a.port, true);
            else if (a.noSearch)
                doc_.SetPreferredPort(doc_.Settings().portName, true);
        }
        if (a.timeoutMs) doc_.Transport().SetTimeout(*a.timeoutMs);
        if (a.model) doc_.SetModelCode(*a.model);
    }

    // The options given are for this run only: the desktop program keeps its
    // link type, and only a port the search found replaces the remembered one
    // (the document saves the settings when it is destroyed, after this).
    ~Session() {
        LinkSettings keep = doc_.Settings();
        keep.linkType = loaded_.linkType;
        const bool searched = !a_.usb && !a_.usbId && !a_.port && doc_.IsConnected();
        if (!searched || keep.portName == loaded_.portName) {
            keep.portName = loaded_.portName;
            keep.baud = loaded_.baud;
        }
        doc_.RestoreSettings(keep);
    }

    CDorvaneDoc& Doc() { return doc_; }

    bool Connect() {
        fe_.SetQuiet(true);
        const bool ok = doc_.Connect();
        fe_.SetQuiet(false);
        if (!ok) {
            Complain(Text(StringId::RES_CLI_NO_DEVICE));
            const std::string problem = doc_.LinkProblem();
            if (!problem.empty()) Complain(problem);
            // A port another program holds: the line above says who; the
            // checklist would only send the user to the cable.
            if (!doc_.PortInUse()) Complain(doc_.NoDeviceAdvice());
        }
        return ok;
    }

    // Marks the named entries; complains about names the handheld lacks.
    bool Select(const std::vector<std::string>& names, std::vector<std::string>& raw) {
        bool allFound = true;
        const auto files = doc_.DeviceFiles();
        doc_.ClearSelection();
        for (const auto& n : names) {
            const DeviceFileEntry* e = FindEntry(files, n);
            if (!e) {
                Complain(FormatText(Text(StringId::RES_CLI_NO_SUCH_FILE), n));
                allFound = false;
                continue;
            }
            doc_.SelectByName(e->name);
            raw.push_back(e->name);
        }
        return allFound;
    }

    int ReportFailure() {
        const int code = doc_.LastError();
        if (code == transport_error::kLocalWriteFailed ||
            code == transport_error::kLocalReadFailed) {
            Complain(FormatText(Text(StringId::RES_CLI_ERROR), doc_.LastLocalProblem()));
        } else if (code != 0 && code != doc_error::kCancelled && fe_.ShownErrors() == 0) {
            Complain(FormatText(Text(StringId::RES_CLI_ERROR), DeviceErrorText(code)));
        }
        return kExitFailed;
    }

private:
    static CDorvaneDoc::Options MakeOptions(const Args& a) {
        CDorvaneDoc::Options o;
        if (a.usb) {
            UsbConfig u;
            u.fifoFolder = *a.usb;
            o.usb = u;
        } else if (a.usbId) {
            UsbConfig u;
            ParseUsbId(*a.usbId, u);
            o.usb = u;
        }
        if (a.timeoutMs) o.listingTimeoutMs = *a.timeoutMs;
        return o;
    }

    const Args& a_;
    CCliFrontEnd& fe_;
    CDorvaneDoc doc_;
    const LinkSettings loaded_;
};

int CmdLs(Session& s, const Args& a) {
    if (!s.Connect()) return kExitFailed;
    if (a.json) {
        Say(ListingJson(s.Doc().DeviceFiles()));
        return kExitOk;
    }
    for (const auto& e : s.Doc().DeviceFiles()) {
        char when[32] = "";
        const std::time_t t = static_cast<std::time_t>(e.mtime);
        std::tm tm{};
        if (localtime_r(&t, &tm)) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M", &tm);
        std::printf("%s\t%u\t%s\n", ShownName(e).c_str(), e.size, when);
    }
    return kExitOk;
}

int CmdGet(Session& s, const Args& a, bool move) {
    std::error_code ec;
    const fs::path dir = fs::absolute(a.dir.empty() ? fs::current_path(ec) : fs::path(a.dir), ec);
    if (!fs::is_directory(dir, ec)) {
        const bool exists = fs::exists(dir, ec);
        Complain(FormatText(Text(StringId::RES_CLI_ERROR),
                            FormatText(Text(exists ? StringId::RES_CLI_NOT_FOLDER
                                                   : StringId::RES_CLI_NO_FOLDER),
                                       dir.string())));
        return kExitFailed;
    }
    if (!s.Connect()) return kExitFailed;
    CDorvaneDoc& doc = s.Doc();
    std::vector<std::string> raw;
    bool ok = s.Select(a.operands, raw);
    // -C does not change the folder the desktop program remembers.
    const std::string remembered = doc.ComputerFolder();
    doc.SetComputerFolder(dir.string());
    if (!raw.empty()) doc.CopyFromDevice(move);
    doc.SetComputerFolder(remembered);
    for (const auto& path : doc.TakeWrittenFiles()) Say(FormatText(Text(StringId::RES_CLI_COPIED), path));
    // Only the deletes the handheld confirmed: a run that failed (or a
    // disconnect that emptied the list) deleted nothing more.
    if (move)
        for (const auto& n : doc.TakeDeletedFiles()) Say(FormatText(Text(StringId::RES_CLI_DELETED), ShownDeviceName(n)));
    if (doc.LastError() != 0) return s.ReportFailure();
    return ok ? kExitOk : kExitFailed;
}

int CmdRm(Session& s, const Args& a, CCliFrontEnd& fe) {
    if (!s.Connect()) return kExitFailed;
    CDorvaneDoc& doc = s.Doc();
    std::vector<std::string> raw;
    bool ok = s.Select(a.operands, raw);
    if (!raw.empty()) doc.DeleteSelected();
    for (const auto& n : doc.TakeDeletedFiles()) Say(FormatText(Text(StringId::RES_CLI_DELETED), ShownDeviceName(n)));
    if (doc.LastError() != 0 || fe.LastErrorCode() != 0) return s.ReportFailure();
    return ok ? kExitOk : kExitFailed;
}

// Why `path` cannot be sent, or empty when it can: only a readable file can.
std::string UnsendableReason(const std::string& path) {
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (!fs::exists(st)) return FormatText(Text(StringId::RES_CLI_NO_FILE), path);
    if (fs::is_directory(st)) return FormatText(Text(StringId::RES_CLI_IS_FOLDER), path);
    if (::access(path.c_str(), R_OK) != 0)
        return FormatText(Text(StringId::RES_CLI_CANNOT_READ), path, std::strerror(errno));
    if (!FileExists(path))
        return path + ": " + Text(StringId::RES_GLOBAL_STRING_RES_ERR_FILE_NOT_EXIST);
    return {};
}

int CmdPut(Session& s, const Args& a) {
    std::vector<std::string> paths;
    bool ok = true;
    for (const auto& p : a.operands) {
        if (const std::string why = UnsendableReason(p); !why.empty()) {
            Complain(why);
            ok = false;
            continue;
        }
        std::error_code ec;
        paths.push_back(fs::absolute(p, ec).string());
    }
    if (paths.empty()) return kExitFailed;
    if (!s.Connect()) return kExitFailed;
    CDorvaneDoc& doc = s.Doc();
    doc.CopyToDevice(paths);
    if (doc.LastError() != 0) return s.ReportFailure();
    for (const auto& p : paths) Say(FormatText(Text(StringId::RES_CLI_SENT), p));
    return ok ? kExitOk : kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
    ApplyUserLocale();
    LoadLanguage(ChooseLanguage(JoinCommandLine(argc, argv), UserLocaleName()));

    std::string error;
    const std::optional<Args> parsed = ParseArgs(argc, argv, error);
    if (!parsed) {
        if (!error.empty()) Complain(error);
        return Usage(argv[0]);
    }
    const Args& a = *parsed;
    if (a.help) {
        std::fputs(CliHelpText().c_str(), stdout);
        return kExitOk;
    }
    if (a.version) {
        std::fputs(CliVersionText().c_str(), stdout);
        return kExitOk;
    }
    if (const std::string bad = CheckCommandArgs(a); !bad.empty()) {
        Complain(bad);
        return Usage(argv[0]);
    }
    if (a.usbId) {
        const int status = RememberUsbId(*a.usbId, UsbIdPathFor(DefaultSettingsPath()));
        if (status != kExitOk || a.command.empty()) return status;
    }
    if (a.command == "convert") return CmdConvert(a.operands, a.dir);
    if (a.command == "usb-devices") return CmdUsbDevices();
    if (a.command == "info") {
        const int rc = RunInfoCommand(a.operands);
        return rc == kExitUsage ? Usage(argv[0]) : rc;
    }
    if (a.command == "overlaps") {
        const int rc = RunOverlapsCommand(a.operands);
        return rc == kExitUsage ? Usage(argv[0]) : rc;
    }
    if (a.command == "report") return RunReportCommand(a.operands);
    if (a.command == "export") return RunExportCommand(a.operands);
    if (a.command == "book") return RunBookCommand(a.operands);

    std::signal(SIGINT, OnSigint);
    std::signal(SIGPIPE, SIG_IGN);
    // A file size limit (ulimit -f) must end a download with EFBIG and its
    // message, not kill the program half-way.
    std::signal(SIGXFSZ, SIG_IGN);
    CCliFrontEnd fe(isatty(STDERR_FILENO) != 0);
    Session s(a, fe);
    // The rate tried on the given or remembered port before the search.
    if (a.baud) s.Doc().SetBaud(*a.baud);
    if (a.command == "ports") {
        for (const auto& p : s.Doc().PortList()) Say(p);
        return kExitOk;
    }
    if (a.command == "ls") return CmdLs(s, a);
    if (a.command == "get") return CmdGet(s, a, false);
    if (a.command == "mv") return CmdGet(s, a, true);
    if (a.command == "rm") return CmdRm(s, a, fe);
    if (a.command == "put") return CmdPut(s, a);
    return Usage(argv[0]);  // ParseArgs lets no other command through
}
