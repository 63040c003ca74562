// SPDX-License-Identifier: Apache-2.0
#include "report_schema.h"

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

namespace wct::check::test {
namespace {

// The schema is checked as a schema too, so that a broken one cannot pass everything.
constexpr const char* kValidate = R"(
import json, sys, jsonschema
schema = json.load(open(sys.argv[1]))
jsonschema.Draft202012Validator.check_schema(schema)
validator = jsonschema.Draft202012Validator(schema)
errors = sorted(validator.iter_errors(json.load(open(sys.argv[2]))), key=str)
for e in errors:
    print(list(e.absolute_path), e.message)
sys.exit(1 if errors else 0)
)";

}  // namespace

std::string SchemaErrors(const nlohmann::json& document) {
    static std::atomic<int> count{0};
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() /
        ("wct-report-" + std::to_string(getpid()) + "-" + std::to_string(count++) + ".json");
    std::ofstream(file) << document.dump(2);
    const std::string command = std::string(WCT_PYTHON) + " -c '" + kValidate + "' '" +
                                WCT_REPORT_SCHEMA + "' '" + file.string() + "' 2>&1";
    std::string output;
    FILE* validator = popen(command.c_str(), "r");
    if (validator == nullptr) return "cannot start " WCT_PYTHON;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, validator)) > 0;) output.append(buffer, n);
    const int status = pclose(validator);
    std::filesystem::remove(file);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
    return output.empty() ? "the validator failed without a word" : output;
}

}  // namespace wct::check::test
