#include "link/permission.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace dorvane {

namespace {

// Buffer for getgrgid_r when sysconf gives no hint (the glibc default).
constexpr long kGroupBufferFallback = 16384;

// The group root: no account should join it.
constexpr gid_t kRootGid = 0;

std::string OwningGroup(const std::string& devicePath, bool& joinable) {
    joinable = true;
    struct stat info {};
    if (::stat(devicePath.c_str(), &info) != 0) return kUsualSerialGroup;
    joinable = info.st_gid != kRootGid;
    long size = ::sysconf(_SC_GETGR_R_SIZE_MAX);
    if (size <= 0) size = kGroupBufferFallback;
    std::vector<char> buffer(static_cast<std::size_t>(size));
    group entry{};
    group* found = nullptr;
    if (::getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->gr_name && found->gr_name[0] != '\0') {
        return found->gr_name;
    }
    return std::to_string(info.st_gid);
}

}  // namespace

PermissionAdvice DescribePermissionProblem(const std::string& devicePath) {
    PermissionAdvice advice;
    advice.group = OwningGroup(devicePath, advice.joinable);
    if (!advice.joinable) {
        advice.text = "Permission denied opening " + devicePath + ". The port belongs to the group \"" +
                      advice.group + "\", which no account should join. Install the udev rule " +
                      "(70-dorvane.rules), which gives serial adapters to the group " +
                      kUsualSerialGroup + ", plug the adapter in again, and join " + kUsualSerialGroup +
                      " (sudo usermod -aG " + kUsualSerialGroup + " $USER), then log in again.";
        return advice;
    }
    advice.text = "Permission denied opening " + devicePath + ". The port belongs to the group \"" +
                  advice.group + "\". Add your user to that group (for example: sudo usermod -aG " +
                  advice.group +
                  " $USER), then log out and log in again so that the new group takes effect.";
    return advice;
}

}  // namespace dorvane
