// The trace memo: every line reaches its change handler at once and in order, while the
// screen takes them in batches and keeps only the newest.
#include "app/memo_hex.h"

#include <gtest/gtest.h>

#include <QTest>

namespace wct {
namespace {

TEST(MemoHexTest, EveryLineIsAnnouncedInOrderAndTheScreenKeepsTheNewest) {
    TMemoHEX memo;
    std::vector<std::string> announced;
    memo.OnChange = [&] { announced.push_back(memo.LastLine()); };
    const int total = TMemoHEX::kMaxLinesShown + 500;
    for (int i = 0; i < total; ++i) memo.Add("line " + std::to_string(i));
    ASSERT_EQ(announced.size(), static_cast<size_t>(total));
    EXPECT_EQ(announced.front(), "line 0");
    EXPECT_EQ(announced.back(), "line " + std::to_string(total - 1));
    const QStringList shown = memo.Lines();
    ASSERT_EQ(shown.size(), TMemoHEX::kMaxLinesShown);
    EXPECT_EQ(shown.first(), "line 500");
    EXPECT_EQ(shown.last().toStdString(), "line " + std::to_string(total - 1));
}

TEST(MemoHexTest, LinesReachTheScreenWithoutAskingOnTheNextBatch) {
    TMemoHEX memo;
    memo.Add("first");
    EXPECT_TRUE(memo.toPlainText().isEmpty());  // not drawn line by line
    EXPECT_TRUE(QTest::qWaitFor([&] { return memo.toPlainText() == "first"; }, 1000));
}

TEST(MemoHexTest, ClearEmptiesTheScreenAndTheLastLine) {
    TMemoHEX memo;
    memo.Add("a");
    memo.Add("b");
    memo.Clear();
    EXPECT_TRUE(memo.Lines().isEmpty());
    EXPECT_EQ(memo.LastLine(), "");
    memo.Add("c");
    EXPECT_EQ(memo.Lines(), QStringList{"c"});
}

}  // namespace
}  // namespace wct
