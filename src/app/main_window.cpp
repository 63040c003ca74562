// The main window's components, controls and creation step.
#include "app/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QVBoxLayout>
#include <chrono>
#include <climits>

#include "app/broker_link.h"
#include "app/com_led.h"
#include "app/device_test_window.h"
#include "app/link_stats_view.h"
#include "app/live_charts_window.h"
#include "app/log_to_file.h"
#include "app/memo_hex.h"
#include "app/production_check_window.h"
#include "app/recording_control.h"
#include "app/string_grid.h"
#include "app/trace_log.h"
#include "common/locale_info.h"
#include "common/stored_form.h"
#include "common/user_messages.h"
#include "serial/port_inventory.h"

namespace wct {
namespace {

// The design values of the window's components.
constexpr const char* kStoredForm = R"(
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
  object VeloxDeviceW1: TVeloxDeviceW
    RiderWeight = 0
    UOM = umKm
    BikeWeight = 10
    TimerStatsEnabled = False
    TimerStatsInterval = 1000
    TimeToleranceMs = 100
    HrArrayLength = 0
    CadenceArrayLength = 5
    SpeedArrayLength = 5
    RollDiameter = 45
    InitialResistance = 0
    SecurityActive = False
    HighPowerReduceCoefficient = 1
    HighPowerReduceStartSpeed = 7
    HighPowerReduceCoefficientMinimum = 0.25
    ResistanceReducer = 1
    PrecisionSpeed = 8
    PrecisionDistance = 8
    Tolerance = 2
    ResistanceMapAdapter = 1
    VirtualSpeedEnabled = True
    VirtualSpeedAttenuation = 1
    Calibration = 1
    RecoverConnection = True
    RecoverConnectionTime = 0
  end
  object VeloxDevice1: TVeloxDevice
    ComPortPort = 'COM1'
  end
  object ResistanceMap1: TResistanceMap
    VeloxVersion = 4
    ResistanceMapAdapter = 1
)";

// The map's rows close the stored form: they are the map the bench ships.
std::string StoredForm() {
    return std::string(kStoredForm) + "    StrData = " + QuoteString(ShippedResistanceMapText()) +
           "\n  end\nend\n";
}

QSpinBox* SpinEdit(const char* name, int min, int max, int value) {
    auto* spin = new QSpinBox;
    spin->setObjectName(name);
    spin->setRange(min, max);
    spin->setValue(value);
    return spin;
}

QLineEdit* Edit(const char* name, const char* text, int chars) {
    auto* edit = new QLineEdit(text);
    edit->setObjectName(name);
    edit->setMaximumWidth(edit->fontMetrics().horizontalAdvance('W') * chars + 12);
    return edit;
}

QPlainTextEdit* Memo(const char* name) {
    auto* memo = new QPlainTextEdit;
    memo->setObjectName(name);
    memo->setReadOnly(true);
    memo->setUndoRedoEnabled(false);
    memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    return memo;
}

QGroupBox* Group(const QString& title, QLayout* layout) {
    auto* group = new QGroupBox(title);
    group->setLayout(layout);
    return group;
}

QLabel* Label(const QString& text, const char* name = "") {
    auto* label = new QLabel(text);
    label->setObjectName(name);
    return label;
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QMainWindow(parent), clicks_([this] { return EndWaits(); }) {
    setWindowTitle("Wireless Console Test");
    setObjectName("Form1");
    CreateComponents();
    BuildWindow();
    BuildMenu();
    FormCreate();
}

TForm1::~TForm1() {
    // The protocol's trace, wire tap and events, and the trace memo's, point into this
    // window. The memo outlives the window's members, and the port, closed after them,
    // runs events while its thread ends.
    Memo2->OnBatch = nullptr;
    Memo2->OnChange = nullptr;
    tmp_->SetWireTap(nullptr);
    tmp_->SetDebugMemo(nullptr);
    tmp_->OnMeasuresReceived = nullptr;
    tmp_->OnConsoleSilent = nullptr;
    tmp_->OnBeforeSendResistance = nullptr;
    tmp_->OnDisconnection = nullptr;
    tmp_->StopResistanceSending();
}

void TForm1::CreateComponents() {
    components_.SetName("Form1");
    comPort1_ = new TComPort(&components_);
    comPort1_->SetName("ComPort1");
    comDataPacket1_ = new TComDataPacket(&components_);
    comDataPacket1_->SetName("ComDataPacket1");
    tmp_ = new TMiraWirelessProtocol(&components_);
    bench_ = std::make_unique<testbench::TTestBench>(*tmp_);
    tmp_->SetName("tmp");
    veloxDeviceW1_ = new TVeloxDeviceW(&components_);
    veloxDeviceW1_->SetName("VeloxDeviceW1");
    veloxDevice1_ = new wired::TVeloxDevice(&components_);
    veloxDevice1_->SetName("VeloxDevice1");
    resistanceMap1_ = new TResistanceMap(&components_);
    resistanceMap1_->SetName("ResistanceMap1");
    ReadComponent(StoredForm(), components_);
    veloxDeviceW1_->SetWirelessUSB(tmp_);
    veloxDeviceW1_->SetResistanceMap(resistanceMap1_);
    currentPort_ = comPort1_;

    tmp_->OnMeasuresReceived = [this](const TMiraWirelessConsoleMeasures& val, uint8_t id) {
        MeasuresReceived(val, id);
    };
    tmp_->OnConsoleSilent = [this](int id) { ConsoleSilent(id); };
    // Every measures frame looks too; this is for when none arrives at all. A look costs a
    // pass over the measures table, once a second.
    silenceWatch_.setInterval(1000);
    connect(&silenceWatch_, &QTimer::timeout, this, [this] { tmp_->WatchSilence(); });
    silenceWatch_.start();
    tmp_->OnBeforeSendResistance = [this] { BeforeSendResistance(); };
    timer1_.setInterval(1800000);
    connect(&timer1_, &QTimer::timeout, this, [this] {
        try {
            Timer1Timer();
        } catch (const std::exception& e) {
            UserMessages().ShowException(e);
        }
    });
}

QPushButton* TForm1::Button(const QString& caption, void (TForm1::*handler)()) {
    return clicks_.Button(this, caption, handler);
}

void TForm1::Run(QPushButton* button, void (TForm1::*handler)()) {
    clicks_.Run(button, [this, handler] { (this->*handler)(); });
}

void TForm1::BuildWindow() {
    auto* upper = new QWidget;
    auto* upperLayout = new QHBoxLayout(upper);
    upperLayout->setContentsMargins(0, 0, 0, 0);
    upperLayout->addWidget(BuildConsolePanel());
    upperLayout->addWidget(BuildDataPanel(), 1);
    upperLayout->addWidget(BuildResistancePanel());

    auto* lower = new QWidget;
    auto* lowerLayout = new QHBoxLayout(lower);
    lowerLayout->setContentsMargins(0, 0, 0, 0);
    lowerLayout->addWidget(BuildTracePanel(), 1);
    lowerLayout->addWidget(BuildMemoryPanel());

    auto* splitter = new QSplitter(Qt::Vertical);
    splitter->addWidget(upper);
    splitter->addWidget(lower);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    splitter->setChildrenCollapsible(false);

    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(BuildLinkBar());
    layout->addWidget(splitter, 1);
    layout->addWidget(BuildHiddenControls());
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
}

void TForm1::BuildMenu() {
    // A failure is shown rather than thrown through Qt.
    const auto guarded = [this](void (TForm1::*handler)()) {
        return [this, handler] {
            try {
                (this->*handler)();
            } catch (const std::exception& e) {
                UserMessages().ShowException(e);
            }
        };
    };
    QMenu* link = menuBar()->addMenu("&Link");
    record_ = link->addAction("&Record...", this, guarded(&TForm1::RecordClick));
    record_->setObjectName("Record");
    stopRecording_ = link->addAction("&Stop Recording", this, guarded(&TForm1::StopRecordingClick));
    stopRecording_->setObjectName("StopRecording");
    link->addSeparator();
    QAction* statistics =
        link->addAction("Link S&tatistics", this, guarded(&TForm1::LinkStatisticsClick));
    statistics->setObjectName("LinkStatistics");
    link->addSeparator();
    brokerLink_ = std::make_unique<TBrokerLink>(*this, *tmp_, *veloxDeviceW1_);
    brokerLink_->AddTo(*link);
    const auto publisher = [this] { return brokerLink_->Publisher(); };
    menuBar()
        ->addMenu("&Check")
        ->addAction("&Production Check...", this,
                    [this, publisher] { ShowProductionCheckWindow(*bench_, this, publisher); })
        ->setObjectName("ProductionCheck");

    // The file being recorded is named in the menu bar's free corner, so that the controls
    // below keep their place.
    recordingLabel_ = Label("", "RecordingLabel");
    recordingLabel_->setStyleSheet("color: #b00000; padding-right: 6px;");
    menuBar()->setCornerWidget(recordingLabel_);

    recording_ = std::make_unique<TRecordingControl>(*tmp_);
    recordingCheck_.setInterval(500);
    connect(&recordingCheck_, &QTimer::timeout, this, [this] {
        if (recording_->Broken()) StopRecording();
    });
    linkStatsView_ = std::make_unique<TLinkStatsView>(*tmp_);
    ShowRecordingState();

    QMenu* view = menuBar()->addMenu("&View");
    view->addAction("Live &Charts", this, [this] { ShowLiveCharts(); })
        ->setObjectName("LiveCharts");
    liveCharts_ = std::make_unique<TLiveChartsWindow>(*veloxDeviceW1_);
}

void TForm1::ShowLiveCharts() {
    liveCharts_->show();
    liveCharts_->raise();
    liveCharts_->activateWindow();
}

QWidget* TForm1::BuildLinkBar() {
    ComboBox1 = new QComboBox;
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->setEditable(true);
    ComboBox1->setMinimumWidth(170);
    ComboBox1->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    auto separator = [] {
        auto* line = new QFrame;
        line->setFrameShape(QFrame::VLine);
        line->setFrameShadow(QFrame::Sunken);
        return line;
    };

    auto* bar = new QWidget;
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Label("Port"));
    layout->addWidget(ComboBox1);
    layout->addWidget(Button("Connect", &TForm1::ConnectClick));
    layout->addWidget(Button("Disconnect", &TForm1::DisconnectClick));
    ComLed1_ = new TComLed;
    ComLed1_->setObjectName("ComLed1");
    ComLed1_->SetKind(lkBlueLight);
    ComLed1_->SetComPort(comPort1_);
    ComLed1_->setToolTip("Port open");
    layout->addWidget(ComLed1_);
    layout->addWidget(Button("Com Settings", &TForm1::ComSettingsClick));
    layout->addWidget(separator());
    layout->addWidget(Button("Open", &TForm1::OpenClick));
    layout->addWidget(Button("Close", &TForm1::CloseClick));
    layout->addWidget(Button("Num Console", &TForm1::NumConsoleClick));
    layout->addWidget(separator());
    layout->addWidget(Button("Start Measure", &TForm1::StartMeasureClick));
    layout->addWidget(Button("Stop Measure", &TForm1::StopMeasureClick));
    layout->addStretch(1);
    layout->addWidget(Button("VxDevicePanel", &TForm1::VxDevicePanelClick));
    return bar;
}

QWidget* TForm1::BuildConsolePanel() {
    txtIdTotalRolls = SpinEdit("txtIdTotalRolls", 0, 1000, 1);
    auto* commands = new QGridLayout;
    commands->addWidget(Label("For Console"), 0, 0);
    commands->addWidget(txtIdTotalRolls, 0, 1);
    const std::pair<const char*, void (TForm1::*)()> buttons[] = {
        {"Select", &TForm1::SelectClick},
        {"Deselect", &TForm1::DeselectClick},
        {"Roll Start", &TForm1::RollStartClick},
        {"Roll Pause", &TForm1::RollPauseClick},
        {"Req Total Rolls", &TForm1::ReqTotalRollsClick},
        {"Reset Rolls", &TForm1::ResetRollsClick},
        {"Disc. Cons. ID", &TForm1::DiscConsIdClick},
        {"Disc. All Cons", &TForm1::DiscAllConsClick},
        {"Ask all Rolls", &TForm1::AskAllRollsClick},
        {"Start all rolls", &TForm1::StartAllRollsClick},
        {"Trigger Clock", &TForm1::TriggerClockClick},
        {"TestSignals", &TForm1::TestSignalsClick},
        {"TestKeys", &TForm1::TestKeysClick},
        {"TestCardio", &TForm1::TestCardioClick},
    };
    int i = 0;
    for (const auto& [caption, handler] : buttons) {
        commands->addWidget(Button(caption, handler), 1 + i / 2, i % 2);
        ++i;
    }

    txtSNid = SpinEdit("txtSNid", 0, 1000, 0);
    txtVNid = SpinEdit("txtVNid", 0, 1000, 0);
    auto* identity = new QGridLayout;
    identity->addWidget(txtSNid, 0, 0);
    identity->addWidget(Button("Serial Request", &TForm1::SerialRequestClick), 0, 1);
    identity->addWidget(Button("FW Ver", &TForm1::FwVerClick), 0, 2);
    identity->addWidget(txtVNid, 1, 0);
    identity->addWidget(Button("Version Number", &TForm1::VersionNumberClick), 1, 1, 1, 2);

    auto* panel = new QWidget;
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Group("Console commands", commands));
    layout->addWidget(Group("Identity", identity));
    layout->addStretch(1);
    panel->setMaximumWidth(300);
    return panel;
}

