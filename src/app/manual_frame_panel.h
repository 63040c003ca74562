// SPDX-License-Identifier: Apache-2.0
// TManualFramePanel, "Manual frame": sends the hex text of hexSt, as bytes, on the port the
// window works on, and traces it; recordings of the wire hold it too. Its hidden "Start"
// button, never shown, sends the roll start and stop frames in turn through it.
#pragma once

#include <QGroupBox>

#include "app/panel_host.h"

class QLineEdit;
class QPushButton;

namespace wct {

class TManualFramePanel : public QGroupBox {
public:
    explicit TManualFramePanel(TPanelHost& host);

private:
    void SendSingleCommandClick();
    void HiddenStartClick();
    bool PortOpen() const;

    TPanelHost& host_;
    QLineEdit* hexSt = nullptr;
    QPushButton* hiddenStart_ = nullptr;
};

}  // namespace wct
