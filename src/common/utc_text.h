// SPDX-License-Identifier: Apache-2.0
// Times as the bench's records and messages carry them.
#pragma once

#include <chrono>
#include <string>

namespace wct {

// "2026-12-08T12:14:28.123Z": UTC, ISO 8601 with milliseconds.
std::string UtcText(std::chrono::system_clock::time_point time);

}  // namespace wct
