// SPDX-License-Identifier: Apache-2.0
#include "common/hex.h"

namespace wct {
namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

}  // namespace

int HexDigitValue(char c) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    for (int d = 0; d < 16; ++d)
        if (kDigits[d] == c) return d;
    return -1;
}

std::string BytesToHex(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (char c : bytes) {
        auto b = static_cast<unsigned char>(c);
        text += kDigits[b >> 4];
        text += kDigits[b & 0x0F];
    }
    return text;
}

int32_t HexToInt(std::string_view text) {
    // Unsigned arithmetic gives the 32-bit wrap-around without overflow.
    uint32_t value = 0;
    for (char c : text.substr(0, 8)) value = value * 16u + static_cast<uint32_t>(HexDigitValue(c));
    return static_cast<int32_t>(value);
}

std::string HexToBytes(std::string_view text) {
    std::string bytes;
    bytes.reserve((text.size() + 1) / 2);
    for (size_t i = 0; i < text.size(); i += 2)
        bytes += static_cast<char>(HexToInt(text.substr(i, 2)) & 0xFF);
    return bytes;
}

}  // namespace wct