QWidget* TForm1::BuildDataPanel() {
    GridDati = new TStringGrid(7, 20);
    GridDati->setObjectName("GridDati");
    GridDati->SetColWidths({58, 50, 52, 40, 54, 60, 40});
    auto* measures = new QVBoxLayout;
    measures->addWidget(GridDati);

    GridConsole = new TStringGrid(7, 20);
    GridConsole->setObjectName("GridConsole");
    GridConsole->SetColWidths({34, 66, 66, 52, 74, 44, 62});
    auto* consoles = new QVBoxLayout;
    consoles->addWidget(GridConsole);
    consoles->addWidget(Button("Update", &TForm1::UpdateClick), 0, Qt::AlignRight);

    auto* panel = new QWidget;
    auto* layout = new QHBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Group("Measures", measures));
    layout->addWidget(Group("Consoles", consoles));
    return panel;
}

QWidget* TForm1::BuildResistancePanel() {
    GridResist = new TStringGrid(2, 15);
    GridResist->setObjectName("GridResist");
    // Wide enough for its "Cons" header.
    GridResist->SetColWidths({36, 50});
    GridResist->setEditTriggers(QAbstractItemView::DoubleClicked |
                                QAbstractItemView::EditKeyPressed |
                                QAbstractItemView::AnyKeyPressed);
    auto* caption = Label("Valore  di resistenza in Hex. Vuoto non invia");
    caption->setWordWrap(true);
    sendRes_ = Button("SendRes", &TForm1::SendResClick);
    // Consoles no rider device guards get no brake above this heart rate.
    maxHr_ = SpinEdit("MaxHr", THeartCut::kSignalFloor, 255, THeartCut::kDefaultMaximum);
    maxHr_->setSuffix(" bpm");
    maxHr_->setToolTip("Above this heart rate a console's brake is held at 0");
    connect(maxHr_, &QSpinBox::valueChanged, this,
            [this](int bpm) { tmp_->BrakeInterlock().SetBenchMaximum(bpm); });
    auto* maxHr = new QHBoxLayout;
    maxHr->addWidget(Label("Max HR"));
    maxHr->addWidget(maxHr_, 1);
    auto* resistances = new QVBoxLayout;
    resistances->addWidget(caption);
    resistances->addWidget(GridResist, 1);
    resistances->addLayout(maxHr);
    resistances->addWidget(sendRes_);

    auto* panel = Group("Resistances", resistances);
    panel->setMaximumWidth(150);
    return panel;
}

