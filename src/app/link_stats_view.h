// SPDX-License-Identifier: Apache-2.0
// TLinkStatsView, "Link Statistics": how healthy the radio link to each console is, from
// the protocol component's link statistics. One row per console (0 is the dongle), the
// link's totals below; refreshed once a second while the window is shown, so it costs
// nothing while closed. "Clear" starts the statistics afresh. Non-modal; main thread
// only; the protocol must outlive the view.
#pragma once

#include <QTimer>
#include <QWidget>

class QLabel;
class QTableWidget;

namespace wct {

class TMiraWirelessProtocol;

class TLinkStatsView : public QWidget {
public:
    explicit TLinkStatsView(TMiraWirelessProtocol& protocol, QWidget* parent = nullptr);

    // Shows the statistics as they are now.
    void Refresh();
    QTableWidget& Grid() { return *grid_; }
    QLabel& Totals() { return *totals_; }
    QTimer& RefreshTimer() { return timer_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void ClearClick();

    TMiraWirelessProtocol& protocol_;
    QTableWidget* grid_ = nullptr;
    QLabel* totals_ = nullptr;
    QTimer timer_;
};

}  // namespace wct
