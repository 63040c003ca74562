// SPDX-License-Identifier: Apache-2.0
// What the operator types into the bench's fields, checked before anything is sent: a
// text that does not fit its field is refused with a message that names the field, so
// that a typing slip never reaches a console as some other number. Qt-free.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace wct {

// A field's text that cannot be used; what() names the field and says why.
class EFieldError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// A decimal integer from min to max; blanks around it are ignored.
int DecimalField(const std::string& field, std::string_view text, int min, int max);

// A hex value of 1 to maxDigits digits (either case); blanks around it are ignored.
int HexField(const std::string& field, std::string_view text, size_t maxDigits);

// Hex text of whole bytes, two digits each ("3E04" gives 3E 04); empty text is no bytes.
// An odd length is left to the caller, which has its own message for it.
std::string HexBytesField(const std::string& field, std::string_view text);

// A cell of the resistance grid: one byte in hex (one or two digits). Nothing for any
// other text; the caller tells an empty cell (send nothing) from a bad one.
std::optional<uint8_t> ResistanceCell(std::string_view text);

}  // namespace wct
