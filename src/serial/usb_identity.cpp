// SPDX-License-Identifier: Apache-2.0
#include "serial/usb_identity.h"

#include <fstream>

namespace wct {
namespace {

namespace fs = std::filesystem;

// The first line of a sysfs attribute; empty when it is absent.
std::string Attribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace

std::optional<TUsbIdentity> UsbIdentity(const std::string& port, const fs::path& ttyClass) {
    std::error_code error;
    const fs::path resolved = fs::canonical(port, error);
    const fs::path name = (error ? fs::path(port) : resolved).filename();
    // The tty's device is the USB interface or the converter's port; the USB device,
    // which carries the identity, is above it.
    fs::path device = fs::canonical(ttyClass / name / "device", error);
    if (error) return std::nullopt;
    for (; device.has_relative_path(); device = device.parent_path()) {
        if (fs::exists(device / "idVendor", error))
            return TUsbIdentity{Attribute(device / "idVendor"), Attribute(device / "idProduct"),
                                Attribute(device / "serial")};
    }
    return std::nullopt;
}

}  // namespace wct
