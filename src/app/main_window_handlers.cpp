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
#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>

#include "app/com_led.h"
#include "app/com_setup.h"
#include "app/file_dialog.h"
#include "app/link_stats_view.h"
#include "app/live_charts_window.h"
#include "app/main_window.h"
#include "app/memo_hex.h"
#include "app/string_grid.h"
#include "app/trace_log.h"
#include "common/locale_info.h"
#include "common/user_messages.h"
#include "serial/hex.h"

namespace wct {
namespace {

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

QString HexDigits(long long value, int digits) {
    return QString("%1")
        .arg(static_cast<qulonglong>(value) & 0xFFFFFFFFull, digits, 16, QChar('0'))
        .toUpper();
}

bool IsHexText(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) != 0;
    });
}

std::string Now() {
    return LocaleInfo().DateTimeText(std::chrono::system_clock::now());
}

// The text of a decimal edit, or a message and nothing.
std::optional<int> DecimalOf(const QLineEdit& edit) {
    bool ok = false;
    const int value = edit.text().trimmed().toInt(&ok, 10);
    if (ok) return value;
    UserMessages().MessageDlg("'" + edit.text().toStdString() + "' is not a valid integer value",
                              TMsgDlgType::mtError, mbOK);
    return std::nullopt;
}

// The value of a hex edit of at most `digits` digits, or a message and nothing. Text
// that is not hex would otherwise turn silently into some other number.
std::optional<int> HexOf(const QLineEdit& edit, size_t digits) {
    const std::string text = edit.text().trimmed().toStdString();
    if (IsHexText(text) && text.size() <= digits) return HexToInt(text);
    UserMessages().MessageDlg("'" + edit.text().toStdString() + "' is not a hex value of at most " +
                                  std::to_string(digits) + " digits",
                              TMsgDlgType::mtError, mbOK);
    return std::nullopt;
}

// The count of a "Bytes" edit: decimal, one byte; or a message and nothing.
std::optional<uint8_t> ByteCountOf(const QLineEdit& edit) {
    const std::optional<int> count = DecimalOf(edit);
    if (!count) return std::nullopt;
    if (*count >= 0 && *count <= 255) return static_cast<uint8_t>(*count);
    UserMessages().MessageDlg("Bytes: " + std::to_string(*count) + " is not a byte count",
                              TMsgDlgType::mtError, mbOK);
    return std::nullopt;
}

// The recorder's own texts begin in lower case, to follow a program's name.
std::string Sentence(std::string text) {
    if (!text.empty())
        text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    return text;
}

// km/h on a roll of 45 mm.
double Kmh(uint16_t rpm) {
    return rpm * 2700 * 3.14 / 1000000;
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
    if (!tmp_->Connected()) tmp_->FindDongle();
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
    ForEachConnectedConsole([this](uint8_t id) { tmp_->RequestTotalRolls(id); });
}

void TForm1::StartAllRollsClick() {
    ForEachConnectedConsole([this](uint8_t id) { tmp_->StartRoll(id); });
}

void TForm1::TriggerClockClick() {
    ShowMessage(tmp_->TriggerClock(ForConsole()) ? "TriggerClock ok!" : "TriggerClock error!!");
}

void TForm1::TestSignalsClick() {
    ShowMessage(tmp_->TestSignals(ForConsole()) ? "TestSignals ok!" : "TestSignals error!!");
}

void TForm1::TestKeysClick() {
    ShowMessage(tmp_->TestKeys(ForConsole()) ? "keys ok!" : "keys error!!");
}

void TForm1::TestCardioClick() {
    ShowMessage(tmp_->TestCardio(ForConsole()) ? "cardio ok!" : "cardio error!!");
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
        // One byte in hex; anything else would reach the console as some other level.
        if (!IsHexText(cell) || cell.size() > 2) {
            GridResist->SetCell(1, row, "err");
            continue;
        }
        try {
            tmp_->SetConsoleResistance(row, static_cast<uint8_t>(HexToInt(cell)), 0, 0);
        } catch (const std::exception&) {
            GridResist->SetCell(1, row, "err");
        }
    }
}

// ---- Grids ---------------------------------------------------------------------------

