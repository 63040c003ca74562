// SPDX-License-Identifier: Apache-2.0
// TTracePanel, "Trace": the trace memo (Memo2, the protocol's DebugMemo) and what the
// operator does with it: "Clear", the protocol's time stamps and data lines ("Enable
// time", "No data messages"), and the connection test, which hides the memo and lets
// Timer1 save the hidden memo of saved lines (Memo1) every 30 minutes, as 1.log, 2.log ...
// in the working folder; Memo1 is never shown. Another panel's view may stand beside the
// trace memo.
#pragma once

#include <QGroupBox>
#include <QTimer>

#include "app/panel_host.h"

class QCheckBox;
class QHBoxLayout;
class QPlainTextEdit;

namespace wct {

class TMemoHEX;

class TTracePanel : public QGroupBox {
public:
    explicit TTracePanel(TPanelHost& host);

    TMemoHEX& TraceMemo() { return *Memo2; }
    QTimer& Timer1() { return timer1_; }
    int SaveCounter() const { return saveCounter_; }
    // Places `view` beside the trace memo, narrower.
    void AddBeside(QWidget* view);
    // Gives the protocol the boxes' states again: it forgets them on every reset.
    void ApplyDebugSwitches();

private:
    // Starts or stops the connection test.
    void ConnectionTest(bool start);
    void Timer1Timer();

    TPanelHost& host_;
    TMemoHEX* Memo2 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QHBoxLayout* memos_ = nullptr;
    QCheckBox* enableTime_ = nullptr;
    QCheckBox* noDataMessages_ = nullptr;
    QTimer timer1_;
    int saveCounter_ = 0;
};

}  // namespace wct
