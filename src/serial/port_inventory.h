// SPDX-License-Identifier: Apache-2.0
// Which serial ports exist.
//
// The inventory is Linux's own: every tty under /sys/class/tty with a device behind it
// (ttyUSB*, ttyACM*, ttyAMA*, rfcomm*, ttyS* whose UART is present), as /dev/... paths, then
// the in-process virtual ports of common/virtual_ports.h. The source can be replaced so
// that tests present any list, an empty one or a failure.
//
// Main-thread use; the source is not guarded against being swapped while it is read.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace wct {

// Returns the port names in inventory order; on failure throws std::system_error whose
// code is the errno of what failed.
using TPortSource = std::function<std::vector<std::string>()>;

// Installs a source; an empty function restores the system inventory.
void SetPortSource(TPortSource source);
// The system inventory (what an empty SetPortSource restores).
std::vector<std::string> SystemSerialPorts();
// Its device part, read from a tty class directory laid out as /sys/class/tty is.
std::vector<std::string> DeviceSerialPorts(const std::filesystem::path& ttyClass);

// Inventory order; a failing source gives an empty list and raises nothing.
std::vector<std::string> FindSerialPorts();

// Sorted case-insensitively (COM10 before COM2). On failure the user is told
// "Error access registry!" (error box, OK only) and the list is empty.
std::vector<std::string> ListPortsSorted();

// Replaces `target` with the sorted names. On failure raises EComPort 23 "Registry error"
// with the source's system code and leaves `target` as it was.
void EnumPortNames(std::vector<std::string>& target);

}  // namespace wct
