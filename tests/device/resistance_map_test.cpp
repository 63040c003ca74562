// SPDX-License-Identifier: Apache-2.0
// The resistance map: its text, the parse into the grid, its errors and its stored form.
#include "device/resistance_map.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "common/emnox.h"
#include "common/stored_form.h"
#include "support/fixed_locale.h"

namespace wct {
namespace {

// The main window's map as a table: speeds, then one row per level (level first).
const std::vector<std::vector<double>> kMainMap = {
    {0, 5, 10, 15, 20, 25, 30, 35, 40, 45, 50, 55, 60, 65, 70, 75, 80, 85},
    {0, 15, 42, 68, 96, 126, 161, 196, 234, 274, 316, 360, 407, 455, 505, 556, 612, 668},
    {20, 16, 42, 72, 104, 141, 180, 219, 264, 315, 364, 418, 475, 537, 598, 665, 735, 808},
    {40, 17, 47, 89, 129, 177, 229, 284, 341, 401, 470, 540, 613, 691, 772, 858, 948},
    {60, 19, 59, 109, 168, 234, 304, 379, 464, 555, 653, 757, 869, 985},
    {80, 23, 75, 143, 221, 309, 406, 508, 626, 752, 888, 1033},
    {100, 26, 100, 184, 286, 395, 519, 655, 802, 963},
    {120, 32, 113, 220, 339, 471, 616, 780, 957},
    {140, 37, 135, 259, 391, 541, 706, 890, 1085},
    {160, 43, 158, 297, 444, 605, 780, 972},
    {175, 47, 174, 325, 481, 652, 836, 1034},
};

class ResistanceMapTest : public ::testing::Test {
protected:
    void UseSeparator(char separator) {
        locale.reset();
        locale = std::make_unique<test::TFixedLocale>(separator);
    }
    // The message LoadMap raises for the text `text`, or "" when it loads.
    std::string LoadError(const std::string& text) {
        map.SetText(text);
        try {
            map.LoadMap();
        } catch (const EMNox& e) {
            EXPECT_EQ(e.ErrorCode(), 4);
            return e.what();
        }
        return {};
    }

