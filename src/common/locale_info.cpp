// SPDX-License-Identifier: Apache-2.0
#include "common/locale_info.h"

#include <atomic>
#include <clocale>
#include <ctime>

namespace wct {
namespace {

std::string Format(std::chrono::system_clock::time_point when, const char* format) {
    std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&t, &local);
    char text[128];
    size_t n = std::strftime(text, sizeof text, format, &local);
    return std::string(text, n);
}

class TCLocaleInfo : public TLocaleInfo {
public:
    char DecimalSeparator() override {
        const std::lconv* conv = std::localeconv();
        if (conv == nullptr || conv->decimal_point == nullptr || conv->decimal_point[0] == '\0')
            return '.';
        return conv->decimal_point[0];
    }
    std::string TimeText(std::chrono::system_clock::time_point when) override {
        return Format(when, "%X");
    }
    std::string DateTimeText(std::chrono::system_clock::time_point when) override {
        return Format(when, "%x %X");
    }
};

TCLocaleInfo cLocale;
std::atomic<TLocaleInfo*> installed{&cLocale};

}  // namespace

TLocaleInfo& LocaleInfo() {
    return *installed.load();
}

void SetLocaleInfo(TLocaleInfo* info) {
    installed.store(info != nullptr ? info : &cLocale);
}

}  // namespace wct