QWidget* TForm1::BuildTracePanel() {
    Memo2 = new TMemoHEX;
    Memo2->setObjectName("Memo2");
    Memo2->OnChange = [this] { TraceChanged(); };
    Memo2->OnBatch = [this] { ShowMeasures(); };
    tmp_->SetDebugMemo(Memo2);
    Memo5 = Memo("Memo5");
    Memo5->hide();

    enableTime_ = new QCheckBox("Enable time");
    enableTime_->setObjectName("Enable time");
    enableTime_->setChecked(true);
    connect(enableTime_, &QCheckBox::clicked, this, [this] { ApplyDebugSwitches(); });
    noDataMessages_ = new QCheckBox("No data messages");
    noDataMessages_->setObjectName("No data messages");
    connect(noDataMessages_, &QCheckBox::clicked, this, [this] { ApplyDebugSwitches(); });

    auto* tools = new QHBoxLayout;
    tools->addWidget(Button("Clear", &TForm1::ClearClick));
    tools->addWidget(enableTime_);
    tools->addWidget(noDataMessages_);
    tools->addStretch(1);
    tools->addWidget(Button("Start connection Test", &TForm1::StartTestClick));
    tools->addWidget(Button("Stop", &TForm1::StopTestClick));

    auto* memos = new QHBoxLayout;
    memos->addWidget(Memo2, 3);
    memos->addWidget(Memo5, 2);
    auto* layout = new QVBoxLayout;
    layout->addLayout(tools);
    layout->addLayout(memos, 1);

    Memo3 = Memo("Memo3");
    Memo4 = Memo("Memo4");
    for (QPlainTextEdit* memo : {Memo3, Memo4}) {
        memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        memo->setFixedWidth(memo->fontMetrics().horizontalAdvance("00000.000") + 12);
    }
    auto* averages = new QGridLayout;
    averages->addWidget(Label("Speed"), 0, 0);
    averages->addWidget(Label("Hr"), 0, 1);
    averages->addWidget(Memo3, 1, 0);
    averages->addWidget(Memo4, 1, 1);

    auto* panel = new QWidget;
    auto* row = new QHBoxLayout(panel);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(Group("Trace", layout), 1);
    row->addWidget(Group("Averages", averages));
    return panel;
}

