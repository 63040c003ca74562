// SPDX-License-Identifier: Apache-2.0
#include "common/string_fields.h"

#include <algorithm>

namespace wct {

std::string GetField(std::string_view text, char separator, int index) {
    if (index < 0) return {};
    size_t begin = 0;
    for (int i = 0; i < index; ++i) {
        size_t next = text.find(separator, begin);
        if (next == std::string_view::npos) return {};
        begin = next + 1;
    }
    size_t end = text.find(separator, begin);
    return std::string(text.substr(begin, end == std::string_view::npos ? text.npos : end - begin));
}

int FieldCount(std::string_view text, char separator) {
    if (text.empty()) return 0;
    return static_cast<int>(std::count(text.begin(), text.end(), separator)) + 1;
}

}  // namespace wct
