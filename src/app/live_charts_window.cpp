// SPDX-License-Identifier: Apache-2.0
#include "app/live_charts_window.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QFile>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineSeries>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>
#include <QValueAxis>
#include <cmath>

#include "app/file_dialog.h"
#include "common/tick_count.h"
#include "common/user_messages.h"
#include "device/velox_device_w.h"

namespace wct {
namespace {

constexpr const char* kTitles[kChartQuantities] = {"Speed [km/h]", "Heart rate [bpm]",
                                                   "Cadence [rpm]", "Power [W]"};
constexpr const char* kNames[kChartQuantities] = {"SpeedChart", "HeartRateChart", "CadenceChart",
                                                  "PowerChart"};

QString ConsoleName(uint8_t console) {
    // As the measures grid labels its rows.
    return "Console " + QString("%1").arg(console, 2, 16, QChar('0')).toUpper();
}

// Far apart on the colour wheel for neighbouring consoles.
QColor ConsoleColour(uint8_t console) {
    return QColor::fromHsv((console * 97) % 360, 220, 200);
}

QIcon Swatch(uint8_t console) {
    QPixmap swatch(12, 12);
    swatch.fill(ConsoleColour(console));
    return QIcon(swatch);
}

// The top of a value axis from 0 that shows `high` and splits into 4 round steps: 1, 2, 4,
// 6 or 8 times a power of ten.
double NiceTop(double high) {
    if (high <= 0) return 1;
    const double power = std::pow(10.0, std::floor(std::log10(high)));
    for (double step : {1.0, 2.0, 4.0, 6.0, 8.0})
        if (step * power >= high) return step * power;
    return 10 * power;
}

QValueAxis* AxisOf(QChart& chart, Qt::Orientation orientation) {
    return qobject_cast<QValueAxis*>(chart.axes(orientation).value(0));
}

QPushButton* Button(const QString& caption, const char* name) {
    auto* button = new QPushButton(caption);
    button->setObjectName(name);
    return button;
}

}  // namespace

TLiveChartsWindow::TLiveChartsWindow(const TVeloxDeviceW& rider, QWidget* parent)
    : QWidget(parent, Qt::Window), rider_(rider), live_(kDefaultMinutes * 60000LL) {
    setWindowTitle("Live Charts");
    setObjectName("LiveCharts");

    consoles_ = new QListWidget;
    consoles_->setObjectName("Consoles");
    // Wide enough for the longest state a console shows, beside its box and colour.
    consoles_->setMaximumWidth(
        consoles_->fontMetrics().horizontalAdvance("Console 00 (heart cut)") + 70);
    connect(consoles_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        ShowConsole(static_cast<uint8_t>(item->data(Qt::UserRole).toInt()),
                    item->checkState() == Qt::Checked);
        Refresh();
    });

    QHBoxLayout* tools = BuildTools();
    BuildCharts();

