#pragma once
// What to tell a Linux user whose account may not open a serial port.

#include <string>

namespace dorvane {

/// The English explanation for a port refused with EACCES, and the group that
/// owns the device (the user-interface fills its localised text from `group`).
struct PermissionAdvice {
    std::string group;  ///< owning group of the device node, e.g. "dialout"
    std::string text;   ///< English text naming the device, the group and what to do
    /// False when the group is root (gid 0): joining it would give the account
    /// root's files, so the advice is the udev rule that hands ports to
    /// kUsualSerialGroup instead.
    bool joinable = true;
};

/// Group name used when the device node cannot be examined: the group that
/// owns serial ports on Debian, Ubuntu and Fedora alike.
inline constexpr const char* kUsualSerialGroup = "dialout";

/// Builds the advice for `devicePath` (as from SerialDevicePath): looks up the
/// owning group with stat + getgrgid_r (a number when the group has no name,
/// kUsualSerialGroup when the node cannot be examined) and says to join that
/// group and log in again, since a new group takes effect only in a new login
/// session. Thread-safe, never throws except std::bad_alloc.
PermissionAdvice DescribePermissionProblem(const std::string& devicePath);

}  // namespace dorvane
