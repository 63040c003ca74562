// TForm1, "Wireless Console Test": the operator's bench. Every operation of the wireless
// protocol component sits behind a control; three grids show the consoles' measures,
// their identity data and the resistances to send; the trace memo shows every frame and
// is copied line by line to the log file.
//
// The window owns its components for its whole life: ComPort1 with its framer (never
// opened; after "Connect" the window works on the protocol's own port, which the port
// lamp ComLed1 and "Com Settings" follow), the protocol `tmp`, the rider device
// VeloxDeviceW1 on `tmp` and its resistance map ResistanceMap1 (the device test window
// finds the device among the components), Timer1, the log file and two moving averages.
// Their design values are a stored form loaded before the creation step, as the bench's
// components always were.
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
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/click_guard.h"
#include "common/component.h"
#include "device/resistance_map.h"
#include "device/velox_device_w.h"
#include "protocol/mira_average.h"
#include "protocol/wireless_protocol.h"
#include "serial/com_data_packet.h"
#include "serial/com_port.h"
#include "testbench/testbench.h"
#include "wired/velox_device.h"

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;

namespace wct {

class TBrokerLink;
class TComLed;
class TForm2;
class TLinkStatsView;
class TLiveChartsWindow;
class TRecordingControl;
class TLogToFile;
class TMemoHEX;
class TStringGrid;
class TTraceLog;

class TForm1 : public QMainWindow {
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // The window "VxDevicePanel" shows. A statistics step that fails there is traced and
    // shown in the status bar.
    void SetDeviceTestWindow(TForm2* window);
    // Puts `port` first in the port box if missing, selects it and names ComPort1 after
    // it (the built-in simulator's port).
    void SelectPort(const std::string& port);

    // The components, by name: the root of the stored form.
    TComponent& Components() { return components_; }
    TMiraWirelessProtocol& tmp() { return *tmp_; }
    TVeloxDeviceW& VeloxDeviceW1() { return *veloxDeviceW1_; }
    TResistanceMap& ResistanceMap1() { return *resistanceMap1_; }
    wired::TVeloxDevice& VeloxDevice1() { return *veloxDevice1_; }
    TComLed& ComLed1() { return *ComLed1_; }
    TComPort& ComPort1() { return *comPort1_; }
    // The port the manual sender works on: ComPort1 until "Connect", then the protocol's.
    TComPort* CurrentPort() const { return currentPort_; }
    TMemoHEX& TraceMemo() { return *Memo2; }
    TLogToFile& LogFile() { return *logFile_; }
    QTimer& Timer1() { return timer1_; }
    int SaveCounter() const { return saveCounter_; }
    // The wire traffic recording of the "Link" menu.
    const TRecordingControl& Recording() const { return *recording_; }
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

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Says in the status bar what a waiting handler waits for, for its lifetime.
    class TWaitNote {
    public:
        TWaitNote(TForm1& form, std::string what);
        ~TWaitNote();
        TWaitNote(const TWaitNote&) = delete;
        TWaitNote& operator=(const TWaitNote&) = delete;

    private:
        TForm1& form_;
    };

    // ---- Building (main_window.cpp) ----
    void CreateComponents();
    void BuildWindow();
    void BuildMenu();
    QWidget* BuildLinkBar();
    QWidget* BuildConsolePanel();
    QWidget* BuildDataPanel();
    QWidget* BuildResistancePanel();
    QWidget* BuildTracePanel();
    QWidget* BuildMemoryPanel();
    QWidget* BuildHiddenControls();
    void FormCreate();
    // A button whose clicks run `handler`; see Run.
    QPushButton* Button(const QString& caption, void (TForm1::*handler)());
    // Runs a click handler: not again while it still runs, and a failure is shown
    // rather than thrown through Qt.
    void Run(QPushButton* button, void (TForm1::*handler)());

    // ---- Handlers (main_window_handlers.cpp) ----
    void ComSettingsClick();
    void ConnectClick();
    void DisconnectClick();
    void StartMeasureClick();
    void StopMeasureClick();
    void OpenClick();
    void CloseClick();
    void NumConsoleClick();
    void SerialRequestClick();
    void FwVerClick();
    void VersionNumberClick();
    void SelectClick();
    void DeselectClick();
    void RollStartClick();
    void RollPauseClick();
    void ReqTotalRollsClick();
    void ResetRollsClick();
    void DiscConsIdClick();
    void DiscAllConsClick();
    void AskAllRollsClick();
    void StartAllRollsClick();
    void TriggerClockClick();
    void TestSignalsClick();
    void TestKeysClick();
    void TestCardioClick();
    // A console test on "For Console": busy while it waits, then its ok or error message.
    void RunConsoleTest(const char* test, bool (TMiraWirelessProtocol::*run)(uint8_t),
                        const char* ok, const char* error);
    void SendResClick();
    void UpdateClick();
    void SendSingleCommandClick();
    void ClearClick();
    void StartTestClick();
    void StopTestClick();
    void VxDevicePanelClick();
    void ViewDataClick();
    void ReadDataClick();
    void ReadPageClick();
    void WriteDataClick();
    void HiddenStartClick();
    void Timer1Timer();
    void RecordClick();
    void StopRecordingClick();
    void LinkStatisticsClick();
    // Ends the recording; says so when it did not keep everything.
    void StopRecording();
    void ShowRecordingState();
    // Esc: ends what the window waits for; false when nothing waits.
    bool EndWaits();
    void ShowWaits();
    void ShowLogState();

