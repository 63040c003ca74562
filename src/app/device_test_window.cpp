// SPDX-License-Identifier: Apache-2.0
#include "app/device_test_window.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <optional>

#include "app/bench_texts.h"
#include "app/string_grid.h"
#include "common/locale_info.h"
#include "common/number_text.h"
#include "common/user_messages.h"

namespace wct {
namespace {

constexpr int kSlopeCol = 12;
constexpr int kKeyCol = 7;
constexpr int kFilledColumns = 24;

// The shortest general form of a number, with the locale's decimal separator.
QString FloatText(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.15G", value);
    std::string s = text;
    // "1.5E-05" reads "1.5E-5".
    if (const size_t e = s.find('E'); e != std::string::npos) {
        size_t digits = e + 2;
        while (digits + 1 < s.size() && s[digits] == '0') s.erase(digits, 1);
        if (s[e + 1] == '+') s.erase(e + 1, 1);
    }
    std::replace(s.begin(), s.end(), '.', LocaleInfo().DecimalSeparator());
    return QString::fromStdString(s);
}

// One decimal, as the main window shows speeds, with the locale's decimal separator.
QString Text(const std::string& number) {
    QString text = QString::fromStdString(number).trimmed();
    text.replace('.', LocaleInfo().DecimalSeparator());
    return text;
}

// A number typed with the locale's decimal separator; nothing for any other text.
std::optional<double> NumberOf(const QString& typed) {
    std::string text = typed.trimmed().toStdString();
    std::replace(text.begin(), text.end(), LocaleInfo().DecimalSeparator(), '.');
    return ReadNumber<double>(text);
}

const char* KeyText(TConsoleKey key) {
    switch (key) {
        case ckPlus:
            return "+ ";
        case ckMinus:
            return "- ";
        case ckE:
            return "E";
        case ckT:
            return "T";
    }
    return "";
}

}  // namespace

// Tells the window when a listed device is destroyed before it.
class TForm2::TDeviceWatch : public TComponent {
public:
    explicit TDeviceWatch(TForm2& form) : form_(form) {}
    ~TDeviceWatch() override { BeginDestruction(); }

protected:
    void Notification(TComponent* component, TOperation operation) override {
        TComponent::Notification(component, operation);
        if (operation == TOperation::opRemove) form_.Forget(component);
    }

private:
    TForm2& form_;
};

TForm2::TForm2(TComponent& mainComponents, QWidget* parent)
    : QWidget(parent, Qt::Window),
      mainComponents_(mainComponents),
      watch_(std::make_unique<TDeviceWatch>(*this)),
      clicks_([this] { return EndWaits(); }) {
    setObjectName("Form2");
    setWindowTitle("VxDeviceW Test");
    BuildWindow();
    // Creation: the header row, then "Update", which fits the column widths.
    const char* headers[] = {"TObject",  "Console Id",     "Speed",     "Cadence",   "Hr",
                             "Distance", "Unit of Misure", "Buttons",   "Status",    "Connection",
                             "Calories", "AvgHr",          "Slope",     "Power",     "Resis.",
                             "AvgCad",   "AvgSpeed",       "Time",      "PowToShow", "Max Pow",
                             "Max Hr",   "Max Cad",        "Max Speed", "Virtual Sp"};
    for (int c = 0; c < kFilledColumns; ++c) grid_->SetCell(c, 0, headers[c]);
    // The small "update" button sits on the left of the corner cell, its caption right.
    grid_->horizontalHeaderItem(0)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    UpdateClick();  // fits the columns too
    // Wide enough for the 24 filled columns, at least as wide as the bench always was;
    // short enough for a 1366 x 768 screen.
    int filled = 0;
    for (int c = 0; c < kFilledColumns; ++c) filled += grid_->columnWidth(c);
    const int chrome = 134 + 2 * grid_->frameWidth() + 16;  // the left panel, frame, spacing
    resize(std::max(1278, chrome + filled), 700);
}

// Each filled column as wide as the longest word of its header or its widest value needs
// on this platform's font, so that all 24 fit the window; the six columns that nothing
// fills stay narrow.
void TForm2::FitColumns() {
    // The widest value each column shows in a ride of an hour or so.
    static const char* const kWidest[kFilledColumns] = {
        "",      "000",   "000.0", "000",   "000",   "0000.0", "umMiles", "+ ",    "csReadyToStart",
        "False", "00000", "000",   "-00.0", "0000",  "000",    "000",     "000.0", "0000000",
        "0000",  "0000",  "000",   "000",   "000.0", "000.0"};
    const QFontMetrics metrics(grid_->font());
    const auto fit = [&](const QString& text) { return metrics.horizontalAdvance(text) + 8; };
    for (int c = 0; c < grid_->columnCount(); ++c) {
        if (c >= kFilledColumns) {
            grid_->setColumnWidth(c, 16);
            continue;
        }
        int width = fit(kWidest[c]);
        for (const QString& word : grid_->Cell(c, 0).split(' ')) width = std::max(width, fit(word));
        if (c == 0) {
            width = std::max(width, update_->width() + fit("TObject"));
            for (TVeloxDeviceW* device : devices_)
                width = std::max(width, fit(QString::fromStdString(device->Name())));
        }
        grid_->setColumnWidth(c, width);
    }
}

TForm2::~TForm2() {
    Unbind();
}

QPushButton* TForm2::Button(const QString& caption, void (TForm2::*handler)()) {
    return clicks_.Button(this, caption, handler);
}

void TForm2::Run(QPushButton* button, void (TForm2::*handler)()) {
    clicks_.Run(button, [this, handler] { (this->*handler)(); });
}

// Left: the devices and the seven buttons.
QWidget* TForm2::BuildLeftPanel() {
    deviceMemo_ = new QPlainTextEdit;
    deviceMemo_->setObjectName("DeviceMemo");
    deviceMemo_->setReadOnly(true);
    auto* left = new QWidget;
    left->setObjectName("LeftPanel");
    left->setFixedWidth(134);
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(4, 4, 4, 4);
    leftLayout->addWidget(new QLabel("Device presenti"));
    leftLayout->addWidget(deviceMemo_, 1);
    leftLayout->addWidget(Button("Update", &TForm2::UpdateClick));
    leftLayout->addWidget(Button("Connect", &TForm2::ConnectClick));
    leftLayout->addWidget(Button("Disconnect", &TForm2::DisconnectClick));
    leftLayout->addWidget(Button("Start", &TForm2::StartClick));
    leftLayout->addWidget(Button("Pause", &TForm2::PauseClick));
    leftLayout->addWidget(Button("Stop", &TForm2::StopClick));
    virtual_ = Button("Virtual ON", &TForm2::VirtualClick);
    virtual_->setObjectName("Virtual");
    leftLayout->addWidget(virtual_);
    return left;
}

// Client: the data grid with its small "update" button and the slope edit.
void TForm2::BuildGrid() {
    grid_ = new TStringGrid(30, 20);
    grid_->setObjectName("DataGrid");
    // Tahoma where it is installed; else a narrow face of about its width, so that the
    // 24 columns fit as they did.
    QFont font;
    font.setFamilies({"Tahoma", "DejaVu Sans Condensed"});
    font.setPointSize(8);
    grid_->setFont(font);
    grid_->horizontalHeader()->setFont(font);
    grid_->horizontalHeader()->setDefaultSectionSize(52);
    grid_->horizontalHeader()->setStretchLastSection(false);
    grid_->verticalHeader()->setDefaultSectionSize(17);
    grid_->verticalHeader()->setMinimumSectionSize(12);
    grid_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    grid_->setShowGrid(true);
    connect(grid_, &QTableWidget::cellClicked, this, [this] { GridClick(); });
    grid_->viewport()->setMouseTracking(true);
    grid_->viewport()->installEventFilter(this);
    // Column 0 is the fixed column: drawn like the header, never edited.
    for (int r = 1; r < 20; ++r) grid_->SetCell(0, r, "");

    update_ = new QPushButton("update", grid_);
    update_->setObjectName("update");
    update_->setFont(font);
    // Two-word captions take two lines, so that 24 columns fit the window's width.
    const QFontMetrics metrics(font);
    grid_->horizontalHeader()->setDefaultAlignment(
        Qt::Alignment::fromInt(Qt::AlignCenter | Qt::TextWordWrap));
    grid_->horizontalHeader()->setFixedHeight(2 * metrics.lineSpacing() + 6);
    update_->setGeometry(
        grid_->frameWidth() + 1,
        grid_->frameWidth() + 1 + (2 * metrics.lineSpacing() - metrics.height()) / 2,
        metrics.horizontalAdvance("update") + 12, metrics.height() + 6);
    connect(update_, &QPushButton::clicked, this,
            [this] { Run(update_, &TForm2::GridUpdateClick); });

    slopeEdit_ = new QLineEdit(grid_->viewport());
    slopeEdit_->setObjectName("SlopeEdit");
    slopeEdit_->setFrame(false);
    slopeEdit_->setFont(font);
    slopeEdit_->setFixedSize(52, 17);
    slopeEdit_->hide();
    slopeEdit_->installEventFilter(this);
}

// Bottom: the debug memo.
QWidget* TForm2::BuildBottomPanel() {
    debugMemo_ = new QPlainTextEdit;
    debugMemo_->setObjectName("DebugMemo");
    debugMemo_->setReadOnly(true);
    debugMemo_->setUndoRedoEnabled(false);
    debugMemo_->setFixedSize(681, 146);
    auto* bottom = new QWidget;
    bottom->setObjectName("BottomPanel");
    bottom->setFixedHeight(178);
    auto* bottomLayout = new QVBoxLayout(bottom);
    bottomLayout->setContentsMargins(4, 4, 4, 4);
    auto* captions = new QHBoxLayout;
    captions->addWidget(new QLabel("Debug"));
    captions->addStretch(1);
    captions->addWidget(new QLabel("Label3"));
    bottomLayout->addLayout(captions);
    bottomLayout->addWidget(debugMemo_, 0, Qt::AlignLeft);
    return bottom;
}

void TForm2::BuildWindow() {
    QWidget* left = BuildLeftPanel();
    BuildGrid();
    QWidget* bottom = BuildBottomPanel();
    auto* upper = new QHBoxLayout;
    upper->setContentsMargins(0, 0, 0, 0);
    upper->addWidget(left);
    upper->addWidget(grid_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addLayout(upper, 1);
    layout->addWidget(bottom);
}

bool TForm2::eventFilter(QObject* watched, QEvent* event) {
    if (watched == grid_->viewport() && event->type() == QEvent::MouseMove) {
        mousePos_ = static_cast<QMouseEvent*>(event)->position().toPoint();
    } else if (watched == slopeEdit_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            SlopeEntered();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// Gives up the console search of a "Connect", or any other wait of a button.
bool TForm2::EndWaits() {
    Write("Wait ended by the operator");
    for (TVeloxDeviceW* device : devices_)
        if (device->WirelessUSB() != nullptr) device->WirelessUSB()->EndWaits();
    return true;
}

void TForm2::Write(const std::string& line) {
    debugMemo_->appendPlainText(QString::fromStdString(line));
}

// ---- The device list -----------------------------------------------------------------

void TForm2::Unbind() {
    for (TVeloxDeviceW* device : devices_) {
        device->OnStats = nullptr;
        device->OnDisconnected = nullptr;
        device->OnConsoleKeyDown = nullptr;
        device->TimerStats().OnTickError = nullptr;
        device->RemoveFreeNotification(watch_.get());
    }
    devices_.clear();
}

void TForm2::Forget(TComponent* device) {
    devices_.erase(std::remove(devices_.begin(), devices_.end(), device), devices_.end());
}

void TForm2::UpdateClick() {
    deviceMemo_->clear();
    Unbind();
    for (TComponent* component : mainComponents_.Components()) {
        if (component->ClassName() != "TVeloxDeviceW") continue;
        auto* device = static_cast<TVeloxDeviceW*>(component);
        deviceMemo_->appendPlainText(QString::fromStdString(device->Name()));
        devices_.push_back(device);
        device->FreeNotification(watch_.get());
        device->OnStats = [this, device](TComponent*) { StatsHandler(*device); };
        device->OnDisconnected = [this, device](TComponent*) { DisconnectionHandler(*device); };
        device->OnConsoleKeyDown = [this, device](TComponent*, TConsoleKey key) {
            KeyHandler(*device, key);
        };
        device->TimerStats().OnTickError = [this, device](const std::string& what) {
            StepFailed(*device, what);
        };
    }
    FitColumns();
}

int TForm2::RowOf(const TVeloxDeviceW& device) const {
    int row = 10;
    for (size_t i = 0; i < devices_.size(); ++i)
        if (devices_[i]->Name() == device.Name()) row = static_cast<int>(i) + 1;
    return row;
}

// ---- The buttons ---------------------------------------------------------------------

// Connecting waits for a console with the event loop running; the list is copied so that
// an "Update" meanwhile does not pull it from under the loop.
void TForm2::ConnectClick() {
    for (TVeloxDeviceW* device : std::vector(devices_))
        Write(device->Name() + (device->Connect() ? " connected" : " NOT connected"));
    ShowRows();
}

void TForm2::DisconnectClick() {
    for (TVeloxDeviceW* device : std::vector(devices_)) {
        device->Disconnect();
        Write(device->Name() + " Disconnected");
    }
    ShowRows();
}

void TForm2::StartClick() {
    for (TVeloxDeviceW* device : std::vector(devices_)) {
        device->SetRecoverConnectionTime(60);
        device->Start();
        Write(device->Name() + " Start");
    }
    ShowRows();
}

void TForm2::PauseClick() {
    for (TVeloxDeviceW* device : std::vector(devices_)) {
        device->Pause();
        Write(device->Name() + " Pause");
    }
    ShowRows();
}

void TForm2::StopClick() {
    for (TVeloxDeviceW* device : std::vector(devices_)) {
        device->Stop();
        Write(device->Name() + " Stop");
    }
    ShowRows();
}

void TForm2::VirtualClick() {
    const bool on = virtual_->text() == "Virtual ON";
    virtual_->setText(on ? "Virtual OFF" : "Virtual ON");
    for (TVeloxDeviceW* device : devices_) device->SetVirtualSpeedEnabled(on);
    ShowRows();
}

void TForm2::GridUpdateClick() {
    for (TVeloxDeviceW* device : std::vector(devices_)) StatsHandler(*device);
}

// ---- Device events -------------------------------------------------------------------

void TForm2::StatsHandler(TVeloxDeviceW& device) {
    Write("Stats id: " + std::to_string(device.IDConsole()));
    try {
        device.SetVeloxResistance(
            device.ResistanceForPower(device.Power(), nullptr, device.Speed()));
    } catch (...) {
        // The row shows the ride all the same; the timer tells the failure (StepFailed).
        ShowRow(device);
        throw;
    }
    ShowRow(device);
}

void TForm2::StepFailed(TVeloxDeviceW& device, const std::string& what) {
    // The device's own errors name it already; once is enough on one line.
    const std::string named = device.Name() + ": ";
    const std::string why = what.rfind(named, 0) == 0 ? what.substr(named.size()) : what;
    const std::string text = named + "statistics step failed, brake kept at level " +
                             std::to_string(device.VeloxResistance()) + ": " + why;
    Write(text);
    if (OnStepFailed) OnStepFailed(text);
}

void TForm2::ShowRows() {
    for (TVeloxDeviceW* device : std::vector(devices_)) ShowRow(*device);
}

void TForm2::ShowRow(TVeloxDeviceW& device) {
    const int row = RowOf(device);
    const auto set = [&](int col, const QString& text) { grid_->SetCell(col, row, text); };
    const auto integer = [&](int col, long long value) { set(col, QString::number(value)); };
    set(0, QString::fromStdString(device.Name()));
    integer(1, device.IDConsole());
    set(2, Text(OneDecimal(device.Speed())));
    set(3, FloatText(device.Cadence()));
    integer(15, device.AverageCadence());
    set(4, FloatText(device.HeartRate()));
    set(11, FloatText(device.AverageHeartRate()));
    set(5, Text(OneDecimal(device.Distance())));
    set(6, device.UOM() == umKm ? "umKm" : "umMiles");
    // Ordinal 1 has no name: the cell keeps what it shows.
    if (const char* state = CompetitorStateName(device.CompetitorState())) set(8, state);
    set(9, device.Connected() ? "True" : "False");
    integer(10, device.Calories());
    integer(14, device.VeloxResistance());
    // Why the level is 0 while the rider's heart is too high.
    const QColor cut = device.HeartCut() ? QColor(255, 120, 120) : QColor();
    const QString why =
        device.HeartCut() ? QString::fromStdString(device.HeartRule()->StartText()) : QString();
    grid_->MarkRow(row, cut, why);
    grid_->MarkCell(14, row, cut, why);
    integer(13, device.Power());
    set(16, Text(OneDecimal(device.AverageSpeed())));
    integer(17, device.TimeElapsed());

    // A slope that is not a number keeps the slope in force and is reported; the cells
    // after it are still refreshed.
    const QString slope = grid_->Cell(kSlopeCol, row);
    if (!slope.isEmpty()) {
        if (const std::optional<double> value = NumberOf(slope))
            device.SetCurrentSlope(*value);
        else
            Write("Slope '" + slope.toStdString() + "' is not a number: " + device.Name() +
                  " keeps " + FloatText(device.CurrentSlope()).toStdString() + " %");
    }

    integer(18, device.PowerToShow());
    integer(19, device.MaxPower());
    integer(20, device.MaxHeartRate());
    integer(21, device.MaxCadence());
    set(22, Text(OneDecimal(device.MaxSpeed())));
    set(23, Text(OneDecimal(device.VirtualSpeed())));
}

void TForm2::DisconnectionHandler(TVeloxDeviceW& device) {
    Write(device.Name() + " Disconnected");
}

void TForm2::KeyHandler(TVeloxDeviceW& device, TConsoleKey key) {
    const char* text = KeyText(key);
    grid_->SetCell(kKeyCol, RowOf(device), text);
    Write(std::string(text) + " Key Event -> " + device.Name());
}

// ---- Slope typing --------------------------------------------------------------------

void TForm2::GridClick() {
    if (grid_->currentColumn() != kSlopeCol) return;
    slopeEdit_->move(mousePos_);
    slopeEdit_->show();
    slopeEdit_->raise();
    editCol_ = grid_->currentColumn();
    editRow_ = grid_->currentRow() + 1;  // the grid's rows count the header row
    slopeEdit_->setFocus();
}

void TForm2::SlopeEntered() {
    slopeEdit_->hide();
    if (editCol_ >= 0 && editRow_ >= 1) grid_->SetCell(editCol_, editRow_, slopeEdit_->text());
    slopeEdit_->clear();
}

}  // namespace wct
