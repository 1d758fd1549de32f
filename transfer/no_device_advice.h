#pragma once
// What to tell a user whose search found no handheld (a first run, mostly):
// the things that keep a handheld from answering on Linux, in the order a
// user should look at them.

#include <string>
#include <vector>

#include "link/usb.h"

namespace dorvane {

/// The checklist in the current language, one line per item after a heading
/// and the line that names the ports tried (their device paths, each once;
/// "no serial port found" when `ports` is empty):
///  1. the cable and the handheld's data transfer mode;
///  2. membership of the group that owns the serial port, with the command
///     that joins it (the owner of the first of `ports` whose device node
///     exists, "dialout" when none can be examined); never the group root,
///     for which the udev rule and dialout are the advice;
///  3. ModemManager probing (and so holding) a newly plugged adapter;
///  4. the USB id setting, with the id `usb` holds now.
/// `ports` are port names as the serial link takes them (ttyUSB0 or a path).
/// Reads the file system (stat, the group database); never throws except
/// std::bad_alloc. Any thread, as long as no language load runs.
std::string NoDeviceChecklist(const std::vector<std::string>& ports, const UsbConfig& usb);

}  // namespace dorvane
