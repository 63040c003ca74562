// SPDX-License-Identifier: Apache-2.0
// Numbers read from text the user or a file gave: the whole text or nothing, so "12x",
// " 12" and "" are refused alike and each caller words its own refusal.
#pragma once

#include <charconv>
#include <optional>
#include <string_view>
#include <system_error>
#include <type_traits>

namespace wct {

// The whole of `text` as a T, as from_chars reads it (no plus sign, no blanks; integers in
// `base`); nothing when any character is left or the value does not fit a T.
template <class T>
std::optional<T> ReadNumber(std::string_view text, int base = 10) {
    T value{};
    const char* last = text.data() + text.size();
    std::from_chars_result result{};
    if constexpr (std::is_floating_point_v<T>)
        result = std::from_chars(text.data(), last, value);
    else
        result = std::from_chars(text.data(), last, value, base);
    if (text.empty() || result.ec != std::errc() || result.ptr != last) return std::nullopt;
    return value;
}

// The same, reading the digits after "0x" or "0X" as a hex integer.
template <class T>
std::optional<T> ReadNumberOrHex(std::string_view text) {
    if (text.size() <= 2 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
        return ReadNumber<T>(text);
    if constexpr (std::is_floating_point_v<T>) {
        const auto integer = ReadNumber<unsigned long long>(text.substr(2), 16);
        if (!integer) return std::nullopt;
        return static_cast<T>(*integer);
    } else {
        return ReadNumber<T>(text.substr(2), 16);
    }
}

// A number read by `read` (ReadNumber, ReadNumberOrHex) within [low, high], or nothing.
template <class T>
std::optional<T> InRange(std::optional<T> value, T low, T high) {
    if (!value || *value < low || *value > high) return std::nullopt;
    return value;
}

}  // namespace wct
