// SPDX-License-Identifier: Apache-2.0
#include "app/averages_panel.h"

#include <QGridLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSpinBox>

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

    const char* names[] = {"speedLabel", "hrLabel",  "cadenceLabel",
                           "keysLabel",  "kmhLabel", "hrAverageLabel"};
    for (size_t i = 0; i < figures_.size(); ++i) figures_[i] = Label("0", names[i]);
    QSpinBox* speedLength = SpinEdit("speedAverageLength", 1, 1000, 5);
    QSpinBox* hrLength = SpinEdit("hrAverageLength", 1, 1000, 5);
    connect(speedLength, &QSpinBox::valueChanged, this, [this](int n) {
        if (n > 0) speedAverage_.SetLength(n);
    });
    connect(hrLength, &QSpinBox::valueChanged, this, [this](int n) {
        if (n > 0) hrAverage_.SetLength(n);
    });
    auto* single = new QGridLayout;
    const char* captions[] = {"Speed [rpm]", "HR",          "Cadence",         "Keyboard",
                              "Speed [Kmh]", "Avg Hr",      "media  velocita", "media  cardio"};
    QWidget* const values[] = {figures_[0], figures_[1], figures_[2], figures_[3],
                               figures_[4], figures_[5], speedLength,  hrLength};
    for (int r = 0; r < 8; ++r) {
        single->addWidget(Label(captions[r]), r, 0);
        single->addWidget(values[r], r, 1);
    }
    auto* singleConsole = new QGroupBox(this);
    Fill(*singleConsole, "Data single console", single);
    singleConsole->setObjectName("DataSingleConsole");
    singleConsole->hide();
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
    const QString texts[] = {
        QString::number(first.Rpm),
        QString::number(first.HeartRate),
        QString::number(first.Cadence),
        QString::number(first.Keys),
        QString::fromStdString(OneDecimal(static_cast<double>(speedAverage_.Value()))),
        QString::asprintf("%3.0f", static_cast<double>(hrAverage_.Value())),
    };
    for (size_t i = 0; i < figures_.size(); ++i) figures_[i]->setText(texts[i]);
}

}  // namespace wct
