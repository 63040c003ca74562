// SPDX-License-Identifier: Apache-2.0
// The quick drawing of plain-text cells must look exactly as the style's own drawing.
#include "app/plain_text_delegate.h"

#include <gtest/gtest.h>

#include <QStyledItemDelegate>
#include <QTest>

#include "app/memo_hex.h"
#include "app/string_grid.h"

namespace wct {
namespace {

// The view as drawn now, and as drawn with the style's delegate instead.
std::pair<QImage, QImage> Drawings(QAbstractItemView& view) {
    const QImage quick = view.grab().toImage();
    view.setItemDelegate(new QStyledItemDelegate(&view));
    return {quick, view.grab().toImage()};
}

TEST(PlainTextDelegateTest, GridAndTraceCellsLookAsTheStyleDrawsThem) {
    TStringGrid grid(4, 6);
    grid.LabelRows(0);  // a background of their own: drawn by the style
    grid.SetColWidths({40, 60, 50, 60});
    grid.SetCell(1, 0, "RPM");
    grid.SetCell(1, 1, "2888");
    grid.SetCell(2, 1, "24.5");
    grid.SetCell(2, 2, "a text far too long for its column");  // elided by the style
    grid.SetCell(1, 3, "67");
    grid.item(2, 1)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    grid.SetCell(1, 4, "75");
    grid.setCurrentCell(3, 1);  // selected and focused
    grid.resize(260, 160);
    const auto [quick, styled] = Drawings(grid);
    EXPECT_EQ(quick, styled);

    TMemoHEX memo;
    memo.resize(300, 100);
    memo.Add("19:12:15->3E130001010021 Start Measure");
    memo.Add("19:12:15<-3E0101050B36434B000021 Data of console n°1");
    memo.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return memo.RowsShown() == 2; }, 1000));
    const auto [quickTrace, styledTrace] = Drawings(memo);
    EXPECT_EQ(quickTrace, styledTrace);
}

}  // namespace
}  // namespace wct
