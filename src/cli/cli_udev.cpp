// SPDX-License-Identifier: Apache-2.0
#include "cli/cli_udev.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ostream>
#include <sstream>

#include "cli/cli_runner.h"

namespace wct::cli {
namespace {

namespace fs = std::filesystem;

// udev reads a match value as a glob up to the next quote; in a comment a line end
// would start a rule of its own. Every such character stands for itself as '?'.
std::string Literal(const std::string& text) {
    std::string out;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        out += u < 0x20 || u >= 0x7F || std::strchr("\"\\*?[]|", c) != nullptr ? '?' : c;
    }
    return out;
}

std::string SystemText(int error) {
    return std::strerror(error);
}

// Writes `text` to `file` whole or not at all: a temporary file beside it, which udev
// skips (its name does not end in .rules), renamed over it once written and synced.
// Returns the errno of what failed, 0 on success.
int WriteWhole(const fs::path& file, const std::string& text) {
    // Appended: "." + a temporary makes GCC 12 at -O3 warn falsely (-Wrestrict).
    std::string temporary = (file.parent_path() / ".").string();
    temporary += file.filename().string() + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) return errno;
    int error = 0;
    if (fchmod(fd, 0644) != 0) error = errno;
    for (size_t done = 0; error == 0 && done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) error = n < 0 ? errno : EIO;
        else done += static_cast<size_t>(n);
    }
    if (error == 0 && fsync(fd) != 0) error = errno;
    if (close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && rename(temporary.c_str(), file.c_str()) != 0) error = errno;
    if (error != 0) unlink(temporary.c_str());
    return error;
}

}  // namespace

void DeclareUdevRuleCommand(TCommand& wct, TUdevRuleOptions& o) {
    wct.Command("udev-rule",
                "the udev rule naming the dongle found now /dev/wct-dongle, group dialout")
        .Flag("--install", o.install,
              std::string("write it to /etc/udev/rules.d/") + kUdevRuleFile + " (as root)");
}

std::string UdevRule(const std::string& port, const TUsbIdentity& usb) {
    const std::string vendor = Literal(usb.vendor);
    const std::string product = Literal(usb.product);
    const std::string serial = Literal(usb.serial);
    std::ostringstream rule;
    rule << "# The WirelessConsoleTest dongle found on " << Literal(port) << ": USB vendor "
         << vendor << ", product " << product
         << (serial.empty() ? ", no serial number" : ", serial " + serial) << ".\n"
         << "# Written by `wct udev-rule`. In /etc/udev/rules.d/ it takes the place of the\n"
         << "# package's " << kUdevRuleFile << " and outlives upgrades.\n";
    if (!serial.empty())
        rule << "# Without the ATTRS{serial} match it names any device of this vendor and "
                "product.\n";
    rule << "# ModemManager is told to leave the port alone: its modem probe would talk to "
            "the dongle.\n"
         << "SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"" << vendor << "\", ATTRS{idProduct}==\""
         << product << '"';
    if (!serial.empty()) rule << ", ATTRS{serial}==\"" << serial << '"';
    rule << ", GROUP=\"dialout\", MODE=\"0660\", SYMLINK+=\"wct-dongle\", "
            "ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n";
    return rule.str();
}

int RunUdevRule(const TCliOptions& options, const TUdevRuleOptions& udev, std::ostream& out,
                std::ostream& err, const TUdevPaths& paths, const volatile bool* interrupted) {
    TCliOptions find = options;
    find.command = "find";
    std::ostringstream found;
    if (const int code = RunCommand(find, found, err, interrupted); code != exDone) return code;
    // `find` prints the port last; a trace sent to stdout comes before it.
    std::string text = found.str();
    if (!text.empty() && text.back() == '\n') text.pop_back();
    const size_t lineStart = text.rfind('\n') + 1;
    out << text.substr(0, lineStart);
    const std::string port = text.substr(lineStart);

    const std::optional<TUsbIdentity> usb = UsbIdentity(port, paths.ttyClass);
    if (!usb) {
        err << "wct: the dongle answered on " << port
            << ", which is no USB device: a udev rule cannot tell it by its USB identity\n";
        return exFailed;
    }
    const std::string rule = UdevRule(port, *usb);
    if (!udev.install) {
        out << rule;
        return exDone;
    }
    const fs::path file = paths.rulesDir / kUdevRuleFile;
    if (const int error = WriteWhole(file, rule); error != 0) {
        err << "wct: cannot write " << file.string() << ": " << SystemText(error)
            << (error == EACCES || error == EPERM
                    ? " (udev's rules are root's: sudo wct udev-rule --install)"
                    : "")
            << '\n';
        return exFailed;
    }
    err << "wct: wrote " << file.string()
        << "; udev applies it when the dongle is plugged in again, or now after\n"
        << "  udevadm control --reload && udevadm trigger --subsystem-match=tty --action=add\n";
    return exDone;
}

}  // namespace wct::cli
