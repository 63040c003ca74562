// SPDX-License-Identifier: Apache-2.0
#include "common/emnox.h"

#include <array>

namespace wct {
namespace {

constexpr std::array<const char*, 6> kCodeTexts = {
    "One or more competitor(s) not ready to start",
    "Course not ready to Start",
    "Error while UnAssignDeviceSourceEvents",
    "This function can't accept a DeviceType Unknown or this device is not compatible",
    "Error while reading the resistance map",
    "CompetitorList unAssigned",
};

std::string Message(int32_t code, const std::string& detail) {
    return EMNox::CodeText(code) + " (Error code: " + std::to_string(code) + ")\r\n" + detail;
}

}  // namespace

EMNox::EMNox(int32_t code, const std::string& detail)
    : std::runtime_error(Message(code, detail)), code_(code) {}

std::string EMNox::CodeText(int32_t code) {
    if (code < 0 || code >= static_cast<int32_t>(kCodeTexts.size())) return {};
    return kCodeTexts[static_cast<size_t>(code)];
}

}  // namespace wct