QWidget* TForm1::BuildMemoryPanel() {
    dataConsoleID = SpinEdit("dataConsoleID", INT_MIN, INT_MAX, 1);
    dataConsoleID->setMaximumWidth(dataConsoleID->fontMetrics().horizontalAdvance("0000000") + 30);
    Edit1 = Edit("Edit1", "0000", 5);
    Edit2 = Edit("Edit2", "0001", 5);
    auto* where = new QHBoxLayout;
    where->addWidget(Label("Console ID"));
    where->addWidget(dataConsoleID);
    where->addWidget(Label("Address"));
    where->addWidget(Edit1);
    where->addWidget(Label("Bytes"));
    where->addWidget(Edit2);
    where->addStretch(1);

    auto* bytes = new QHBoxLayout;
    for (size_t i = 0; i < dataBytes_.size(); ++i) {
        const std::string name = "Edit" + std::to_string(5 + i);
        dataBytes_[i] = Edit(name.c_str(), "00", 2);
        bytes->addWidget(dataBytes_[i]);
    }
    bytes->addStretch(1);

    viewData_ = Button("View Data", &TForm1::ViewDataClick);
    auto* actions = new QHBoxLayout;
    actions->addWidget(Button("Read Data", &TForm1::ReadDataClick));
    actions->addWidget(Button("Read Page", &TForm1::ReadPageClick));
    actions->addWidget(Button("Write Data", &TForm1::WriteDataClick));
    actions->addWidget(viewData_);

    auto* memory = new QVBoxLayout;
    memory->addLayout(where);
    memory->addLayout(bytes);
    memory->addLayout(actions);

    hexSt = new QLineEdit("3E010000000000000000000021");
    hexSt->setObjectName("hexSt");
    auto* manual = new QGridLayout;
    manual->addWidget(Label("Pacchetti da inviare"), 0, 0, 1, 2);
    manual->addWidget(hexSt, 1, 0);
    manual->addWidget(Button("Send Single Command HEX", &TForm1::SendSingleCommandClick), 1, 1);

    auto* panel = new QWidget;
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Group("Console memory", memory));
    layout->addWidget(Group("Manual frame", manual));
    layout->addStretch(1);
    return panel;
}

