// SPDX-License-Identifier: Apache-2.0
#include "common/virtual_ports.h"

#include <algorithm>
#include <mutex>

namespace wct {
namespace {

std::mutex mutex;  // protects ports
std::vector<std::string> ports;

}  // namespace

void RegisterVirtualPort(const std::string& path) {
    std::lock_guard lock(mutex);
    if (std::find(ports.begin(), ports.end(), path) == ports.end()) ports.push_back(path);
}

void UnregisterVirtualPort(const std::string& path) {
    std::lock_guard lock(mutex);
    ports.erase(std::remove(ports.begin(), ports.end(), path), ports.end());
}

std::vector<std::string> VirtualPorts() {
    std::lock_guard lock(mutex);
    return ports;
}

}  // namespace wct
