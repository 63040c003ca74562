#include "app/averages_panel.h"

#include <QGridLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <utility>

#include "app/bench_texts.h"
#include "app/frame_clock.h"
#include "app/panel_controls.h"

namespace wct {
namespace {

void ShowSamples(QPlainTextEdit& memo, const TMiraAverage& average) {
    std::vector<std::string> lines;
    average.ToStrings(lines);
    QStringList text;
    for (const auto& line : lines) text.append(QString::fromStdString(line));
    const QString joined = text.join('\n');
    if (memo.toPlainText() != joined) memo.setPlainText(joined);
}

}  // namespace

TAveragesPanel::TAveragesPanel(TFrameClock& frames) : frames_(frames) {
    speedAverage_.SetLength(5);
    hrAverage_.SetLength(5);
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
    Fill(*this, "Averages", averages);

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
    singleConsole_ = new QGroupBox;
    Fill(*singleConsole_, "Data single console", single);
    singleConsole_->setObjectName("DataSingleConsole");
    frames_.Follow(this, [this] { Draw(); });
}

void TAveragesPanel::Add(const TMiraWirelessConsoleMeasures& val, uint8_t id) {
    if (id == 0) speedAverage_.Add(RollSpeedKmh((*val)[id].Rpm));
    hrAverage_.Add((*val)[0].HeartRate);
    measuresShown_ = val;
    toDraw_ = true;
    frames_.Request();
}

void TAveragesPanel::Draw() {
    if (!toDraw_) return;
    toDraw_ = false;
    // A reset may have emptied the table since.
    if (measuresShown_->empty()) return;
    const TMiraConsoleMeasure& first = (*measuresShown_)[0];
    ShowSamples(*Memo3, speedAverage_);
    ShowSamples(*Memo4, hrAverage_);
    speedLabel_->setNum(first.Rpm);
    hrLabel_->setNum(first.HeartRate);
    hrAverageLabel_->setText(QString::asprintf("%3.0f", static_cast<double>(hrAverage_.Value())));
    cadenceLabel_->setNum(first.Cadence);
    keysLabel_->setNum(first.Keys);
    kmhLabel_->setText(QString::fromStdString(OneDecimal(static_cast<double>(speedAverage_.Value()))));
}

}  // namespace wct
