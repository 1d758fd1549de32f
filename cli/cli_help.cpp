#include "cli/cli_help.h"

#include "i18n/string_table.h"

namespace dorvane {

namespace {

// Width of the left column (the syntax) before the description.
constexpr std::size_t kSyntaxColumn = 34;

struct HelpLine {
    const char* syntax;
    StringId text;
};

constexpr HelpLine kCommands[] = {
    {"ports", StringId::RES_DESKTOP_CLI_CMD_PORTS},
    {"ls", StringId::RES_DESKTOP_CLI_CMD_LS},
    {"ls --json", StringId::RES_DESKTOP_CLI_CMD_LS_JSON},
    {"get NAME... [-C DIR] [--model CODE]", StringId::RES_DESKTOP_CLI_CMD_GET},
    {"mv NAME... [-C DIR] [--model CODE]", StringId::RES_DESKTOP_CLI_CMD_MV},
    {"rm NAME...", StringId::RES_DESKTOP_CLI_CMD_RM},
    {"put FILE...", StringId::RES_DESKTOP_CLI_CMD_PUT},
    {"convert FILE... [-C DIR]", StringId::RES_DESKTOP_CLI_CMD_CONVERT},
    {"usb-devices", StringId::RES_DESKTOP_CLI_CMD_USB_DEVICES},
    {"info FILE... [--json] [--accuracy M]", StringId::RES_DESKTOP_CLI_CMD_INFO},
    {"info --accuracy M", StringId::RES_DESKTOP_CLI_CMD_INFO_ACCURACY},
    {"overlaps FILE|DIR... [-r] [--json]", StringId::RES_DESKTOP_CLI_CMD_OVERLAPS},
    {"report FILE|DIR... [-r] [--from DATE] [--to DATE] [--csv OUT] [--pdf OUT] "
     "[--tiles URL|FILE.mbtiles|none]... [--overlay URL] [--offline] [--keep-both] [--force]",
     StringId::RES_DESKTOP_CLI_CMD_REPORT},
    {"export FILE... --to gpkg|shp|geojson|kml|dxf|csv|txt -o OUT [--crs EPSG:N|auto|auto-cm] "
     "[--encoding gbk|utf-8] [--force]",
     StringId::RES_DESKTOP_CLI_CMD_EXPORT},
    {"book add FILE|DIR... [-r]", StringId::RES_BILL_CLI_ADD},
    {"book list [--json|--csv]", StringId::RES_BILL_CLI_LIST},
    {"book customer add|list|set", StringId::RES_BILL_CLI_CUSTOMER},
    {"book assign ID... [--customer NAME]", StringId::RES_BILL_CLI_ASSIGN},
    {"book bill CUSTOMER [--pdf OUT] [--pictures] [--tiles URL|FILE.mbtiles|none]... [--overlay URL] [--offline] [--keep-both]",
     StringId::RES_BILL_CLI_BILL},
    {"book pdf NUMBER --pdf OUT", StringId::RES_BILL_CLI_PDF},
    {"book void NUMBER", StringId::RES_BILL_CLI_VOID},
    {"book pay CUSTOMER|NUMBER AMOUNT", StringId::RES_BILL_CLI_PAY},
    {"book season [--json]", StringId::RES_BILL_CLI_SEASON},
    {"book overlaps [--customer NAME] [--status STATUS] [--json]", StringId::RES_BILL_CLI_OVERLAPS},
    {"book settings", StringId::RES_BILL_CLI_SETTINGS},
    {"book send-to-office --office URI", StringId::RES_BILL_CLI_SEND},
    {"book --book PATH ...", StringId::RES_BILL_CLI_OPT_BOOK},
};

constexpr HelpLine kOptions[] = {
    {"--port NAME", StringId::RES_DESKTOP_CLI_OPT_PORT},
    {"--usb PATH", StringId::RES_DESKTOP_CLI_OPT_USB},
    {"--baud N", StringId::RES_DESKTOP_CLI_OPT_BAUD},
    {"--timeout MS", StringId::RES_DESKTOP_CLI_OPT_TIMEOUT},
    {"--no-search", StringId::RES_DESKTOP_CLI_OPT_NO_SEARCH},
    {"-C DIR", StringId::RES_DESKTOP_CLI_OPT_DIR},
    {"--model CODE", StringId::RES_DESKTOP_CLI_OPT_MODEL},
    {"--usb-id VVVV:PPPP", StringId::RES_DESKTOP_CLI_OPT_USB_ID},
    {"-Code_Chi, -Code_Eng", StringId::RES_DESKTOP_APP_OPT_LANGUAGE},
    {"--help", StringId::RES_DESKTOP_OPT_HELP},
    {"--version", StringId::RES_DESKTOP_OPT_VERSION},
};

void Append(std::string& out, const HelpLine& line) {
    std::string syntax = std::string("  ") + line.syntax;
    // A long syntax gets its description on the next line, aligned.
    if (syntax.size() + 1 > kSyntaxColumn)
        syntax += "\n" + std::string(kSyntaxColumn, ' ');
    else
        syntax.resize(kSyntaxColumn, ' ');
    out += syntax + Text(line.text) + "\n";
}

}  // namespace

std::string CliHelpText() {
    std::string out =
        "dorvane-cli [--port NAME | --usb PATH | --usb-id VVVV:PPPP] [--baud N] [--timeout MS] "
        "[--no-search] [-Code_Chi | -Code_Eng] COMMAND [ARGS]\n"
        "  COMMAND: ports, ls, get, mv, rm, put, convert, usb-devices, info, overlaps, report, export\n"
        "dorvane-cli --usb-id VVVV:PPPP\n"
        "dorvane-cli --help | --version\n";
    out += Text(StringId::RES_DESKTOP_CLI_ABOUT) + "\n\n";
    out += Text(StringId::RES_DESKTOP_CLI_COMMANDS) + "\n";
    for (const auto& line : kCommands) Append(out, line);
    out += "\n" + Text(StringId::RES_DESKTOP_CLI_OPTIONS) + "\n";
    for (const auto& line : kOptions) Append(out, line);
    out += "\n" + Text(StringId::RES_DESKTOP_CLI_EXIT_STATUS) + "\n";
    return out;
}

std::string CliVersionText() {
    return std::string("dorvane-cli ") + DORVANE_VERSION + "\n";
}

}  // namespace dorvane
