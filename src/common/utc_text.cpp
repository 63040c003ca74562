// SPDX-License-Identifier: Apache-2.0
#include "common/utc_text.h"

#include <cstdio>
#include <ctime>

namespace wct {

std::string UtcText(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    // Floored, so that a time before 1970 keeps its milliseconds positive.
    const auto ms = floor<milliseconds>(time.time_since_epoch()).count();
    const auto seconds = floor<std::chrono::seconds>(time.time_since_epoch()).count();
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(ms - seconds * 1000));
    return text;
}

}  // namespace wct
