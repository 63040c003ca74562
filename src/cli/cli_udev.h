// SPDX-License-Identifier: Apache-2.0
// `wct udev-rule [--install]`: the udev rule that gives the dongle plugged in now the
// name /dev/wct-dongle and the dialout group, made from the USB identity of the port the
// dongle search (as `wct find`) found it on.
//
// The package's rule, /usr/lib/udev/rules.d/60-wct-dongle.rules, cannot know the
// dongle's identity, which differs between batches. --install writes this rule to
// /etc/udev/rules.d/ under the same name: udev then reads it instead of the package's,
// and an upgrade never touches it.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <string>

#include "cli/cli_options.h"
#include "serial/usb_identity.h"

namespace wct::cli {

struct TUdevRuleOptions {
    bool install = false;  // --install: write the rule instead of printing it
};

// Where the identity is read and where --install writes; tests point them elsewhere.
struct TUdevPaths {
    std::filesystem::path ttyClass = "/sys/class/tty";
    std::filesystem::path rulesDir = "/etc/udev/rules.d";
};

inline constexpr const char* kUdevRuleFile = "60-wct-dongle.rules";

// Adds the command to wct's command line; its options go to `o`, which must outlive it.
void DeclareUdevRuleCommand(TCommand& wct, TUdevRuleOptions& o);

// The rules file for the dongle found on `port` with identity `usb`: comments saying
// where it came from, then one rule. A value udev would read as a pattern or as the end
// of the text has those characters matched by '?'.
std::string UdevRule(const std::string& port, const TUsbIdentity& usb);

// Finds the dongle as `find` does (its messages and exit code when it is not found),
// then prints the rule, or writes it with --install. Exit 1 when the dongle's port is
// no USB device or the file cannot be written.
int RunUdevRule(const TCliOptions& options, const TUdevRuleOptions& udev, std::ostream& out,
                std::ostream& err, const TUdevPaths& paths = {},
                const volatile bool* interrupted = nullptr);

}  // namespace wct::cli
