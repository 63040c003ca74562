// SPDX-License-Identifier: Apache-2.0
// Fields of a text cut at a separator character, as the resistance map reads its lines.
#pragma once

#include <string>
#include <string_view>

namespace wct {

// The index-th field (from 0) of `text` cut at `separator`; empty when there are fewer.
std::string GetField(std::string_view text, char separator, int index);

// Number of fields: 0 for an empty text, otherwise one more than the separators.
int FieldCount(std::string_view text, char separator);

}  // namespace wct
