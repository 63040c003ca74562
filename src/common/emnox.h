// SPDX-License-Identifier: Apache-2.0
// EMNox: the rider-device layer's exception, carrying a numbered error code.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace wct {

class EMNox : public std::runtime_error {
public:
    // Message: the code's table text, " (Error code: N)", CR LF, then `detail`.
    EMNox(int32_t code, const std::string& detail);
    int32_t ErrorCode() const { return code_; }

    // The table text of a code; empty for codes outside the table.
    static std::string CodeText(int32_t code);

private:
    int32_t code_;
};

}  // namespace wct
