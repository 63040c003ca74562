// SPDX-License-Identifier: Apache-2.0
// A trace that counts its lines: the protocol formats every trace line as it would for the
// window, and the benchmark pays that cost without keeping the text.
#pragma once

#include <string>

#include "protocol/debug_memo.h"

namespace wct::bench {

class TCountingMemo : public TDebugMemo {
public:
    void Add(const std::string&) override { ++lines; }
    long lines = 0;
};

}  // namespace wct::bench