// Controls the bench carries without showing them: the single-console view, the lines
// Timer1 saves, and a few leftovers.
QWidget* TForm1::BuildHiddenControls() {
    speedLabel_ = Label("0", "speedLabel");
    hrLabel_ = Label("0", "hrLabel");
    hrAverageLabel_ = Label("0", "hrAverageLabel");
    cadenceLabel_ = Label("0", "cadenceLabel");
    keysLabel_ = Label("0", "keysLabel");
    kmhLabel_ = Label("0", "kmhLabel");
    QSpinBox* speedLength = SpinEdit("speedAverageLength", 1, 1000, 5);
    QSpinBox* hrLength = SpinEdit("hrAverageLength", 1, 1000, 5);
    connect(speedLength, &QSpinBox::valueChanged, this, [this](int n) {
        if (n > 0) speedAverage_.SetLength(n);
    });
    connect(hrLength, &QSpinBox::valueChanged, this, [this](int n) {
        if (n > 0) hrAverage_.SetLength(n);
    });
    hiddenStart_ = Button("Start", &TForm1::HiddenStartClick);
    hiddenStart_->hide();

    auto* single = new QGridLayout;
    const std::pair<const char*, QWidget*> rows[] = {
        {"Speed [rpm]", speedLabel_},     {"HR", hrLabel_},
        {"Cadence", cadenceLabel_},       {"Keyboard", keysLabel_},
        {"Speed [Kmh]", kmhLabel_},       {"Avg Hr", hrAverageLabel_},
        {"media  velocita", speedLength}, {"media  cardio", hrLength},
    };
    int r = 0;
    for (const auto& [caption, value] : rows) {
        single->addWidget(Label(caption), r, 0);
        single->addWidget(value, r++, 1);
    }
    single->addWidget(hiddenStart_, r, 0);
    singleConsole_ = Group("Data single console", single);
    singleConsole_->setObjectName("DataSingleConsole");

    Memo1 = Memo("Memo1");
    auto* showPackets = new QCheckBox("Mostra pacchetti");
    auto* leftover = new QLineEdit("10");

    auto* hidden = new QWidget;
    auto* layout = new QHBoxLayout(hidden);
    layout->addWidget(singleConsole_);
    layout->addWidget(Memo1);
    layout->addWidget(showPackets);
    layout->addWidget(leftover);
    hidden->hide();
    return hidden;
}

