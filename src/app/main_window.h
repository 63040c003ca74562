// SPDX-License-Identifier: Apache-2.0
// TForm1, "Wireless Console Test": the operator's bench. The window lays out its panels
// and wires them to its components and to each other; the panels own their controls and
// what those do: the link bar, "Console commands", "Identity", "Measures", "Consoles",
// "Resistances", "Trace", "Averages", "Console memory" and "Manual frame".
//
// The window owns its bench (TTestBench, with the components the window was designed with)
// and the log file for its whole life.
// The live views (the trace, the measures grid, the averages,
// the resistance grid's marks) follow one frame clock, so the window paints once for all.
//
// The "Link" menu records the session's wire traffic to a file, opens the link
// statistics view and publishes the bench to an MQTT broker; the "View" menu opens the
// live charts. The status bar says what the window waits for and where the trace is
// logged (in red when it is not), the broker's state while publishing, and in red the
// last statistics step of the device test window that failed.
//
// A console that falls silent (no measures for longer than its silence bound, see
// SilenceAfterMs) has its values blanked and its label greyed in the measures grid until
// it sends again. Silence makes no event of its own, so the window asks the protocol
// once a second.
//
// Handlers that wait (console tests, reads, writes) keep the event loop running, so the
// rest of the window stays live meanwhile; a button whose handler is still running shows
// that it is busy and ignores further clicks. Esc or "Disconnect" ends the wait.
//
// Closing the window closes every other window of the bench, which ends the program.
#pragma once

#include <QMainWindow>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "app/click_guard.h"
#include "app/frame_clock.h"
#include "app/panel_host.h"
#include "testbench/testbench.h"

class QLabel;

namespace wct {

class TAveragesPanel;
class TBrokerLink;
class TComLed;
class TForm2;
class TLinkBar;
class TLinkStatsView;
class TLiveChartsWindow;
class TLogToFile;
class TMeasuresPanel;
class TMemoHEX;
class TRecordingMenu;
class TResistancesPanel;
class TTraceLog;
class TTracePanel;

class TForm1 : public QMainWindow, public TPanelHost {
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // The window "VxDevicePanel" shows. A statistics step that fails there is traced and
    // shown in the status bar.
    void SetDeviceTestWindow(TForm2* window);
    // Puts `port` first in the port box if missing, selects it and names ComPort1 after
    // it (the built-in simulator's port).
    void SelectPort(const std::string& port);

    testbench::TTestBench& Bench() { return bench_; }
    // The components, by name: the root of the stored form.
    TComponent& Components() { return bench_.Root(); }
    TMiraWirelessProtocol& tmp() { return bench_.Protocol(); }
    TVeloxDeviceW& VeloxDeviceW1() { return bench_.RiderDevice(); }
    TResistanceMap& ResistanceMap1() { return bench_.ResistanceMap(); }
    wired::TVeloxDevice& VeloxDevice1() { return bench_.WiredDevice(); }
    TComLed& ComLed1();
    TComPort& ComPort1() { return bench_.ComPort1(); }
    TComPort* CurrentPort() const override;
    TMemoHEX& TraceMemo();
    TLogToFile& LogFile() { return *logFile_; }
    QTimer& Timer1();
    int SaveCounter() const;
    // The wire traffic recording of the "Link" menu.
    const testbench::TBenchRecording& Recording() const;
    // What the window waits for, with how to end it; empty while nothing waits.
    QString WaitText() const;
    // Where the trace is logged, or in red that it is not and why.
    QLabel& LogState() { return *logState_; }
    // The last failed statistics step of the device test window; hidden until one fails.
    QLabel& StepFailure() { return *stepFailure_; }
    TLinkStatsView& LinkStatsView() { return *linkStatsView_; }
    TBrokerLink& BrokerLink() { return *brokerLink_; }
    TLiveChartsWindow& LiveCharts() { return *liveCharts_; }
    // Shows the live charts window in front.
    void ShowLiveCharts();

    // What the panels are given.
    TMiraWirelessProtocol& Protocol() override { return tmp(); }
    TClickGuard& Clicks() override { return clicks_; }
    TFrameClock& Frames() override { return frames_; }
    void Trace(const std::string& line) override;
    void ShowMessage(const std::string& text) override;
    bool Closing() const override { return closing_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BeginWait(std::string what) override;
    void EndWait() override;
    void BuildWindow();
    void BuildMenu();
    void FormCreate();
    void MeasuresReceived(const TMiraWirelessConsoleMeasures& val, uint8_t idConsole);
    // Esc: ends what the window waits for; false when nothing waits.
    bool EndWaits();
    void ShowWaits();
    void ShowLogState();
    void ShowStepFailure(const std::string& text);

    // Before the components: the protocol's port may still trace while they go.
    TFrameClock frames_;
    testbench::TTestBench bench_;
    std::unique_ptr<TLogToFile> logFile_;
    std::unique_ptr<TTraceLog> traceLog_;
    // Asks the protocol for consoles fallen silent: silence sends no event.
    QTimer silenceWatch_;
    TClickGuard clicks_;
    bool closing_ = false;
    std::unique_ptr<TRecordingMenu> recording_;
    std::vector<std::string> waits_;  // what the running handlers wait for, innermost last
    std::string logNote_;             // why the trace left its file, if it did
    std::unique_ptr<TLinkStatsView> linkStatsView_;
    std::unique_ptr<TBrokerLink> brokerLink_;
    std::unique_ptr<TLiveChartsWindow> liveCharts_;

    // ---- Panels and the status bar ----
    TLinkBar* link_ = nullptr;
    TMeasuresPanel* measures_ = nullptr;
    TResistancesPanel* resistances_ = nullptr;
    TTracePanel* trace_ = nullptr;
    TAveragesPanel* averages_ = nullptr;
    QLabel* waitState_ = nullptr;
    QLabel* logState_ = nullptr;
    QLabel* stepFailure_ = nullptr;
};

}  // namespace wct