void TForm1::MeasuresReceived(const TMiraWirelessConsoleMeasures& val, uint8_t idConsole) {
    const TMiraConsoleMeasure& m = (*val)[idConsole];
    const TMiraConsoleMeasure& first = (*val)[0];
    if (idConsole == 0) speedAverage_.Add(Kmh(m.Rpm));
    hrAverage_.Add(first.HeartRate);
    liveCharts_->Add(idConsole, Kmh(m.Rpm), m.HeartRate, m.Cadence);
    if (m.Keys > 0) Trace("Buttons :" + std::to_string(m.Keys));

    // Drawn ten times a second: at the line's rate most frames' texts would never be seen.
    measuresShown_ = val;
    if (rowsToShow_.size() <= idConsole) rowsToShow_.resize(idConsole + 1u);
    rowsToShow_[idConsole] = true;
    if (!measuresTimer_.isActive()) measuresTimer_.start();
}

void TForm1::ShowMeasures() {
    const TMiraConsoleMeasure& first = (*measuresShown_)[0];
    ShowSamples(*Memo3, speedAverage_);
    ShowSamples(*Memo4, hrAverage_);
    speedLabel_->setNum(first.Rpm);
    hrLabel_->setNum(first.HeartRate);
    hrAverageLabel_->setText(
        QString::fromStdString(Format("%3.0f", static_cast<double>(hrAverage_.Value()))));
    cadenceLabel_->setNum(first.Cadence);
    keysLabel_->setNum(first.Keys);
    kmhLabel_->setText(
        QString::fromStdString(Format("%3.1f", static_cast<double>(speedAverage_.Value()))));

    for (size_t id = 0; id < rowsToShow_.size(); ++id) {
        if (!rowsToShow_[id]) continue;
        rowsToShow_[id] = false;
        const TMiraConsoleMeasure& m = (*measuresShown_)[id];
        // Consoles past the designed rows get rows of their own rather than vanish.
        const int row = static_cast<int>(id) + 1;
        GridDati->SetCell(1, row, QString::number(m.Rpm));
        GridDati->SetCell(2, row, QString::fromStdString(Format("%3.1f", Kmh(m.Rpm))));
        GridDati->SetCell(3, row, QString::number(m.HeartRate));
        GridDati->SetCell(5, row, QString::number(m.Cadence));
        GridDati->SetCell(6, row, QString::number(m.Keys));
    }
}

