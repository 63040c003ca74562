// SPDX-License-Identifier: Apache-2.0
// Serial ports that exist only inside this process (a built-in simulator's
// pseudo-terminal). The port inventory lists them beside the system's own devices.
// Thread-safe.
#pragma once

#include <string>
#include <vector>

namespace wct {

void RegisterVirtualPort(const std::string& path);
void UnregisterVirtualPort(const std::string& path);
// In registration order.
std::vector<std::string> VirtualPorts();

}  // namespace wct
