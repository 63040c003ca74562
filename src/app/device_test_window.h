// SPDX-License-Identifier: Apache-2.0
// TForm2, "VxDeviceW Test": exercises every wireless rider device the main window
// carries. It lists them, connects, starts, pauses, stops and disconnects them all at
// once, switches their virtual speed, shows each device's statistics in a grid row on
// every statistics step, lets the operator type a road slope per device, and closes the
// resistance loop: on every step each device's resistance is set from the resistance
// map at the ride model's power.
//
// A statistics step that fails (a resistance lookup that cannot answer) is written in the
// debug memo and handed to OnStepFailed, once for each kind of failure; the device's
// brake keeps the level of its last good step, and the row still shows the step.
//
// A button that waits looks busy; Esc ends its wait.
//
// Devices are found among the components of the main window's root by class name
// ("Update"); the window drops a device that is destroyed before it. Main thread only.
#pragma once

#include <QPoint>
#include <QWidget>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/click_guard.h"
#include "device/velox_device_w.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace wct {

class TStringGrid;

class TForm2 : public QWidget {
public:
    // `mainComponents`: the component root whose TVeloxDeviceW components are listed.
    explicit TForm2(TComponent& mainComponents, QWidget* parent = nullptr);
    ~TForm2() override;

    const std::vector<TVeloxDeviceW*>& Devices() const { return devices_; }
    TStringGrid& Grid() { return *grid_; }
    QPlainTextEdit& DebugMemo() { return *debugMemo_; }

    // The statistics handler: closes the resistance loop and fills the device's row.
    void StatsHandler(TVeloxDeviceW& device);
    // Fills the device's row from what it reports now (after each of this window's
    // buttons, so that the row never shows a state the button just changed).
    void ShowRow(TVeloxDeviceW& device);

    // A device's statistics step failed: what the memo says, with the device's name.
    std::function<void(const std::string& text)> OnStepFailed;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class TDeviceWatch;

    void BuildWindow();
    QWidget* BuildLeftPanel();
    void BuildGrid();
    QWidget* BuildBottomPanel();
    void FitColumns();
    QPushButton* Button(const QString& caption, void (TForm2::*handler)());
    // Runs a click handler: not again while it still runs; a failure is shown.
    void Run(QPushButton* button, void (TForm2::*handler)());

    void UpdateClick();
    void ConnectClick();
    void DisconnectClick();
    void StartClick();
    void PauseClick();
    void StopClick();
    void VirtualClick();
    void GridUpdateClick();
    void ShowRows();
    void GridClick();
    void SlopeEntered();
    void KeyHandler(TVeloxDeviceW& device, TConsoleKey key);
    void DisconnectionHandler(TVeloxDeviceW& device);
    void StepFailed(TVeloxDeviceW& device, const std::string& what);

    void Write(const std::string& line);
    // Esc while a button's handler runs: the waits of the devices' protocol end.
    bool EndWaits();
    // The device's grid row: its place in the list plus one; row 10 for a stranger.
    int RowOf(const TVeloxDeviceW& device) const;
    void Unbind();
    void Forget(TComponent* device);

    TComponent& mainComponents_;
    std::unique_ptr<TDeviceWatch> watch_;
    std::vector<TVeloxDeviceW*> devices_;
    TClickGuard clicks_;
    QPoint mousePos_;
    int editCol_ = -1;
    int editRow_ = -1;

    QPlainTextEdit* deviceMemo_ = nullptr;
    QPlainTextEdit* debugMemo_ = nullptr;
    QPushButton* virtual_ = nullptr;
    QPushButton* update_ = nullptr;
    TStringGrid* grid_ = nullptr;
    QLineEdit* slopeEdit_ = nullptr;
};

}  // namespace wct