void TForm1::UpdateClick() {
    for (int row = 1; row < GridConsole->RowCount(); ++row) GridConsole->SetCell(1, row, "*");
    const TMiraConsolesInformation& table = tmp_->Consoles();
    for (size_t i = 0; i < table.size(); ++i) {
        const TMiraConsoleInfo& c = table[i];
        const int row = static_cast<int>(i) + 1;
        GridConsole->SetCell(1, row, HexDigits(c.Version, 6));
        GridConsole->SetCell(2, row, HexDigits(c.Serial, 6));
        GridConsole->SetCell(3, row, QString::number(c.TotalRolls));
        GridConsole->SetCell(4, row, c.Connected ? "Si" : "No");
        GridConsole->SetCell(5, row, c.Used ? "Si" : "No");
        GridConsole->SetCell(6, row,
                             HexDigits(c.FirmwareMajor, 2) + " " + HexDigits(c.FirmwareMinor, 2));
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
    if (!text.empty() && !IsHexText(text)) {
        UserMessages().MessageDlg("'" + text + "' holds characters that are not hex digits",
                                  TMsgDlgType::mtError, mbOK);
        return;
    }
    std::string bytes;
    for (size_t i = 0; i < text.size(); i += 2)
        bytes += static_cast<char>(HexToInt(text.substr(i, 2)) & 0xFF);
    currentPort_->WriteText(bytes);
    Trace("-> MANUAL " + text);
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
    std::string line = LocaleInfo().TimeText(std::chrono::system_clock::now()) + " ";
    if (console >= tmp_->Consoles().size()) return line;
    const TMiraConsoleInfo& entry = tmp_->Consoles()[console];
    const int count = std::clamp(entry.DataCount, 0, static_cast<int>(entry.Data.size()));
    for (int i = 0; i < count; ++i) line += " " + HexDigits(entry.Data[i], 2).toStdString();
    return line;
}

void TForm1::ReadDataClick() {
    const std::optional<uint8_t> count = ByteCountOf(*Edit2);
    if (!count) return;
    const std::optional<int> address = HexOf(*Edit1, 4);
    if (!address) return;
    const auto console = static_cast<uint8_t>(dataConsoleID->value() & 0xFF);
    if (!tmp_->ReadValue(console, static_cast<uint16_t>(*address), *count)) {
        Trace("Data NOT Readed !");
        return;
    }
    const int read = console < tmp_->Consoles().size() ? tmp_->Consoles()[console].DataCount : 0;
    Memo5->appendPlainText(" ## Data Readed ! Bytes: " + QString::number(read));
    Memo5->appendPlainText(QString::fromStdString(ReadLine(console)));
}

void TForm1::ReadPageClick() {
    const std::optional<int> address = HexOf(*Edit1, 4);
    if (!address) return;
    const auto console = static_cast<uint8_t>(dataConsoleID->value() & 0xFF);
    for (int i = 0; i < 256 && !closing_; ++i) {
        const auto at = static_cast<uint16_t>(*address + 8 * i);
        if (tmp_->ReadValue(console, at, 8))
            Memo5->appendPlainText(QString::fromStdString(ReadLine(console)));
        else
            Trace("Data NOT Readed !");
    }
}

void TForm1::WriteDataClick() {
    const std::optional<uint8_t> count = ByteCountOf(*Edit2);
    if (!count) return;
    const std::optional<int> address = HexOf(*Edit1, 4);
    if (!address) return;
    uint8_t bytes[8] = {};
    for (int i = 0; i < std::min<int>(*count, 8); ++i) {
        const std::optional<int> value = HexOf(*dataBytes_[static_cast<size_t>(i)], 2);
        if (!value) return;
        bytes[i] = static_cast<uint8_t>(*value);
    }
    const auto console = static_cast<uint8_t>(dataConsoleID->value() & 0xFF);
    tmp_->WriteValue(console, static_cast<uint16_t>(*address), *count, bytes);
}

// ---- Link menu -----------------------------------------------------------------------

void TForm1::RecordClick() {
    if (tmp_->WireTap() == &recorder_) return;
    // Next to the last recording, or else in the home folder.
    const QString folder =
        recordingPath_.isEmpty() ? QDir::homePath() : QFileInfo(recordingPath_).absolutePath();
    const QString suggested = QDir(folder).filePath(
        "wct-" + QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss") + ".rec");
    const QString path = FileDialog().SaveFileName(this, "Record the Wire Traffic", suggested,
                                                   "Wire recordings (*.rec);;All files (*)");
    if (path.isEmpty()) return;
    try {
        recorder_.Open(path.toStdString());
    } catch (const std::runtime_error& e) {
        UserMessages().MessageDlg(Sentence(e.what()), TMsgDlgType::mtError, mbOK);
        return;
    }
    recordingPath_ = path;
    tmp_->SetWireTap(&recorder_);
    recordingCheck_.start();
    ShowRecordingState();
}

void TForm1::StopRecordingClick() {
    if (tmp_->WireTap() == &recorder_) StopRecording();
}

void TForm1::StopRecording() {
    recordingCheck_.stop();
    tmp_->SetWireTap(nullptr);
    recorder_.Close();
    ShowRecordingState();
    if (!recorder_.Error().empty())
        UserMessages().MessageDlg(Sentence(recorder_.Error()), TMsgDlgType::mtError, mbOK);
}

void TForm1::ShowRecordingState() {
    const bool recording = tmp_->WireTap() == &recorder_;
    record_->setEnabled(!recording);
    stopRecording_->setEnabled(recording);
    // Shown anew, so that the menu bar makes room for the file's name.
    recordingLabel_->setText(recording ? "Recording to " + QFileInfo(recordingPath_).fileName()
                                       : QString());
    recordingLabel_->setToolTip(recordingPath_);
    recordingLabel_->setVisible(recording);
}

void TForm1::LinkStatisticsClick() {
    linkStatsView_->show();
    linkStatsView_->raise();
    linkStatsView_->activateWindow();
}

}  // namespace wct
