// SPDX-License-Identifier: Apache-2.0
// Names people type for the records: printable text is taken, anything that could forge
// a line, a field or a path is refused with what is wrong.
#include "common/printable_name.h"

#include <gtest/gtest.h>

namespace wct {
namespace {

TEST(PrintableNameTest, PrintableTextIsTakenAndEverythingElseRefusedWithItsReason) {
    struct TCase {
        std::string name;
        const char* problem;  // a part of it; "" when the name is taken
    };
    const TCase cases[] = {
        {"anna", ""},
        {"Anna & Co <line 2>", ""},
        {"Zoë Müller", ""},
        {"工作站 3", ""},
        {"bench.1", ""},
        {"...", ""},
        {"\xF0\x9F\x9A\xB2", ""},  // a bicycle, four bytes
        {"", "is empty"},
        {".", "'.' is no name"},
        {"..", "'..' is no name"},
        {"anna\n2026-12-08T10:00:00.000Z 1 1 PASS - x y",
         "control character (character at byte 5)"},
        {"a\tb", "control character"},
        {"a\rb", "control character"},
        {std::string("a\0b", 3), "control character"},
        {"a\x7F", "control character"},
        {"a\xC2\x85", "control character"},      // NEL
        {"a\xE2\x80\xA8", "control character"},  // line separator
        {"caf\xE9", "not valid UTF-8 text (byte 4)"},
        {"\xC0\xAF", "not valid UTF-8"},          // an overlong '/'
        {"\xED\xA0\x80", "not valid UTF-8"},      // a surrogate
        {"\xF4\x90\x80\x80", "not valid UTF-8"},  // beyond U+10FFFF
        {"\xE2\x82", "not valid UTF-8"},          // cut short
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string problem = NameProblem(c.name, "operator");
        if (*c.problem == '\0') {
            EXPECT_EQ(problem, "");
        } else {
            EXPECT_EQ(problem.rfind("operator ", 0), 0u) << problem;
            EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
        }
    }
}

}  // namespace
}  // namespace wct
