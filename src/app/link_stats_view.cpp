// SPDX-License-Identifier: Apache-2.0
#include "app/link_stats_view.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "common/tick_count.h"
#include "protocol/link_report_table.h"
#include "protocol/wireless_protocol.h"

namespace wct {

TLinkStatsView::TLinkStatsView(TMiraWirelessProtocol& protocol, QWidget* parent)
    : QWidget(parent, Qt::Window), protocol_(protocol) {
    setObjectName("LinkStatsView");
    setWindowTitle("Link Statistics");

    grid_ = new QTableWidget(0, static_cast<int>(kLinkReportColumns.size()));
    grid_->setObjectName("LinkStatsGrid");
    QStringList captions;
    for (const TLinkReportColumn& column : kLinkReportColumns) captions << column.caption;
    grid_->setHorizontalHeaderLabels(captions);
    grid_->horizontalHeaderItem(0)->setToolTip("0 is the dongle");
    grid_->verticalHeader()->hide();
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    // The figures as wide as they need; the latency list takes the rest of the width and
    // wraps between commands, so that it grows down rather than past the window's edge.
    grid_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    grid_->horizontalHeader()->setSectionResizeMode(grid_->columnCount() - 1, QHeaderView::Stretch);
    grid_->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    grid_->setWordWrap(true);
    grid_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid_->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);

    totals_ = new QLabel;
    totals_->setObjectName("LinkStatsTotals");
    auto* clear = new QPushButton("Clear");
    clear->setObjectName("Clear");
    connect(clear, &QPushButton::clicked, this, [this] { ClearClick(); });
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(totals_, 1);
    bottom->addWidget(clear);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(grid_, 1);
    layout->addLayout(bottom);

    timer_.setInterval(1000);
    connect(&timer_, &QTimer::timeout, this, [this] { Refresh(); });
    Refresh();
    resize(std::max(grid_->horizontalHeader()->length() + 300, 900), 320);
}

void TLinkStatsView::Refresh() {
    const TMiraLinkReport report = protocol_.LinkReport();
    grid_->setRowCount(static_cast<int>(report.consoles.size()));
    for (int r = 0; r < grid_->rowCount(); ++r) {
        const TLinkReportRow row = LinkReportRow(report.consoles[static_cast<size_t>(r)]);
        for (int c = 0; c < grid_->columnCount(); ++c) {
            QTableWidgetItem* item = grid_->item(r, c);
            if (item == nullptr) {
                item = new QTableWidgetItem;
                // Figures line up on the right; the latency list reads from the left.
                item->setTextAlignment(c + 1 < grid_->columnCount()
                                           ? Qt::AlignRight | Qt::AlignVCenter
                                           : Qt::AlignLeft | Qt::AlignVCenter);
                grid_->setItem(r, c, item);
            }
            QString text = QString::fromStdString(row[static_cast<size_t>(c)]);
            // The commands' latencies, spaced for reading.
            if (c + 1 == grid_->columnCount()) text.replace(",", ", ");
            item->setText(text);
        }
    }
    QStringList totals;
    for (const TLinkReportTotal& total : LinkReportTotals(report))
        totals << QString("%1: %2").arg(total.name.caption, QString::fromStdString(total.value));
    totals_->setText(totals.join("    "));
}

void TLinkStatsView::ClearClick() {
    protocol_.LinkStatistics().Clear(GetTickCount());
    Refresh();
}

void TLinkStatsView::showEvent(QShowEvent* event) {
    Refresh();
    timer_.start();
    QWidget::showEvent(event);
}

void TLinkStatsView::hideEvent(QHideEvent* event) {
    timer_.stop();
    QWidget::hideEvent(event);
}

}  // namespace wct