    std::unique_ptr<test::TFixedLocale> locale;
    TResistanceMap map;
};

TEST_F(ResistanceMapTest, TheShippedMapLoadsIntoTheMainWindowsTable) {
    UseSeparator('.');
    map.SetText(ShippedResistanceMapText());
    map.LoadMap();
    ASSERT_EQ(map.ColumnCount(), 18);
    ASSERT_EQ(map.RowCount(), 11);
    for (int row = 0; row < 11; ++row) {
        for (int column = 0; column < 18; ++column) {
            const auto& expected = kMainMap[static_cast<size_t>(row)];
            const double cell = static_cast<size_t>(column) < expected.size()
                                    ? expected[static_cast<size_t>(column)]
                                    : 0;
            EXPECT_EQ(map.Cell(row, column), cell) << "row " << row << " column " << column;
        }
    }
}

TEST_F(ResistanceMapTest, TheShippedMapIsTheDataFileEndingWithAnEmptyLine) {
    std::ifstream file(WCT_SHIPPED_MAP_FILE, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    EXPECT_EQ(content.str(), ShippedResistanceMapText());
    map.SetText(ShippedResistanceMapText());
    ASSERT_EQ(map.Strings().size(), 12u);
    EXPECT_EQ(map.Strings().back(), "");
    EXPECT_EQ(map.Strings()[3].back(), '\t') << "the 85 km/h cell of level 40 is empty";
}

TEST_F(ResistanceMapTest, ACommaIsReadAsTheDecimalSeparatorOfTheLocale) {
    UseSeparator('.');
    EXPECT_EQ(LoadError("0\t12,5\n0\t10\n\n"), "");
    EXPECT_EQ(map.Cell(0, 1), 12.5);
    UseSeparator(',');
    EXPECT_EQ(LoadError("0\t12,5\n0\t10\n\n"), "");
    EXPECT_EQ(map.Cell(0, 1), 12.5);
}

TEST_F(ResistanceMapTest, AFieldThatIsNoNumberRaisesTheFullMapError) {
    UseSeparator('.');
    EXPECT_EQ(LoadError("0\t5\t10\n0\tabc\t20\n\n"),
              "Error while reading the resistance map (Error code: 4)\r\n"
              "Please, contact the Corvi support\r\n\r\n"
              "line 2, field 2: 'abc' is not a valid floating point value");
    EXPECT_EQ(map.Cell(0, 2), 10) << "what was read before the fault stays";
    EXPECT_EQ(map.Cell(1, 2), 0);
}

TEST_F(ResistanceMapTest, NumbersTakeBlanksAroundThemButNoInfinityOrSecondPoint) {
    UseSeparator('.');
    EXPECT_EQ(LoadError("0\t 5 \t+10\n0\t1e1\t20\n\n"), "");
    EXPECT_EQ(map.Cell(0, 1), 5);
    EXPECT_EQ(map.Cell(0, 2), 10);
    EXPECT_EQ(map.Cell(1, 1), 10);
    EXPECT_NE(LoadError("0\tinf\n0\t1\n\n"), "");
    EXPECT_NE(LoadError("0\t1.2.3\n0\t1\n\n"), "");
    UseSeparator(',');
    EXPECT_NE(LoadError("0\t1.5\n0\t1\n\n"), "") << "a point is no separator here";
}

TEST_F(ResistanceMapTest, AnEmptyOrBlankFieldStaysZero) {
    EXPECT_EQ(LoadError("0\t5\t10\t15\n0\t3\t4\t5\n20\t4\t \t\n\n"), "");
    EXPECT_EQ(map.Cell(2, 1), 4);
    EXPECT_EQ(map.Cell(2, 2), 0);
    EXPECT_EQ(map.Cell(2, 3), 0);
}

// Each broken map is refused when loaded, naming the line as an editor counts it,
// instead of answering wrong levels or raising at every lookup.
TEST_F(ResistanceMapTest, ABrokenMapIsRefusedNamingItsLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"0\t5\t10\n0\t3\t6\n\n20\t4\t8\n\n", "line 3 is blank, between resistance levels"},
        {"0\t5\t10\n0\t3\t6\n \t\n20\t4\t8\n\n", "line 3 is blank"},
        {"0\t10\t5\n0\t3\t6\n\n", "line 1, field 3: the speed 5 km/h does not rise above 10"},
        {"0\t5\t5\n0\t3\t6\n\n", "line 1, field 3: the speed 5 km/h does not rise"},
        {"0\t5\t\t10\n0\t3\t6\t9\n\n", "line 1, field 3: no speed"},
        {"0\t5\t10\n0\t3\t6\n40\t4\t8\n20\t5\t9\n\n",
         "line 4: the resistance level 20 does not rise above 40 of line 3"},
        {"0\t5\t10\n0\t3\t6\n20\n\n", "line 3: the resistance level 20 has no power"},
        {"0\t5\t10\n0\t3\t6\n\t4\t8\n\n", "line 3, field 1: no resistance level"},
        {"0\t5\t10\n0\t3\t6\n20\t4\tx\n\n", "line 3, field 3: 'x' is not a valid"},
        // Shapes the lookup cannot interpolate on.
        {"0\t5\t10\t15\n0\t3\t6\t9\n20\t8\t7\n\n",
         "line 3: the power 7 W at 10 km/h falls below 8 W at 5 km/h"},
        {"0\t5\t10\t15\n0\t3\t6\t9\n20\t4\t\t10\n\n",
         "line 3: a power at 15 km/h after none at 10 km/h"},
        {"0\t5\t10\t15\n0\t3\t6\t9\n20\t4\t8\n40\t5\t9\t12\n\n",
         "line 4: a power at 15 km/h, where line 3 has none"},
        {"0\t5\t10\n0\t3\t6\n20\t4\t5\n\n", "line 3: the power 5 W at 10 km/h is below 6 W of line 2"},
    };
    for (const auto& [text, fault] : cases) {
        const std::string error = LoadError(text);
        EXPECT_NE(error.find("Error while reading the resistance map (Error code: 4)"),
                  std::string::npos)
            << text;
        EXPECT_NE(error.find(fault), std::string::npos) << error;
    }
}

TEST_F(ResistanceMapTest, EmptyFieldsEndingTheHeaderAndBlankLinesEndingTheTextAreIgnored) {
    EXPECT_EQ(LoadError("0\t5\t10\t\t\n0\t3\t6\n20\t4\t8\t\n\n\n \n"), "");
    EXPECT_EQ(map.ColumnCount(), 3);
    EXPECT_EQ(map.RowCount(), 3);
    EXPECT_EQ(map.Cell(2, 2), 8);
}

TEST_F(ResistanceMapTest, AnEmptyMapGivesTheMapErrorInsteadOfAFault) {
    EXPECT_NE(LoadError("").find("The resistance map has no lines"), std::string::npos);
    EXPECT_NE(LoadError("\n").find("names no speed"), std::string::npos);
    EXPECT_NE(LoadError("0\t5\n\n").find("no resistance level line"), std::string::npos);
}

TEST_F(ResistanceMapTest, AFirstLevelWithoutAPowerAtSomeSpeedIsRejected) {
    const std::string error = LoadError("0\t5\t10\t15\n0\t3\t\t9\n20\t4\t8\t12\n\n");
    EXPECT_NE(error.find("Error while reading the resistance map (Error code: 4)"),
              std::string::npos);
    EXPECT_NE(error.find("The first resistance level (line 2) has no power at 10 km/h"),
              std::string::npos)
        << error;
    EXPECT_NE(LoadError("0\t5\t10\n0\t3\n\n"), "") << "a line that stops early";
}

TEST_F(ResistanceMapTest, ATextWithoutTheClosingEmptyLineKeepsItsLastLine) {
    EXPECT_EQ(LoadError("0\t5\t10\n0\t3\t6\n20\t4\t8"), "");
    ASSERT_EQ(map.RowCount(), 3);
    EXPECT_EQ(map.Cell(2, 0), 20);
    EXPECT_EQ(map.Cell(2, 2), 8);
}

TEST_F(ResistanceMapTest, FieldsBeyondTheHeaderAreIgnored) {
    EXPECT_EQ(LoadError("0\t5\n0\t3\t99\n\n"), "");
    EXPECT_EQ(map.ColumnCount(), 2);
    EXPECT_EQ(map.Cell(1, 1), 3);
}

TEST_F(ResistanceMapTest, TheAdapterScalesPowersToWholeWattsHalvesToEven) {
    map.SetText("0\t5\t10\n0\t5\t7\n20\t9\t11\n\n");
    map.LoadMap();
    map.SetResistanceMapAdapter(0.5);
    map.ApplyAdapter();
    EXPECT_EQ(map.Cell(0, 1), 5) << "speeds untouched";
    EXPECT_EQ(map.Cell(2, 0), 20) << "levels untouched";
    EXPECT_EQ(map.Cell(1, 1), 2);  // 2.5
    EXPECT_EQ(map.Cell(1, 2), 4);  // 3.5
    EXPECT_EQ(map.Cell(2, 1), 4);  // 4.5
    EXPECT_EQ(map.Cell(2, 2), 6);  // 5.5

    map.SetVeloxVersion(3);
    map.SetResistanceMapAdapter(2);
    map.ApplyAdapter();
    EXPECT_EQ(map.Cell(2, 2), 6) << "older trainers keep their map";
}

TEST_F(ResistanceMapTest, AnAdapterOfZeroIsStoredAsOne) {
    map.SetResistanceMapAdapter(3);
    map.SetResistanceMapAdapter(0);
    EXPECT_EQ(map.ResistanceMapAdapter(), 1.0);
}

TEST_F(ResistanceMapTest, ChangesOfTheLinesAreAnnouncedBeforeAndAfter) {
    std::vector<std::string> seen;
    map.OnStringsChanging = [&](TComponent*) { seen.push_back("changing " + map.Text()); };
    map.OnStringsChange = [&](TComponent*) { seen.push_back("changed " + map.Text()); };
    map.SetText("a\nb\n");
    EXPECT_EQ(seen, (std::vector<std::string>{"changing ", "changed a\nb\n"}));
    TResistanceMap other;
    other.Assign(map);
    EXPECT_EQ(other.Strings(), (std::vector<std::string>{"a", "b"}));
    std::vector<std::string> lines;
    map.AssignTo(lines);
    EXPECT_EQ(lines, map.Strings());
}

TEST_F(ResistanceMapTest, TheLinesAreStoredAsStrDataAndReadBackInOrder) {
    TComponent form;
    form.SetName("Form1");
    auto* stored = new TResistanceMap(&form);
    stored->SetName("ResistanceMap1");
    stored->SetText(ShippedResistanceMapText());
    stored->SetResistanceLatency(3);
    const std::string text = WriteComponent(form);
    EXPECT_NE(text.find("StrData = '0'#9'5'#9'10'"), std::string::npos) << text;
    EXPECT_NE(text.find("VeloxVersion = 4"), std::string::npos) << text;
    EXPECT_NE(text.find("ResistanceMapAdapter = 1"), std::string::npos) << text;

    TComponent copy;
    auto* loaded = new TResistanceMap(&copy);
    loaded->SetName("ResistanceMap1");
    int announced = 0;
    loaded->OnStringsChange = [&](TComponent*) { ++announced; };
    loaded->SetText("old\n");
    announced = 0;
    ReadComponent(text, copy);
    EXPECT_EQ(loaded->Strings(), stored->Strings());
    EXPECT_EQ(loaded->ResistanceLatency(), 3);
    EXPECT_EQ(announced, 0) << "no announcement while the form is read";

    stored->SetText("");
    EXPECT_EQ(WriteComponent(form).find("StrData"), std::string::npos) << "no lines, not stored";
}

TEST_F(ResistanceMapTest, CarriageReturnsBeforeALineEndGoSoThatTheTextReadsBackTheSame) {
    map.SetText("0\t5\r\r\n1\t7\r\n2\r9\r\r\r");
    EXPECT_EQ(map.Strings(), (std::vector<std::string>{"0\t5", "1\t7", "2\r9"}));
    const std::string text = map.Text();
    map.SetText(text);
    EXPECT_EQ(map.Text(), text);
}

TEST_F(ResistanceMapTest, LoadedAnnouncementGoesOutWhenAsked) {
    int loaded = 0;
    map.OnResistanceMapLoaded = [&](TComponent* sender) {
        EXPECT_EQ(sender, &map);
        ++loaded;
    };
    map.DoResistanceMapLoaded();
    EXPECT_EQ(loaded, 1);
}

}  // namespace
}  // namespace wct
