// SPDX-License-Identifier: Apache-2.0
// The USB identity of a serial port, read from sysfs: what an operator writes into the
// udev rule that gives the dongle its group and its stable name.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace wct {

struct TUsbIdentity {
    std::string vendor;   // idVendor, four hex digits
    std::string product;  // idProduct, four hex digits
    std::string serial;   // empty when the device has none
};

// The USB device behind `port` (a /dev path; a link such as /dev/wct-dongle is followed),
// looked up in a tty class directory laid out as /sys/class/tty is; nothing for a port
// that is no USB device or that sysfs does not know.
std::optional<TUsbIdentity> UsbIdentity(const std::string& port,
                                        const std::filesystem::path& ttyClass = "/sys/class/tty");

}  // namespace wct
