// SPDX-License-Identifier: Apache-2.0
// The user's folder for what the bench keeps between runs: the check history, the
// publisher's outbox, the trace log of an installed bench.
#pragma once

#include <string>

namespace wct {

// $XDG_STATE_HOME/WirelessConsoleTest/, else $HOME/.local/state/WirelessConsoleTest/;
// a variable that is not an absolute path counts as unset. Empty when neither gives
// one. Not created here.
std::string StateFolder();

}  // namespace wct
