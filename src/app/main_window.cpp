// SPDX-License-Identifier: Apache-2.0
// The main window's components, its layout and the wiring of its panels.
#include "app/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QVBoxLayout>
#include <chrono>
#include <initializer_list>
#include <utility>

#include "app/averages_panel.h"
#include "app/broker_link.h"
#include "app/console_commands_panel.h"
#include "app/consoles_panel.h"
#include "app/device_test_window.h"
#include "app/identity_panel.h"
#include "app/link_bar.h"
#include "app/link_stats_view.h"
#include "app/live_charts_window.h"
#include "app/log_to_file.h"
#include "app/manual_frame_panel.h"
#include "app/measures_panel.h"
#include "app/memo_hex.h"
#include "app/memory_panel.h"
#include "app/panel_controls.h"
#include "app/production_check_window.h"
#include "app/recording_menu.h"
#include "app/resistances_panel.h"
#include "app/trace_log.h"
#include "app/trace_panel.h"
#include "common/locale_info.h"
#include "common/user_messages.h"

namespace wct {
namespace {

// Panels stacked in a column, at the top.
QWidget* Column(std::initializer_list<QWidget*> panels) {
    auto* column = new QWidget;
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    for (QWidget* panel : panels) layout->addWidget(panel);
    layout->addStretch(1);
    return column;
}

// Widgets side by side, each with its stretch.
QWidget* Row(std::initializer_list<std::pair<QWidget*, int>> widgets) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    for (const auto& [widget, stretch] : widgets) layout->addWidget(widget, stretch);
    return row;
}

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

// The design values of the window's components beside the bench's own.
constexpr const char* kWindowForm = R"(
object Form1: TForm1
  object ComPort1: TComPort
    BaudRate = br115200
    Port = 'COM4'
    Events = [evRxChar, evRxFlag]
    FlowControl.OutCTSFlow = True
    FlowControl.ControlRTS = rtsHandshake
  end
  object ComDataPacket1: TComDataPacket
    ComPort = 'ComPort1'
    CaseInsensitive = True
    IncludeStrings = True
    StartString = '>'
    StopString = '!'
  end
  object tmp: TMiraWirelessProtocol
    DisplayMessage = True
    DisconDelayBetweenCloseOpenPort = 0
    TimeToWaitAddNewConsole = 20000
    ReplyTimeOut = 20000
  end
  object VeloxDevice1: TVeloxDevice
    ComPortPort = 'COM1'
  end
end
)";

}  // namespace

TForm1::TForm1(QWidget* parent)
    : QMainWindow(parent), bench_(kWindowForm), clicks_([this] { return EndWaits(); }) {
    setWindowTitle("Wireless Console Test");
    setObjectName("Form1");
    BuildWindow();
    BuildMenu();
    FormCreate();
}

TForm1::~TForm1() {
    // The protocol's trace, wire tap and events, and the trace memo's, point into this
    // window and its panels. The panels outlive the window's members, and the port, closed
    // after them, runs events while its thread ends.
    TraceMemo().OnChange = nullptr;
    tmp().SetWireTap(nullptr);
    tmp().SetDebugMemo(nullptr);
    tmp().OnMeasuresReceived = nullptr;
    tmp().OnConsoleSilent = nullptr;
    tmp().OnBeforeSendResistance = nullptr;
    tmp().OnDisconnection = nullptr;
    tmp().StopResistanceSending();
}

