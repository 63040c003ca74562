// TManualFramePanel, "Manual frame": sends the hex text of hexSt, as bytes, on the port the
// window works on, and traces it; recordings of the wire hold it too. The hidden "Start"
// button sends the roll start and stop frames in turn through it.
#pragma once

#include <QGroupBox>

class QLineEdit;
class QPushButton;

namespace wct {

class TPanelHost;

class TManualFramePanel : public QGroupBox {
public:
    explicit TManualFramePanel(TPanelHost& host);

    // The hidden "Start" button, for the window to keep out of sight.
    QPushButton& HiddenStart() { return *hiddenStart_; }

private:
    void SendSingleCommandClick();
    void HiddenStartClick();
    bool PortOpen() const;

    TPanelHost& host_;
    QLineEdit* hexSt = nullptr;
    QPushButton* hiddenStart_ = nullptr;
};

}  // namespace wct
