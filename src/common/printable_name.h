// SPDX-License-Identifier: Apache-2.0
// Names people type for the records: an operator, a station, a bench. They end up in
// report lines, topic levels, folder names and JSON, so only printable text is taken.
#pragma once

#include <string>

namespace wct {

// Why `name` cannot be used as `what` ("operator", "bench name", ...), or "" when it can:
// it must be valid UTF-8 without control characters or line separators, and neither
// empty, "." nor "..".
std::string NameProblem(const std::string& name, const std::string& what);

}  // namespace wct