void TForm1::BuildWindow() {
    // Every measures frame looks too; this is for when none arrives at all. A look costs a
    // pass over the measures table, once a second.
    silenceWatch_.setInterval(1000);
    connect(&silenceWatch_, &QTimer::timeout, this, [this] { tmp().WatchSilence(); });
    silenceWatch_.start();

    link_ = new TLinkBar(*this, ComPort1());
    link_->OnDisconnected = [this] { trace_->ApplyDebugSwitches(); };
    measures_ = new TMeasuresPanel(tmp(), frames_);
    resistances_ = new TResistancesPanel(*this);
    trace_ = new TTracePanel(*this);
    averages_ = new TAveragesPanel(frames_);
    auto* memory = new TMemoryPanel(*this);
    auto* manual = new TManualFramePanel(*this);
    trace_->AddBeside(&memory->DataMemo());

    QWidget* consoles = Column({new TConsoleCommandsPanel(*this), new TIdentityPanel(*this)});
    consoles->setMaximumWidth(300);
    QWidget* live = Row({{measures_, 0}, {new TConsolesPanel(*this), 0}});
    QWidget* upper = Row({{consoles, 0}, {live, 1}, {resistances_, 0}});
    QWidget* lower = Row({{Row({{trace_, 1}, {averages_, 0}}), 1}, {Column({memory, manual}), 0}});

    auto* splitter = new QSplitter(Qt::Vertical);
    splitter->addWidget(upper);
    splitter->addWidget(lower);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    splitter->setChildrenCollapsible(false);

    // Leftovers the bench carries without showing them.
    auto* hidden = new QWidget;
    auto* hiddenLayout = new QHBoxLayout(hidden);
    hiddenLayout->addWidget(new QCheckBox("Mostra pacchetti"));
    hiddenLayout->addWidget(new QLineEdit("10"));
    hidden->hide();

    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(link_);
    layout->addWidget(splitter, 1);
    layout->addWidget(hidden);
    setCentralWidget(central);

    waitState_ = Label("", "WaitState");
    logState_ = Label("", "LogState");
    logState_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    stepFailure_ = Label("", "StepFailure");
    stepFailure_->setStyleSheet("color: #c00000;");
    stepFailure_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    stepFailure_->hide();
    statusBar()->addWidget(waitState_, 1);
    statusBar()->addWidget(stepFailure_);
    statusBar()->addPermanentWidget(logState_);
    // Fits a 1366 x 768 screen with its title bar and a panel.
    resize(1350, 690);

    tmp().OnMeasuresReceived = [this](const TMiraWirelessConsoleMeasures& val, uint8_t id) {
        MeasuresReceived(val, id);
    };
    tmp().OnConsoleSilent = [this](int id) { measures_->ConsoleSilent(id); };
    tmp().OnBeforeSendResistance = [this] { resistances_->BeforeSendResistance(); };
}

void TForm1::BuildMenu() {
    QMenu* link = menuBar()->addMenu("&Link");
    recording_ = std::make_unique<TRecordingMenu>(*this, bench_.Recording());
    recording_->AddTo(*link);
    link->addSeparator();
    linkStatsView_ = std::make_unique<TLinkStatsView>(tmp());
    link->addAction("Link S&tatistics", this, [this] {
            linkStatsView_->show();
            linkStatsView_->raise();
            linkStatsView_->activateWindow();
        })->setObjectName("LinkStatistics");
    link->addSeparator();
    brokerLink_ = std::make_unique<TBrokerLink>(*this, bench_);
    brokerLink_->AddTo(*link);
    menuBar()
        ->addMenu("&Check")
        ->addAction("&Production Check...", this,
                    [this] { ShowProductionCheckWindow(bench_, this); })
        ->setObjectName("ProductionCheck");

    QMenu* view = menuBar()->addMenu("&View");
    view->addAction("Live &Charts", this, [this] { ShowLiveCharts(); })
        ->setObjectName("LiveCharts");
    liveCharts_ = std::make_unique<TLiveChartsWindow>(VeloxDeviceW1());
}

void TForm1::ShowLiveCharts() {
    liveCharts_->show();
    liveCharts_->raise();
    liveCharts_->activateWindow();
}

void TForm1::FormCreate() {
    // 1. The log file; a log that cannot be written here moves to the state directory.
    logFile_ = std::make_unique<TLogToFile>();
    logFile_->SetIncSuffix(true);
    logFile_->SetLogFileName("VxWireless.log");
    logFile_->SetOverwriteExistingFile(false);
    traceLog_ = std::make_unique<TTraceLog>(*logFile_, [this](const std::string& note) {
        logNote_ = note;
        Trace(note);
        ShowLogState();
    });
    TraceMemo().OnChange = [this] { traceLog_->Write(TraceMemo().LastLine()); };
    if (logFile_->OpenLog()) logFile_->CloseLog();
    traceLog_->Write("Program Create");
    ShowLogState();

    // 2. The start line.
    Trace("*********Program loaded:" +
          LocaleInfo().DateTimeText(std::chrono::system_clock::now()) + "*********");

    // 3. The ports; with none, ComPort1 keeps its design name. The averages, the grids'
    // headers and the saved lines are the panels' own.
    link_->ListPorts();
    trace_->ApplyDebugSwitches();

    // 4. The resistance map's table.
    ResistanceMap1().LoadMap();
}

