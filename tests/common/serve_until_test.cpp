// SPDX-License-Identifier: Apache-2.0
// The one wait loop, the UTC time text and the state folder rule.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>

#include "common/delay_with_messages.h"
#include "common/main_thread.h"
#include "common/state_folder.h"
#include "common/tick_count.h"
#include "common/utc_text.h"

namespace wct {
namespace {

TEST(ServeUntil, AWaitAlreadyOverServesNothing) {
    TScopedVirtualClock clock(1000, 5);
    int served = 0;
    MainThread().Post([&] { ++served; });
    EXPECT_TRUE(ServeUntil([] { return true; }, 100));
    EXPECT_EQ(served, 0);
    EXPECT_EQ(GetTickCount(), 1000u);
    EXPECT_FALSE(ServeUntil([] { return false; }, 0));
    EXPECT_EQ(served, 0);
    MainThread().ProcessMessages();  // leaves no work behind for the next case
}

TEST(ServeUntil, AHandOffThatMakesThePredicateTrueEndsTheWaitEarly) {
    TScopedVirtualClock clock(1000, 5);
    bool done = false;
    MainThread().Post([&] { done = true; });
    EXPECT_TRUE(ServeUntil([&] { return done; }, 10000));
    EXPECT_LT(GetTickCount(), 1100u);
}

TEST(ServeUntil, TimeUpIsFalseAtTheGivenTickTimeAndTheWrapDoesNotEndIt) {
    struct TCase {
        uint32_t start;
        uint32_t ms;
    };
    for (const TCase& c : {TCase{1000, 100}, TCase{0xFFFFFFF0u, 100}, TCase{0x7FFFFFF0u, 100}}) {
        SCOPED_TRACE(c.start);
        TScopedVirtualClock clock(c.start, 5);
        EXPECT_FALSE(ServeUntil([] { return false; }, c.ms));
        EXPECT_EQ(GetTickCount() - c.start, c.ms);
    }
}

// On real ticks, with nothing arriving: without a slice one pass would sleep the whole
// wait and the flag would be asked twice.
TEST(ServeUntil, ASliceBoundsEachPassSoThatAFlagNoHandOffSetsIsSeen) {
    int asked = 0;
    EXPECT_FALSE(ServeUntil([&] { return ++asked, false; }, 100, 20));
    EXPECT_GE(asked, 6);  // five passes of at most 20 ticks, and the question after the last
}

TEST(UtcText, ReadsAsIso8601WithMillisecondsInUtc) {
    using namespace std::chrono;
    struct TCase {
        int64_t ms;
        const char* text;
    };
    for (const TCase& c : {TCase{0, "1970-01-01T00:00:00.000Z"},
                           TCase{1796732068123, "2026-12-08T12:14:28.123Z"},
                           TCase{951825599999, "2000-02-29T11:59:59.999Z"},
                           TCase{-1, "1969-12-31T23:59:59.999Z"}}) {
        EXPECT_EQ(UtcText(system_clock::time_point(milliseconds(c.ms))), c.text) << c.ms;
    }
}

// Sets the variables for the case; restores the process's on leaving.
class StateFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"XDG_STATE_HOME", "HOME"}) {
            const char* value = std::getenv(name);
            saved.push_back({name, value != nullptr ? std::optional<std::string>(value)
                                                    : std::nullopt});
        }
    }
    void TearDown() override {
        for (const auto& [name, value] : saved) Set(name, value ? value->c_str() : nullptr);
    }
    static void Set(const char* name, const char* value) {
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    std::vector<std::pair<const char*, std::optional<std::string>>> saved;
};

TEST_F(StateFolderTest, XdgStateHomeElseTheHomesLocalStateAndOnlyAbsolutePathsCount) {
    struct TCase {
        const char* state;
        const char* home;
        const char* folder;
    };
    for (const TCase& c : {TCase{"/s", "/h", "/s/WirelessConsoleTest/"},
                           TCase{nullptr, "/h", "/h/.local/state/WirelessConsoleTest/"},
                           TCase{"", "/h", "/h/.local/state/WirelessConsoleTest/"},
                           TCase{"rel", "/h", "/h/.local/state/WirelessConsoleTest/"},
                           TCase{nullptr, "rel", ""}, TCase{nullptr, nullptr, ""}}) {
        Set("XDG_STATE_HOME", c.state);
        Set("HOME", c.home);
        EXPECT_EQ(StateFolder(), c.folder)
            << (c.state ? c.state : "(unset)") << " " << (c.home ? c.home : "(unset)");
    }
}

}  // namespace
}  // namespace wct