    void MeasuresReceived(const TMiraWirelessConsoleMeasures& val, uint8_t idConsole);
    // The measures that came since the last call, into the grid and the averages.
    void ShowMeasures();
    // The console's row is drawn blank with the next batch.
    void ConsoleSilent(int id);
    // The label cells of consoles whose brake the interlock holds at 0, in both grids, and
    // of silent consoles in the measures grid.
    void MarkRows();
    void ShowStepFailure(const std::string& text);
    void BeforeSendResistance();
    void TraceChanged();
    void ShowMessage(const std::string& text);
    uint8_t ForConsole() const;
    // Every connected console of the table from index 1, asked with `request`.
    void ForEachConnectedConsole(const std::function<void(uint8_t id)>& request);
    // Trace lines that must reach the trace whatever the protocol's state.
    void Trace(const std::string& line);
    // The byte line of a successful read: time of day, then " XX" per byte.
    std::string ReadLine(uint8_t console) const;
    uint8_t DataConsole() const;
    // The "Bytes" count of a read or a write: decimal, at most 8.
    uint8_t ByteCount() const;
    // The "Address": hex, four digits at most.
    uint16_t Address() const;
    void ApplyDebugSwitches();

    // ---- Components ----
    TComponent components_;  // the stored form's root, "Form1"
    TComPort* comPort1_ = nullptr;
    TComDataPacket* comDataPacket1_ = nullptr;
    TMiraWirelessProtocol* tmp_ = nullptr;
    TVeloxDeviceW* veloxDeviceW1_ = nullptr;
    std::unique_ptr<testbench::TTestBench> bench_;
    TResistanceMap* resistanceMap1_ = nullptr;
    wired::TVeloxDevice* veloxDevice1_ = nullptr;
    QTimer timer1_;
    std::unique_ptr<TLogToFile> logFile_;
    std::unique_ptr<TTraceLog> traceLog_;
    TMiraAverage speedAverage_;
    TMiraAverage hrAverage_;
    int saveCounter_ = 0;
    TComPort* currentPort_ = nullptr;
    TForm2* deviceTestWindow_ = nullptr;
    // Asks the protocol for consoles fallen silent: silence sends no event.
    QTimer silenceWatch_;
    TClickGuard clicks_;
    bool closing_ = false;
    std::unique_ptr<TRecordingControl> recording_;
    std::vector<std::string> waits_;  // what the running handlers wait for, innermost last
    std::string logNote_;             // why the trace left its file, if it did
    // Notices a recording that stopped on a write error.
    QTimer recordingCheck_;
    std::unique_ptr<TLinkStatsView> linkStatsView_;
    std::unique_ptr<TBrokerLink> brokerLink_;
    std::unique_ptr<TLiveChartsWindow> liveCharts_;
    // Measures are drawn with the trace's batches: the live table, and the consoles with
    // measures not drawn yet.
    TMiraWirelessConsoleMeasures measuresShown_;
    std::vector<bool> rowsToShow_;

    // ---- Controls, by the names the bench has always used ----
    QAction* record_ = nullptr;
    QAction* stopRecording_ = nullptr;
    QLabel* recordingLabel_ = nullptr;
    QLabel* waitState_ = nullptr;
    QLabel* logState_ = nullptr;
    QLabel* stepFailure_ = nullptr;
    QComboBox* ComboBox1 = nullptr;
    TComLed* ComLed1_ = nullptr;
    TMemoHEX* Memo2 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;  // hidden: the lines Timer1 saves
    QPlainTextEdit* Memo3 = nullptr;
    QPlainTextEdit* Memo4 = nullptr;
    QPlainTextEdit* Memo5 = nullptr;
    TStringGrid* GridDati = nullptr;
    TStringGrid* GridConsole = nullptr;
    TStringGrid* GridResist = nullptr;
    QSpinBox* txtIdTotalRolls = nullptr;
    QSpinBox* txtSNid = nullptr;
    QSpinBox* txtVNid = nullptr;
    QSpinBox* dataConsoleID = nullptr;
    QLineEdit* hexSt = nullptr;
    QLineEdit* Edit1 = nullptr;              // address
    QLineEdit* Edit2 = nullptr;              // byte count
    std::array<QLineEdit*, 8> dataBytes_{};  // Edit5 to Edit12
    QCheckBox* enableTime_ = nullptr;
    QCheckBox* noDataMessages_ = nullptr;
    QPushButton* sendRes_ = nullptr;
    QSpinBox* maxHr_ = nullptr;  // the brake interlock's bench-wide maximum
    QPushButton* viewData_ = nullptr;
    QPushButton* hiddenStart_ = nullptr;
    // The hidden "Data single console" group.
    QGroupBox* singleConsole_ = nullptr;
    QLabel* speedLabel_ = nullptr;
    QLabel* hrLabel_ = nullptr;
    QLabel* hrAverageLabel_ = nullptr;
    QLabel* cadenceLabel_ = nullptr;
    QLabel* keysLabel_ = nullptr;
    QLabel* kmhLabel_ = nullptr;
};

}  // namespace wct