void TForm1::SetDeviceTestWindow(TForm2* window) {
    link_->SetDeviceTestWindow(window);
    if (window != nullptr)
        window->OnStepFailed = [this](const std::string& text) { ShowStepFailure(text); };
}

void TForm1::SelectPort(const std::string& port) {
    link_->SelectPort(port);
}

TComLed& TForm1::ComLed1() {
    return link_->ComLed1();
}

TComPort* TForm1::CurrentPort() const {
    return link_->CurrentPort();
}

TMemoHEX& TForm1::TraceMemo() {
    return trace_->TraceMemo();
}

QTimer& TForm1::Timer1() {
    return trace_->Timer1();
}

int TForm1::SaveCounter() const {
    return trace_->SaveCounter();
}

void TForm1::Trace(const std::string& line) {
    TraceMemo().Add(line);
}

void TForm1::ShowMessage(const std::string& text) {
    // A wait that ends after the window closed has nobody left to tell.
    if (closing_) return;
    UserMessages().MessageDlg(text, TMsgDlgType::mtInformation, mbOK);
}

void TForm1::MeasuresReceived(const TMiraWirelessConsoleMeasures& val, uint8_t idConsole) {
    const TMiraConsoleMeasure& m = (*val)[idConsole];
    averages_->Add(val, idConsole);
    liveCharts_->Add(idConsole, m);
    if (m.Keys > 0) Trace("Buttons :" + std::to_string(m.Keys));
    measures_->Show(val, idConsole);
}

QString TForm1::WaitText() const {
    if (waits_.empty()) return {};
    return Text("Waiting for " + waits_.back() + "; Esc or Disconnect ends the wait");
}

void TForm1::BeginWait(std::string what) {
    waits_.push_back(std::move(what));
    ShowWaits();
}

void TForm1::EndWait() {
    waits_.pop_back();
    ShowWaits();
}

void TForm1::ShowWaits() {
    waitState_->setText(WaitText());
}

bool TForm1::EndWaits() {
    if (waits_.empty()) return false;
    Trace("Wait ended by the operator: " + waits_.back());
    tmp().EndWaits();
    return true;
}

// Said in red until another fails: the failure repeats unseen (each kind is told once), and
// the brake stays at the level before it.
void TForm1::ShowStepFailure(const std::string& text) {
    Trace(text);
    const QString line = Text(LocaleInfo().TimeText(std::chrono::system_clock::now()) + " " + text);
    stepFailure_->setText(line);
    stepFailure_->setToolTip(line);
    stepFailure_->show();
}

void TForm1::ShowLogState() {
    if (traceLog_->Lost()) {
        logState_->setText(Text(logNote_));
        logState_->setStyleSheet("color: #c00000; font-weight: bold;");
    } else {
        logState_->setText(Text("Trace logged to " + logFile_->LogFileName()));
        logState_->setStyleSheet({});
    }
    logState_->setToolTip(Text(logNote_));
}

const testbench::TBenchRecording& TForm1::Recording() const {
    return recording_->Recording();
}

// The program runs until this window closes: the other windows close with it (so Qt's
// last-window rule ends the program), the waits end and nothing writes to the port.
void TForm1::closeEvent(QCloseEvent* event) {
    closing_ = true;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window != this && window->isVisible()) window->close();
    recording_->Stop();
    tmp().StopResistanceSending();
    tmp().EndWaits();
    // Disconnected, the protocol sends nothing more: not the devices' steps either.
    if (tmp().Connected()) tmp().Disconnect();
    if (CurrentPort() != nullptr && CurrentPort()->Connected()) CurrentPort()->Close();
    event->accept();
}

}  // namespace wct
