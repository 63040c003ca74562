// SPDX-License-Identifier: Apache-2.0
// A locale with a chosen decimal separator and fixed date and time texts, installed for as
// long as it lives.
#pragma once

#include <string>

#include "common/locale_info.h"

namespace wct::test {

class TFixedLocale : public TLocaleInfo {
public:
    explicit TFixedLocale(char separator = '.') : separator_(separator) { SetLocaleInfo(this); }
    ~TFixedLocale() override { SetLocaleInfo(nullptr); }
    TFixedLocale(const TFixedLocale&) = delete;
    TFixedLocale& operator=(const TFixedLocale&) = delete;

    char DecimalSeparator() override { return separator_; }
    std::string TimeText(std::chrono::system_clock::time_point) override { return "12:34:56"; }
    std::string DateTimeText(std::chrono::system_clock::time_point) override {
        return "08/12/2026 12:34:56";
    }

private:
    char separator_;
};

}  // namespace wct::test