    auto* body = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    left->addWidget(new QLabel("Consoles"));
    left->addWidget(consoles_, 1);
    body->addLayout(left);
    body->addWidget(chartArea_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(tools);
    layout->addLayout(body, 1);
    resize(1000, 700);

    refresh_.setInterval(kRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, [this] {
        if (!frozen_) Refresh();
    });
}

// The tool bar: the span, pause, zoom reset and the exports.
QHBoxLayout* TLiveChartsWindow::BuildTools() {
    minutes_ = new QComboBox;
    minutes_->setObjectName("Minutes");
    for (int m : {1, 2, 5, 10, 15}) minutes_->addItem(QString::number(m), m);
    minutes_->setCurrentText(QString::number(kDefaultMinutes));
    connect(minutes_, &QComboBox::currentIndexChanged, this, [this] {
        live_.SetSpan(minutes_->currentData().toInt() * 60000LL);
        zoom_.reset();
        Refresh();
    });
    pause_ = Button("Pause", "Pause");
    pause_->setCheckable(true);
    connect(pause_, &QPushButton::toggled, this, [this](bool on) { SetPaused(on); });
    QPushButton* resetZoom = Button("Reset zoom", "ResetZoom");
    connect(resetZoom, &QPushButton::clicked, this, [this] {
        zoom_.reset();
        Refresh();
    });
    QPushButton* png = Button("Export PNG...", "ExportPng");
    connect(png, &QPushButton::clicked, this, [this] { ExportPng(); });
    QPushButton* csv = Button("Export CSV...", "ExportCsv");
    connect(csv, &QPushButton::clicked, this, [this] { ExportCsv(); });

    auto* tools = new QHBoxLayout;
    tools->addWidget(new QLabel("Minutes"));
    tools->addWidget(minutes_);
    tools->addWidget(pause_);
    tools->addWidget(resetZoom);
    tools->addStretch(1);
    tools->addWidget(png);
    tools->addWidget(csv);
    return tools;
}

// One chart per quantity, stacked, their time axes zoomed together.
void TLiveChartsWindow::BuildCharts() {
    chartArea_ = new QWidget;
    auto* charts = new QVBoxLayout(chartArea_);
    charts->setContentsMargins(0, 0, 0, 0);
    charts->setSpacing(0);
    for (int q = 0; q < kChartQuantities; ++q) {
        auto* chart = new QChart;
        chart->setTitle(kTitles[q]);
        chart->setMargins(QMargins(4, 2, 4, 2));
        // The console list is the legend, so the four plots line up.
        chart->legend()->hide();
        auto* x = new QValueAxis;
        x->setTitleText(q == kChartQuantities - 1 ? "seconds" : "");
        x->setLabelFormat("%.0f");
        auto* y = new QValueAxis;
        y->setLabelFormat("%g");
        chart->addAxis(x, Qt::AlignBottom);
        chart->addAxis(y, Qt::AlignLeft);
        connect(x, &QValueAxis::rangeChanged, this, [this](qreal from, qreal to) {
            if (!drawing_) Zoomed(from, to);
        });
        views_[q] = new QChartView(chart);
        views_[q]->setObjectName(kNames[q]);
        views_[q]->setRenderHint(QPainter::Antialiasing, false);
        views_[q]->setRubberBand(QChartView::HorizontalRubberBand);
        views_[q]->setMinimumHeight(140);
        charts->addWidget(views_[q], 1);
    }
}

TLiveChartsWindow::~TLiveChartsWindow() = default;

int64_t TLiveChartsWindow::NowMs() {
    return clock_.Read(GetTickCount());
}

void TLiveChartsWindow::Add(uint8_t console, const TMiraConsoleMeasure& measure) {
    TChartSample sample;
    sample.ms = NowMs();
    const bool riderHere = rider_.Connected() && rider_.IDConsole() == console;
    sample.values = {static_cast<float>(RollSpeedKmh(measure.Rpm)),
                     static_cast<float>(measure.HeartRate), static_cast<float>(measure.Cadence),
                     riderHere ? static_cast<float>(rider_.Power()) : NAN};
    live_.Add(console, sample, SilenceAfterMs(measure));
}

TLiveChartsWindow::TTimeRange TLiveChartsWindow::ShownRange() {
    if (zoom_) return *zoom_;
    const int64_t end = frozen_ ? frozenAt_ : NowMs();
    return {end - live_.Span(), end};
}

std::vector<uint8_t> TLiveChartsWindow::TickedConsoles() const {
    std::vector<uint8_t> ticked;
    for (const auto& [console, series] : series_) ticked.push_back(console);
    return ticked;
}

void TLiveChartsWindow::ListNewConsoles() {
    const std::vector<uint8_t> present = live_.Consoles();
    for (uint8_t console : present) {
        bool listed = false;
        for (int row = 0; row < consoles_->count() && !listed; ++row)
            listed = consoles_->item(row)->data(Qt::UserRole).toInt() == console;
        if (listed) continue;
        auto* item = new QListWidgetItem(Swatch(console), ConsoleName(console));
        item->setData(Qt::UserRole, console);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        // The first console to show up is shown, so the charts are never blank at first.
        const bool first = consoles_->count() == 0;
        item->setCheckState(first ? Qt::Checked : Qt::Unchecked);
        int row = 0;
        while (row < consoles_->count() &&
               consoles_->item(row)->data(Qt::UserRole).toInt() < console)
            ++row;
        const QSignalBlocker quiet(consoles_);
        consoles_->insertItem(row, item);
        if (first) ShowConsole(console, true);
    }
}

void TLiveChartsWindow::ShowConsole(uint8_t console, bool shown) {
    const auto found = series_.find(console);
    if (!shown) {
        if (found == series_.end()) return;
        for (int q = 0; q < kChartQuantities; ++q) {
            for (QLineSeries* line : found->second[q]) {
                views_[q]->chart()->removeSeries(line);
                delete line;
            }
        }
        series_.erase(found);
        return;
    }
    if (found != series_.end()) return;
    for (int q = 0; q < kChartQuantities; ++q) AddLine(console, q);
}

void TLiveChartsWindow::AddLine(uint8_t console, int q) {
    QChart& chart = *views_[q]->chart();
    auto* line = new QLineSeries;
    line->setName(ConsoleName(console));
    line->setPen(QPen(ConsoleColour(console), 1));
    const QSignalBlocker quiet(AxisOf(chart, Qt::Horizontal));
    chart.addSeries(line);
    line->attachAxis(AxisOf(chart, Qt::Horizontal));
    line->attachAxis(AxisOf(chart, Qt::Vertical));
    series_[console][q].push_back(line);
}

// A console whose brake the interlock holds at 0 says so in the list, in red; a silent one
// in grey. Both at once: the cut, which is what keeps the rider safe.
void TLiveChartsWindow::ShowConsoleStates() {
    const TMiraWirelessProtocol* protocol = rider_.WirelessUSB();
    for (int row = 0; row < consoles_->count(); ++row) {
        QListWidgetItem* item = consoles_->item(row);
        const auto console = static_cast<uint8_t>(item->data(Qt::UserRole).toInt());
        const bool cut = protocol != nullptr && protocol->BrakeInterlock().Cut(console);
        QString note, why;
        QBrush colour;
        if (cut) {
            note = " (heart cut)";
            colour = QBrush(Qt::red);
            why = "Heart rate above its maximum: brake held at 0";
        } else if (protocol != nullptr && protocol->IsConsoleSilent(console)) {
            note = " (silent)";
            colour = QBrush(Qt::gray);
            why = "No measures for longer than " +
                  QString::number(SilenceAfterMs((*protocol->LastMeasure())[console])) +
                  " ms: the charts show a gap";
        }
        const QString text = ConsoleName(console) + note;
        if (item->text() == text) continue;
        const QSignalBlocker quiet(consoles_);
        item->setText(text);
        item->setForeground(colour);
        item->setToolTip(why);
    }
}

void TLiveChartsWindow::Refresh() {
    ListNewConsoles();
    ShowConsoleStates();
    const TTimeRange range = ShownRange();
    // A zoom always comes with a pause, so the picture ends where it was frozen.
    const int64_t end = frozen_ ? frozenAt_ : range.to;
    lastEnd_ = end;
    drawing_ = true;
    for (int q = 0; q < kChartQuantities; ++q) {
        QChart& chart = *views_[q]->chart();
        const int columns = std::max(100, static_cast<int>(chart.plotArea().width()));
        float high = 0;
        bool plotted = false;
        for (auto& [console, charts] : series_) {
            const std::vector<TChartRun> runs = Shown().Decimated(
                console, static_cast<TChartQuantity>(q), range.from, range.to, columns);
            plotted = plotted || !runs.empty();
            // One line a run, so that nothing is drawn across a silence.
            std::vector<QLineSeries*>& lines = charts[q];
            const size_t wanted = std::max<size_t>(1, runs.size());
            while (lines.size() < wanted) AddLine(console, q);
            for (; lines.size() > wanted; lines.pop_back()) {
                chart.removeSeries(lines.back());
                delete lines.back();
            }
            for (size_t i = 0; i < lines.size(); ++i) {
                QList<QPointF> xy;
                if (i < runs.size()) {
                    xy.reserve(static_cast<qsizetype>(runs[i].size()));
                    for (const TChartPoint& p : runs[i]) {
                        xy.append(QPointF(static_cast<double>(p.ms - end) / 1000, p.value));
                        high = std::max(high, p.value);
                    }
                }
                lines[i]->replace(xy);
            }
        }
        AxisOf(chart, Qt::Horizontal)
            ->setRange(static_cast<double>(range.from - end) / 1000,
                       static_cast<double>(range.to - end) / 1000);
        // Set only when it changes: each change lays the axis out anew.
        QValueAxis* y = AxisOf(chart, Qt::Vertical);
        const double top = NiceTop(high * 1.05);  // a little room above the highest
        if (y->max() != top) y->setRange(0, top);
        // Power comes only from a rider device: an empty plot says why it is empty.
        if (static_cast<TChartQuantity>(q) == TChartQuantity::Power) {
            const QString title = plotted
                                      ? QString(kTitles[q])
                                      : QString(kTitles[q]) + ": no rider device on these consoles";
            if (chart.title() != title) chart.setTitle(title);
        }
    }
    drawing_ = false;
}

void TLiveChartsWindow::SetPaused(bool paused) {
    if (paused && !frozen_) {
        frozen_ = live_;
        frozenAt_ = lastEnd_ != 0 ? lastEnd_ : NowMs();
    } else if (!paused) {
        frozen_.reset();
        zoom_.reset();
    }
    Refresh();
}

void TLiveChartsWindow::Zoomed(double fromSeconds, double toSeconds) {
    // A zoom holds the picture still; "Pause" says so, and unticking it goes live again.
    if (!pause_->isChecked()) {
        const QSignalBlocker quiet(pause_);
        pause_->setChecked(true);
        frozen_ = live_;
        frozenAt_ = lastEnd_;
    }
    zoom_ = TTimeRange{lastEnd_ + static_cast<int64_t>(fromSeconds * 1000),
                       lastEnd_ + static_cast<int64_t>(toSeconds * 1000)};
    // The chart is still inside its own zoom step.
    QTimer::singleShot(0, this, [this] { Refresh(); });
}

void TLiveChartsWindow::ExportPng() {
    const QString path =
        FileDialog().SaveFileName(this, "Export PNG", "live-charts.png", "PNG images (*.png)");
    if (path.isEmpty()) return;
    if (!chartArea_->grab().save(path, "PNG"))
        UserMessages().MessageDlg("Cannot write " + path.toStdString(), TMsgDlgType::mtError, mbOK);
}

void TLiveChartsWindow::ExportCsv() {
    const QString path =
        FileDialog().SaveFileName(this, "Export CSV", "live-charts.csv", "CSV files (*.csv)");
    if (path.isEmpty()) return;
    const TTimeRange range = ShownRange();
    const std::string text = Shown().Csv(TickedConsoles(), range.from, range.to);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()) ||
        !file.flush()) {
        UserMessages().MessageDlg(
            "Cannot write " + path.toStdString() + ": " + file.errorString().toStdString(),
            TMsgDlgType::mtError, mbOK);
    }
}

void TLiveChartsWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Refresh();
    refresh_.start();
}

void TLiveChartsWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    refresh_.stop();
}

}  // namespace wct
