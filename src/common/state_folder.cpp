// SPDX-License-Identifier: Apache-2.0
#include "common/state_folder.h"

#include <cstdlib>

namespace wct {

std::string StateFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') return std::string(state) + "/WirelessConsoleTest/";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return std::string(home) + "/.local/state/WirelessConsoleTest/";
    return {};
}

}  // namespace wct
