// SPDX-License-Identifier: Apache-2.0
// The JSON report's schema (docs/check-report.schema.json) applied by a real validator,
// Debian's python3-jsonschema, to a document the tests made.
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <string>

namespace wct::check::test {

// "" when `document` is valid; else one line per error, "[path] message".
std::string SchemaErrors(const nlohmann::json& document);

}  // namespace wct::check::test
