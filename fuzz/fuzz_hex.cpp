// SPDX-License-Identifier: Apache-2.0
// HexToInt and HexToBytes on any text: they never fail, never read past the text, and
// agree with BytesToHex.
#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "common/hex.h"

using namespace wct;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const std::string bytes = HexToBytes(text);
    FUZZ_CHECK(bytes.size() == (text.size() + 1) / 2);
    (void)HexToInt(text);

    // Any bytes survive the round trip through their hex text.
    FUZZ_CHECK(HexToBytes(BytesToHex(text)) == text);

    // Text of hex digits only reads back as itself (uppercase), and as a number the way
    // strtoul reads its first eight digits.
    bool allDigits = !text.empty();
    for (char c : text) allDigits = allDigits && std::isxdigit(static_cast<unsigned char>(c));
    if (allDigits) {
        const std::string head(text.substr(0, 8));
        FUZZ_CHECK(static_cast<uint32_t>(HexToInt(text)) ==
                   static_cast<uint32_t>(std::stoul(head, nullptr, 16)));
        if (text.size() % 2 == 0) {
            std::string upper(text);
            for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            FUZZ_CHECK(BytesToHex(bytes) == upper);
        }
    }
    return 0;
}
