// SPDX-License-Identifier: Apache-2.0
#include "common/printable_name.h"

#include <cstdint>

namespace wct {
namespace {

// The code point at `text[i]`, advancing `i`; none (-1) for bytes that are not UTF-8
// (overlong forms and surrogates included).
int32_t NextCodePoint(const std::string& text, size_t& i) {
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    const uint8_t lead = byte(i);
    size_t length = 1;
    int32_t point = lead;
    int32_t least = 0;
    if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, point = lead & 0x07, least = 0x10000;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, point = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, point = lead & 0x1F, least = 0x80;
    } else if (lead >= 0x80) {
        return -1;
    }
    if (i + length > text.size()) return -1;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return -1;
        point = (point << 6) | (byte(i + k) & 0x3F);
    }
    if (point < least || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return -1;
    i += length;
    return point;
}

bool IsControl(int32_t point) {
    return point < 0x20 || (point >= 0x7F && point <= 0x9F) || point == 0x2028 || point == 0x2029;
}

}  // namespace

std::string NameProblem(const std::string& name, const std::string& what) {
    if (name.empty()) return what + " is empty";
    if (name == "." || name == "..") return what + " '" + name + "' is no name";
    for (size_t i = 0; i < name.size();) {
        const size_t at = i;
        const int32_t point = NextCodePoint(name, i);
        if (point < 0)
            return what + " is not valid UTF-8 text (byte " + std::to_string(at + 1) + ")";
        if (IsControl(point))
            return what + " holds a control character (character at byte " +
                   std::to_string(at + 1) + "); only printable text is taken";
    }
    return "";
}

}  // namespace wct
