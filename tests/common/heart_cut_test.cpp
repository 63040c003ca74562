// SPDX-License-Identifier: Apache-2.0
// The heart-rate cut's rule at its edges: the maximum itself, the release level, the
// no-signal floor and the run of good readings a cut needs to end.
#include <gtest/gtest.h>

#include <vector>

#include "common/heart_cut.h"

namespace wct {
namespace {

struct TCutCase {
    const char* what;
    int readingsToEnd;
    std::vector<int32_t> readings;
    std::vector<bool> cut;  // after each reading
};

TEST(HeartCut, StartsAboveTheMaximumAndEndsOnlyOnARunOfRealReadingsBelowTheRelease) {
    const TCutCase cases[] = {
        {"the maximum itself is allowed", 1, {220, 219}, {false, false}},
        {"one above the maximum cuts", 1, {221}, {true}},
        {"the release level ends a cut", 1, {221, 215}, {true, false}},
        {"one above the release level does not", 1, {221, 216, 220}, {true, true, true}},
        {"a lost signal never ends a cut", 1, {230, 0, 34, 0}, {true, true, true, true}},
        {"the floor itself is a reading", 1, {230, 35}, {true, false}},
        {"the run must fill", 3, {230, 200, 200, 200}, {true, true, true, false}},
        {"a lost signal breaks the run", 3, {230, 200, 200, 0, 200, 200, 200},
         {true, true, true, true, true, true, false}},
        {"so does a reading near the maximum", 2, {230, 200, 218, 200, 200},
         {true, true, true, true, false}},
        {"a lost signal starts nothing", 1, {0, 10, 34}, {false, false, false}},
    };
    for (const TCutCase& c : cases) {
        THeartCut cut(220, c.readingsToEnd);
        for (size_t i = 0; i < c.readings.size(); ++i) {
            cut.Feed(c.readings[i]);
            EXPECT_EQ(cut.Active(), c.cut[i]) << c.what << ", reading " << i;
        }
    }
}

TEST(HeartCut, TellsEachStartAndEndOnceWithTheReadingThatDecided) {
    THeartCut cut(180, 2);
    EXPECT_EQ(cut.Feed(200), THeartCut::hcStarted);
    EXPECT_EQ(cut.StartText(), "heart rate 200 above 180: brake held at 0");
    EXPECT_EQ(cut.Feed(210), THeartCut::hcNone);
    EXPECT_EQ(cut.StartText(), "heart rate 200 above 180: brake held at 0");
    EXPECT_EQ(cut.Feed(120), THeartCut::hcNone);
    EXPECT_EQ(cut.Feed(121), THeartCut::hcEnded);
    EXPECT_EQ(cut.EndText(), "heart rate 121 at or below 175: brake released");
    EXPECT_EQ(cut.Feed(121), THeartCut::hcNone);
}

TEST(HeartCut, ANewMaximumJudgesTheNextReadingsAndKeepsACutInForce) {
    THeartCut cut(220, 1);
    cut.Feed(200);
    cut.SetMaximum(190);
    EXPECT_FALSE(cut.Active()) << "nothing was read above the new maximum yet";
    cut.Feed(200);
    EXPECT_TRUE(cut.Active());
    cut.SetMaximum(250);
    EXPECT_TRUE(cut.Active());
    cut.Feed(200);
    EXPECT_FALSE(cut.Active());
}

}  // namespace
}  // namespace wct
