// SPDX-License-Identifier: Apache-2.0
#include "app/field_checks.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace wct {
namespace {

std::string_view Trimmed(std::string_view text) {
    const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

bool IsHex(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) != 0;
    });
}

std::string Quoted(std::string_view text) {
    // Appended: "'" + a temporary makes GCC 12 at -O3 warn falsely (-Wrestrict).
    return std::string("'").append(text) + "'";
}

}  // namespace

int DecimalField(const std::string& field, std::string_view text, int min, int max) {
    const std::string_view digits = Trimmed(text);
    long long value = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, 10);
    if (digits.empty() || error == std::errc::invalid_argument ||
        end != digits.data() + digits.size())
        throw EFieldError(field + ": " + Quoted(text) + " is not a whole number");
    if (error == std::errc::result_out_of_range || value < min || value > max)
        throw EFieldError(field + ": " + std::string(digits) + " is outside " +
                          std::to_string(min) + " to " + std::to_string(max));
    return static_cast<int>(value);
}

int HexField(const std::string& field, std::string_view text, size_t maxDigits) {
    const std::string_view digits = Trimmed(text);
    if (!IsHex(digits) || digits.size() > maxDigits)
        throw EFieldError(field + ": " + Quoted(text) + " is not a hex value of at most " +
                          std::to_string(maxDigits) + " digits");
    int value = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
    return value;
}

std::string HexBytesField(const std::string& field, std::string_view text) {
    if (!text.empty() && !IsHex(text))
        throw EFieldError(field + ": " + Quoted(text) +
                          " holds characters that are not hex digits");
    std::string bytes;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        bytes += static_cast<char>(HexField(field, text.substr(i, 2), 2));
    return bytes;
}

std::optional<uint8_t> ResistanceCell(std::string_view text) {
    const std::string_view digits = Trimmed(text);
    if (!IsHex(digits) || digits.size() > 2) return std::nullopt;
    return static_cast<uint8_t>(HexField("Res", digits, 2));
}

}  // namespace wct
