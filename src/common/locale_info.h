// SPDX-License-Identifier: Apache-2.0
// Locale services of the seam: the decimal separator and the date and time texts.
#pragma once

#include <chrono>
#include <string>

namespace wct {

class TLocaleInfo {
public:
    virtual ~TLocaleInfo() = default;
    virtual char DecimalSeparator() = 0;
    // Time of day in the system's time format.
    virtual std::string TimeText(std::chrono::system_clock::time_point when) = 0;
    // Date and time in the system's short date and long time format.
    virtual std::string DateTimeText(std::chrono::system_clock::time_point when) = 0;
};

TLocaleInfo& LocaleInfo();
// Installs an implementation (nullptr restores the one from the C library's locale).
// The caller keeps ownership.
void SetLocaleInfo(TLocaleInfo* info);

}  // namespace wct
