#include "cli/convert_command.h"

#include <filesystem>

#include "cli/cli_output.h"
#include "convert/download.h"
#include "i18n/string_table.h"
#include "transfer/text_format.h"

namespace dorvane::cli {

namespace {

namespace fs = std::filesystem;

StringId ReasonKey(ConvertError e) {
    switch (e) {
        case ConvertError::kNone:
            return StringId::RES_GLOBAL_STRING_RES_ERR_MSG_NULL_1;
        case ConvertError::kCannotRead:
            return StringId::RES_CORE2_CONVERT_CANNOT_READ;
        case ConvertError::kTooLarge:
            return StringId::RES_CORE2_CONVERT_TOO_LARGE;
        case ConvertError::kNotTrackOrArea:
            return StringId::RES_CORE2_CONVERT_NOT_TRACK_OR_AREA;
        case ConvertError::kDamagedHeader:
            return StringId::RES_CORE2_CONVERT_DAMAGED_HEADER;
        case ConvertError::kFolderMissing:
            return StringId::RES_CORE2_CONVERT_FOLDER_MISSING;
        case ConvertError::kPermissionDenied:
            return StringId::RES_CORE2_CONVERT_PERMISSION;
        case ConvertError::kDiskFull:
            return StringId::RES_CORE2_CONVERT_DISK_FULL;
        case ConvertError::kNoFreeName:
            return StringId::RES_CORE2_CONVERT_NO_FREE_NAME;
        case ConvertError::kIoError:
            return StringId::RES_CORE2_CONVERT_IO_ERROR;
    }
    return StringId::RES_CORE2_CONVERT_IO_ERROR;
}

bool HasSystemDetail(ConvertError e) {
    switch (e) {
        case ConvertError::kCannotRead:
        case ConvertError::kFolderMissing:
        case ConvertError::kPermissionDenied:
        case ConvertError::kDiskFull:
        case ConvertError::kIoError:
            return true;
        default:
            return false;
    }
}

}  // namespace

int CmdConvert(const std::vector<std::string>& files, const std::string& dir) {
    if (files.empty()) return kExitUsage;
    int status = kExitOk;
    for (const auto& in : files) {
        const fs::path outDir = dir.empty() ? fs::path(in).parent_path() : fs::path(dir);
        const ConvertResult r = ConvertLocalFile(in, outDir.empty() ? fs::path(".") : outDir);
        if (r.ok()) {
            Say(FormatText(Text(StringId::RES_CLI_CONVERTED), in, r.written.string()));
        } else {
            // A system error's detail (path and the system's own text) is
            // added; the converter's other details only repeat the reason.
            std::string why = Text(ReasonKey(r.error));
            if (HasSystemDetail(r.error) && !r.message.empty()) why += " (" + r.message + ")";
            Complain(FormatText(Text(StringId::RES_CLI_CONVERT_FAILED), in, why));
            status = kExitFailed;
        }
    }
    return status;
}

}  // namespace dorvane::cli
