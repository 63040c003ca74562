// SPDX-License-Identifier: Apache-2.0
// A wire tap that keeps the level one console got in every resistance frame written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/wire_tap.h"
#include "protocol/wireless_frame.h"

namespace wct::test {

class TResistanceLevels : public TMiraWireTap {
public:
    explicit TResistanceLevels(uint8_t console) : at_(4u + console) {}
    void Written(const std::string& bytes) override {
        if (bytes.size() > at_ + 2 && static_cast<uint8_t>(bytes[1]) == mcResistances)
            levels.push_back(static_cast<uint8_t>(bytes[at_]));
    }
    void Read(const char*, int) override {}
    std::vector<int> levels;

private:
    size_t at_;  // 3E 10 00 N 00, then one level per console from 1
};

}  // namespace wct::test
