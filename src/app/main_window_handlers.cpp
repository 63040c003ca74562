// What the main window's controls do, and its handlers of the protocol's events.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <algorithm>
#include <chrono>
#include <fstream>

#include "app/bench_texts.h"
#include "app/com_led.h"
#include "app/com_setup.h"
#include "app/device_test_window.h"
#include "app/field_checks.h"
#include "app/file_dialog.h"
#include "app/link_stats_view.h"
#include "app/live_charts_window.h"
#include "app/main_window.h"
#include "app/memo_hex.h"
#include "app/recording_control.h"
#include "app/string_grid.h"
#include "app/trace_log.h"
#include "common/locale_info.h"
#include "common/user_messages.h"

namespace wct {
namespace {

std::string Now() {
    return LocaleInfo().DateTimeText(std::chrono::system_clock::now());
}

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

void ShowSamples(QPlainTextEdit& memo, const TMiraAverage& average) {
    std::vector<std::string> lines;
    average.ToStrings(lines);
    QStringList text;
    for (const auto& line : lines) text.append(QString::fromStdString(line));
    const QString joined = text.join('\n');
    if (memo.toPlainText() != joined) memo.setPlainText(joined);
}

}  // namespace

void TForm1::ShowMessage(const std::string& text) {
    // A wait that ends after the window closed has nobody left to tell.
    if (closing_) return;
    UserMessages().MessageDlg(text, TMsgDlgType::mtInformation, mbOK);
}

void TForm1::Trace(const std::string& line) {
    Memo2->Add(line);
}

QString TForm1::WaitText() const {
    if (waits_.empty()) return {};
    return Text("Waiting for " + waits_.back() + "; Esc or Disconnect ends the wait");
}

TForm1::TWaitNote::TWaitNote(TForm1& form, std::string what) : form_(form) {
    form_.waits_.push_back(std::move(what));
    form_.ShowWaits();
}

TForm1::TWaitNote::~TWaitNote() {
    form_.waits_.pop_back();
    form_.ShowWaits();
}

void TForm1::ShowWaits() {
    waitState_->setText(WaitText());
}

bool TForm1::EndWaits() {
    if (waits_.empty()) return false;
    Trace("Wait ended by the operator: " + waits_.back());
    tmp_->EndWaits();
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

void TForm1::TraceChanged() {
    if (traceLog_ != nullptr) traceLog_->Write(Memo2->LastLine());
}

uint8_t TForm1::ForConsole() const {
    return static_cast<uint8_t>(txtIdTotalRolls->value() & 0xFF);
}

// The boxes show what the operator chose; the protocol forgets it on every reset.
void TForm1::ApplyDebugSwitches() {
    tmp_->SetDebugTime(enableTime_->isChecked());
    tmp_->SetDebugNoData(noDataMessages_->isChecked());
}

// ---- Link ----------------------------------------------------------------------------

void TForm1::ComSettingsClick() {
    ShowSettingsDialog(*currentPort_, this);
}

void TForm1::ConnectClick() {
    tmp_->SetDisplayMessage(true);
    tmp_->SetPortDef(ComboBox1->currentText().toStdString());
    tmp_->OnDisconnection = [this] { ShowMessage("Dongle disconnesso!"); };
    // A dongle lost and back leaves Connected set on a closed port: search again.
    if (!tmp_->Connected() || tmp_->Port() == nullptr || !tmp_->Port()->Connected()) {
        TWaitNote note(*this, "the dongle");
        tmp_->FindDongle();
    }
    tmp_->SetResistanceInterval(1000);
    if (tmp_->Port() == nullptr) return;
    currentPort_ = tmp_->Port();
    ComLed1_->SetComPort(currentPort_);
}

void TForm1::DisconnectClick() {
    tmp_->Disconnect();
    ApplyDebugSwitches();
}

// ---- Registration and measures -------------------------------------------------------

void TForm1::StartMeasureClick() {
    tmp_->SetMeasure(true);
}

void TForm1::StopMeasureClick() {
    tmp_->SetMeasure(false);
}

void TForm1::OpenClick() {
    tmp_->OpenRegistration();
}

void TForm1::CloseClick() {
    tmp_->CloseRegistration();
}

void TForm1::NumConsoleClick() {
    tmp_->AskNumberOfConsole();
}

// ---- Console commands ----------------------------------------------------------------

void TForm1::SerialRequestClick() {
    tmp_->RequestSerial(static_cast<uint8_t>(txtSNid->value() & 0xFF));
}

void TForm1::FwVerClick() {
    tmp_->RequestFirmware(static_cast<uint8_t>(txtSNid->value() & 0xFF));
}

void TForm1::VersionNumberClick() {
    tmp_->RequestVersion(static_cast<uint8_t>(txtVNid->value() & 0xFF));
}

void TForm1::SelectClick() {
    tmp_->SelectConsole(ForConsole());
}

void TForm1::DeselectClick() {
    tmp_->DeselectConsole(ForConsole());
}

void TForm1::RollStartClick() {
    tmp_->StartRoll(ForConsole());
}

void TForm1::RollPauseClick() {
    tmp_->StopRoll(ForConsole());
}

void TForm1::ReqTotalRollsClick() {
    tmp_->RequestTotalRolls(ForConsole());
}

void TForm1::ResetRollsClick() {
    tmp_->ResetTotalRolls(ForConsole());
}

void TForm1::DiscConsIdClick() {
    tmp_->RemoveConsole(ForConsole());
}

void TForm1::DiscAllConsClick() {
    tmp_->RemoveConsole(255);
}

void TForm1::ForEachConnectedConsole(const std::function<void(uint8_t id)>& request) {
    if (tmp_->NumberOfConsole() == 0) return;
    // By index, reading the table afresh each time: the requests wait, and handlers that
    // run meanwhile may grow or empty the table.
    for (size_t i = 1; i < tmp_->Consoles().size(); ++i)
        if (tmp_->Consoles()[i].Connected) request(tmp_->Consoles()[i].ID);
}

void TForm1::AskAllRollsClick() {
    TWaitNote note(*this, "the total rolls of every console");
    ForEachConnectedConsole([this](uint8_t id) { tmp_->RequestTotalRolls(id); });
}

void TForm1::StartAllRollsClick() {
    ForEachConnectedConsole([this](uint8_t id) { tmp_->StartRoll(id); });
}

void TForm1::RunConsoleTest(const char* test, bool (TMiraWirelessProtocol::*run)(uint8_t),
                            const char* ok, const char* error) {
    const uint8_t id = ForConsole();
    bool passed = false;
    {
        TWaitNote note(*this, "console " + HexDigits(id, 2) + " to answer " + test);
        passed = (tmp_->*run)(id);
    }
    ShowMessage(passed ? ok : error);
}

void TForm1::TriggerClockClick() {
    RunConsoleTest("Trigger Clock", &TMiraWirelessProtocol::TriggerClock, "TriggerClock ok!",
                   "TriggerClock error!!");
}

void TForm1::TestSignalsClick() {
    RunConsoleTest("TestSignals", &TMiraWirelessProtocol::TestSignals, "TestSignals ok!",
                   "TestSignals error!!");
}

void TForm1::TestKeysClick() {
    RunConsoleTest("TestKeys", &TMiraWirelessProtocol::TestKeys, "keys ok!", "keys error!!");
}

void TForm1::TestCardioClick() {
    RunConsoleTest("TestCardio", &TMiraWirelessProtocol::TestCardio, "cardio ok!",
                   "cardio error!!");
}

// ---- Resistances ---------------------------------------------------------------------

void TForm1::SendResClick() {
    if (sendRes_->text() == "SendRes") {
        tmp_->StartResistanceSending();
        sendRes_->setText("StopRes");
    } else {
        tmp_->StopResistanceSending();
        sendRes_->setText("SendRes");
    }
}

void TForm1::BeforeSendResistance() {
    for (int row = 1; row <= 14; ++row) {
        const std::string cell = GridResist->Cell(1, row).trimmed().toStdString();
        if (cell.empty()) continue;
        // Anything but one byte in hex would reach the console as some other level.
        const std::optional<uint8_t> level = ResistanceCell(cell);
        if (!level) {
            GridResist->SetCell(1, row, "err");
            continue;
        }
        try {
            tmp_->SetConsoleResistance(row, *level, 0, 0);
        } catch (const std::exception&) {
            GridResist->SetCell(1, row, "err");
        }
    }
    MarkRows();
}

// ---- Grids ---------------------------------------------------------------------------

void TForm1::MeasuresReceived(const TMiraWirelessConsoleMeasures& val, uint8_t idConsole) {
    const TMiraConsoleMeasure& m = (*val)[idConsole];
    const TMiraConsoleMeasure& first = (*val)[0];
    if (idConsole == 0) speedAverage_.Add(RollSpeedKmh(m.Rpm));
    hrAverage_.Add(first.HeartRate);
    liveCharts_->Add(idConsole, m);
    if (m.Keys > 0) Trace("Buttons :" + std::to_string(m.Keys));

    // Drawn with the trace's batches, five times a second: faster than anyone reads a
    // number, at the line's rate most frames' texts would never be seen, and the window
    // paints once for both.
    measuresShown_ = val;
    if (rowsToShow_.size() <= idConsole) rowsToShow_.resize(idConsole + 1u);
    rowsToShow_[idConsole] = true;
    Memo2->RequestBatch();
}

void TForm1::ShowMeasures() {
    // Nothing new since the last batch.
    if (std::find(rowsToShow_.begin(), rowsToShow_.end(), true) == rowsToShow_.end()) return;
    const std::vector<TMiraConsoleMeasure>& table = *measuresShown_;
    if (table.empty()) {  // a reset emptied the table under rows still to be drawn
        rowsToShow_.assign(rowsToShow_.size(), false);
        return;
    }
    const TMiraConsoleMeasure& first = table[0];
    ShowSamples(*Memo3, speedAverage_);
    ShowSamples(*Memo4, hrAverage_);
    speedLabel_->setNum(first.Rpm);
    hrLabel_->setNum(first.HeartRate);
    hrAverageLabel_->setText(QString::asprintf("%3.0f", static_cast<double>(hrAverage_.Value())));
    cadenceLabel_->setNum(first.Cadence);
    keysLabel_->setNum(first.Keys);
    kmhLabel_->setText(Text(OneDecimal(static_cast<double>(speedAverage_.Value()))));

    for (size_t id = 0; id < rowsToShow_.size(); ++id) {
        if (!rowsToShow_[id]) continue;
        rowsToShow_[id] = false;
        if (id >= table.size()) continue;
        // Consoles past the designed rows get rows of their own rather than vanish.
        const int row = static_cast<int>(id) + 1;
        // A silent console's last values are no longer its own: blank until it sends.
        const TMeasureTexts texts = table[id].Silent ? TMeasureTexts{} : MeasureTexts(table[id]);
        GridDati->SetCell(1, row, Text(texts.rpm));
        GridDati->SetCell(2, row, Text(texts.speed));
        GridDati->SetCell(3, row, Text(texts.heartRate));
        GridDati->SetCell(5, row, Text(texts.cadence));
        GridDati->SetCell(6, row, Text(texts.keys));
    }
    MarkRows();
}

void TForm1::ConsoleSilent(int id) {
    measuresShown_ = tmp_->LastMeasure();
    if (rowsToShow_.size() <= static_cast<size_t>(id)) rowsToShow_.resize(id + 1u);
    rowsToShow_[static_cast<size_t>(id)] = true;
    Memo2->RequestBatch();
}

// The label cells tell why a row's figures are not what they seem. A console both in a
// heart cut and silent shows the cut: the brake held at 0 is what keeps its rider safe,
// and the operator must see that first.
void TForm1::MarkRows() {
    const TBrakeInterlock& interlock = tmp_->BrakeInterlock();
    const std::vector<TMiraConsoleMeasure>& table = *tmp_->LastMeasure();
    const QColor cut(255, 120, 120);
    const QString why = "Heart rate above its maximum: brake held at 0";
    const QColor silent(150, 150, 150);
    for (int row = 1; row < GridDati->RowCount(); ++row) {
        const auto id = static_cast<size_t>(row - 1);
        if (id <= 255 && interlock.Cut(static_cast<uint8_t>(id)))
            GridDati->MarkRow(row, cut, why);
        else if (id < table.size() && table[id].Silent)
            GridDati->MarkRow(row, silent,
                              Text("Console " + HexDigits(static_cast<long long>(id), 2) +
                                   " silent: no measures for " +
                                   std::to_string(SilenceAfterMs(table[id])) + " ms"));
        else
            GridDati->MarkRow(row, QColor(), QString());
    }
    for (int row = 1; row < GridResist->RowCount(); ++row) {
        const bool held = row <= 255 && interlock.Cut(static_cast<uint8_t>(row));
        GridResist->MarkRow(row, held ? cut : QColor(), held ? why : QString());
    }
}

void TForm1::UpdateClick() {
    for (int row = 1; row < GridConsole->RowCount(); ++row) GridConsole->SetCell(1, row, "*");
    const TMiraConsolesInformation& table = tmp_->Consoles();
    for (size_t i = 0; i < table.size(); ++i) {
        const TConsoleTexts texts = ConsoleTexts(table[i]);
        const int row = static_cast<int>(i) + 1;
        GridConsole->SetCell(1, row, Text(texts.version));
        GridConsole->SetCell(2, row, Text(texts.serial));
        GridConsole->SetCell(3, row, Text(texts.rolls));
        GridConsole->SetCell(4, row, Text(texts.connected));
        GridConsole->SetCell(5, row, Text(texts.used));
        GridConsole->SetCell(6, row, Text(texts.firmware));
    }
}

// ---- Manual frame --------------------------------------------------------------------

void TForm1::SendSingleCommandClick() {
    if (currentPort_ == nullptr || !currentPort_->Connected()) return;
    const std::string text = hexSt->text().toStdString();
    if (text.size() % 2 != 0) {
        ShowMessage("caratteri dispari");
        return;
    }
    const std::string bytes = HexBytesField("Pacchetti da inviare", text);
    currentPort_->WriteText(bytes);
    // Recordings hold what was sent by hand too.
    if (currentPort_ == tmp_->Port() && tmp_->WireTap() != nullptr) tmp_->WireTap()->Written(bytes);
    Trace("-> MANUAL " + text + TBrakeInterlock::PastInterlockNote(bytes));
}

void TForm1::HiddenStartClick() {
    if (currentPort_ == nullptr || !currentPort_->Connected()) return;
    if (hiddenStart_->text() == "Start") {
        hexSt->setText("3E130001010021");
        hiddenStart_->setText("Stop");
    } else {
        hexSt->setText("3E130001000021");
        hiddenStart_->setText("Start");
    }
    SendSingleCommandClick();
}

// ---- Trace ---------------------------------------------------------------------------

void TForm1::ClearClick() {
    Memo2->Clear();
}

void TForm1::StartTestClick() {
    Trace("*********START TEST********" + Now());
    Memo2->hide();
    timer1_.start();
}

void TForm1::StopTestClick() {
    Trace("*********STOP TEST*********" + Now());
    Memo2->show();
    timer1_.stop();
}

void TForm1::Timer1Timer() {
    ++saveCounter_;
    Memo1->appendPlainText("Saved");
    const std::string name =
        QDir::current().filePath(QString("%1.log").arg(saveCounter_)).toStdString();
    std::ofstream file(name, std::ios::binary | std::ios::trunc);
    for (const QString& line : Memo1->toPlainText().split('\n'))
        file << line.toStdString() << "\r\n";
    file.close();
    if (!file) throw std::runtime_error("Cannot write " + name);
}

void TForm1::VxDevicePanelClick() {
    if (deviceTestWindow_ == nullptr) return;
    deviceTestWindow_->show();
    deviceTestWindow_->raise();
    deviceTestWindow_->activateWindow();
}

// ---- Console memory ------------------------------------------------------------------

void TForm1::ViewDataClick() {
    const bool show = Memo5->isHidden();
    Memo5->setVisible(show);
    viewData_->setText(show ? "Hide Data" : "View Data");
}

std::string TForm1::ReadLine(uint8_t console) const {
    const std::string time = LocaleInfo().TimeText(std::chrono::system_clock::now());
    if (console >= tmp_->Consoles().size()) return time + " ";
    return wct::ReadLine(time, tmp_->Consoles()[console]);
}

uint8_t TForm1::DataConsole() const {
    return static_cast<uint8_t>(dataConsoleID->value() & 0xFF);
}

uint8_t TForm1::ByteCount() const {
    return static_cast<uint8_t>(DecimalField("Bytes", Edit2->text().toStdString(), 0,
                                             TMiraWirelessProtocol::kMaxDataCount));
}

uint16_t TForm1::Address() const {
    return static_cast<uint16_t>(HexField("Address", Edit1->text().toStdString(), 4));
}

void TForm1::ReadDataClick() {
    const uint8_t count = ByteCount();
    const uint16_t address = Address();
    const uint8_t console = DataConsole();
    bool read = false;
    {
        TWaitNote note(*this, "console " + HexDigits(console, 2) + " to answer the read");
        read = tmp_->ReadValue(console, address, count);
    }
    if (!read) {
        Trace("Data NOT Readed !");
        return;
    }
    const int bytes = console < tmp_->Consoles().size() ? tmp_->Consoles()[console].DataCount : 0;
    Memo5->appendPlainText(" ## Data Readed ! Bytes: " + QString::number(bytes));
    Memo5->appendPlainText(Text(ReadLine(console)));
}

// A console that does not answer one read will not answer the next 255 either: the page
// ends there rather than after 256 time-outs.
void TForm1::ReadPageClick() {
    const uint16_t address = Address();
    const uint8_t console = DataConsole();
    for (int i = 0; i < 256 && !closing_; ++i) {
        const auto at = static_cast<uint16_t>(address + 8 * i);
        bool read = false;
        {
            TWaitNote note(*this, "console " + HexDigits(console, 2) + " to answer the read at " +
                                      HexDigits(at, 4) + " (" + std::to_string(i + 1) + " of 256)");
            read = tmp_->ReadValue(console, at, 8);
        }
        if (!read) {
            Trace("Data NOT Readed !");
            Trace("Read Page ended at address " + HexDigits(at, 4) + ": " + std::to_string(i) +
                  " of 256 reads done");
            return;
        }
        Memo5->appendPlainText(Text(ReadLine(console)));
    }
}

void TForm1::WriteDataClick() {
    const uint8_t count = ByteCount();
    const uint16_t address = Address();
    uint8_t bytes[8] = {};
    for (int i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(
            HexField("Byte " + std::to_string(i + 1),
                     dataBytes_[static_cast<size_t>(i)]->text().toStdString(), 2));
    const uint8_t console = DataConsole();
    TWaitNote note(*this, "console " + HexDigits(console, 2) + " to answer the write");
    tmp_->WriteValue(console, address, count, bytes);
}

// ---- Link menu -----------------------------------------------------------------------

void TForm1::RecordClick() {
    if (recording_->Recording()) return;
    // Next to the last recording, or else in the home folder.
    const QString last = Text(recording_->Path());
    const QString folder = last.isEmpty() ? QDir::homePath() : QFileInfo(last).absolutePath();
    const QString suggested = QDir(folder).filePath(
        "wct-" + QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss") + ".rec");
    const QString path = FileDialog().SaveFileName(this, "Record the Wire Traffic", suggested,
                                                   "Wire recordings (*.rec);;All files (*)");
    if (path.isEmpty()) return;
    try {
        recording_->Start(path.toStdString());
    } catch (const std::runtime_error& e) {
        UserMessages().MessageDlg(e.what(), TMsgDlgType::mtError, mbOK);
        return;
    }
    recordingCheck_.start();
    ShowRecordingState();
}

void TForm1::StopRecordingClick() {
    if (recording_->Recording()) StopRecording();
}

void TForm1::StopRecording() {
    recordingCheck_.stop();
    const std::string error = recording_->Stop();
    ShowRecordingState();
    if (!error.empty()) UserMessages().MessageDlg(error, TMsgDlgType::mtError, mbOK);
}

void TForm1::ShowRecordingState() {
    const bool recording = recording_->Recording();
    record_->setEnabled(!recording);
    stopRecording_->setEnabled(recording);
    const QString path = Text(recording_->Path());
    // Shown anew, so that the menu bar makes room for the file's name.
    recordingLabel_->setText(recording ? "Recording to " + QFileInfo(path).fileName() : QString());
    recordingLabel_->setToolTip(path);
    recordingLabel_->setVisible(recording);
}

void TForm1::LinkStatisticsClick() {
    linkStatsView_->show();
    linkStatsView_->raise();
    linkStatsView_->activateWindow();
}

}  // namespace wct