void TForm1::FormCreate() {
    // 1. The log file; a log that cannot be written here moves to the state directory.
    logFile_ = std::make_unique<TLogToFile>();
    logFile_->SetIncSuffix(true);
    logFile_->SetLogFileName("VxWireless.log");
    logFile_->SetOverwriteExistingFile(false);
    traceLog_ = std::make_unique<TTraceLog>(*logFile_, [this](const std::string& note) {
        logNote_ = note;
        Memo2->Add(note);
        ShowLogState();
    });
    if (logFile_->OpenLog()) logFile_->CloseLog();
    traceLog_->Write("Program Create");
    ShowLogState();

    // 2. The start line.
    Memo2->Add("*********Program loaded:" +
               LocaleInfo().DateTimeText(std::chrono::system_clock::now()) + "*********");

    // 3. The averages.
    speedAverage_.SetLength(5);
    hrAverage_.SetLength(5);

    // 4. The ports. With none, ComPort1 keeps its design name.
    for (const std::string& port : ListPortsSorted())
        ComboBox1->addItem(QString::fromStdString(port));
    if (ComboBox1->count() > 0) {
        ComboBox1->setCurrentIndex(ComboBox1->count() - 1);
        comPort1_->SetPort(ComboBox1->currentText().toStdString());
    }

    // 5. Bookkeeping.
    saveCounter_ = 0;
    Memo1->setPlainText("62\n1\n0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n21");
    ApplyDebugSwitches();

    // 6. Grid headers and row labels.
    const char* measures[] = {"Console", "RPM", "Speed", "Hr", "Avg Hr", "Cadence", "Keys"};
    for (int c = 0; c < 7; ++c) GridDati->SetCell(c, 0, measures[c]);
    GridDati->LabelRows(0);
    const char* consoles[] = {"", "Vers", "SN", "Rolls", "Connected", "Used", "Firmware"};
    for (int c = 0; c < 7; ++c) GridConsole->SetCell(c, 0, consoles[c]);
    GridConsole->LabelRows(0);
    GridResist->SetCell(0, 0, "Cons");
    GridResist->SetCell(1, 0, "Res");
    GridResist->LabelRows(1);

    // 7. The resistance map's table.
    resistanceMap1_->LoadMap();
}

void TForm1::SetDeviceTestWindow(TForm2* window) {
    deviceTestWindow_ = window;
    if (window != nullptr)
        window->OnStepFailed = [this](const std::string& text) { ShowStepFailure(text); };
}

void TForm1::SelectPort(const std::string& port) {
    const QString name = QString::fromStdString(port);
    if (ComboBox1->findText(name) < 0) ComboBox1->insertItem(0, name);
    ComboBox1->setCurrentIndex(ComboBox1->findText(name));
    comPort1_->SetPort(port);
}

// The program runs until this window closes: the other windows close with it (so Qt's
// last-window rule ends the program), the waits end and nothing writes to the port.
void TForm1::closeEvent(QCloseEvent* event) {
    closing_ = true;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window != this && window->isVisible()) window->close();
    if (recording_->Recording()) StopRecording();
    tmp_->StopResistanceSending();
    tmp_->EndWaits();
    // Disconnected, the protocol sends nothing more: not the devices' steps either.
    if (tmp_->Connected()) tmp_->Disconnect();
    if (currentPort_ != nullptr && currentPort_->Connected()) currentPort_->Close();
    event->accept();
}

}  // namespace wct
