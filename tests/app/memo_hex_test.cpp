// SPDX-License-Identifier: Apache-2.0
// The trace memo: every line reaches its change handler at once and in order, while the
// view takes them in batches and keeps only the newest.
#include "app/memo_hex.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
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

    // A second batch that pushes the first one's oldest rows out of the ring.
    ASSERT_TRUE(QTest::qWaitFor([&] { return memo.RowsShown() > 0; }, 1000));
    for (int i = total; i < total + 300; ++i) memo.Add("line " + std::to_string(i));
    const QAbstractItemModel& rows = *memo.model();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rows.index(0, 0).data() == "line 800"; }, 1000));
    EXPECT_EQ(rows.rowCount(), TMemoHEX::kMaxLinesShown);
    EXPECT_EQ(rows.index(rows.rowCount() - 1, 0).data().toString(),
              QString("line %1").arg(total + 299));
}

TEST(MemoHexTest, LinesReachTheScreenWithoutAskingOnTheNextBatch) {
    TMemoHEX memo;
    memo.Add("first");
    EXPECT_EQ(memo.RowsShown(), 0);  // not drawn line by line
    EXPECT_TRUE(QTest::qWaitFor([&] { return memo.RowsShown() == 1; }, 1000));
    EXPECT_EQ(memo.model()->index(0, 0).data().toString(), "first");
}

TEST(MemoHexTest, SelectedRowsCopyAsLinesAndALongLineScrollsSideways) {
    TMemoHEX memo;
    memo.resize(400, 200);
    memo.show();
    memo.Add("first");
    memo.Add(std::string(300, 'x'));
    memo.Add("third");
    ASSERT_TRUE(QTest::qWaitFor([&] { return memo.RowsShown() == 3; }, 1000));
    EXPECT_GT(memo.horizontalScrollBar()->maximum(), 0);  // not cut at the view's edge
    memo.selectionModel()->select(
        QItemSelection(memo.model()->index(0, 0), memo.model()->index(1, 0)),
        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QTest::keySequence(&memo, QKeySequence::Copy);
    EXPECT_EQ(QApplication::clipboard()->text(), QString("first\n") + QString(300, 'x'));
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
