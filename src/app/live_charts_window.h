// SPDX-License-Identifier: Apache-2.0
// TLiveChartsWindow, "Live Charts": speed, heart rate, cadence and, where the rider device
// is connected to the console, power, over the last minutes, for the consoles ticked in
// the window. Every measures frame is kept (Add) whether or not the window is shown; the
// charts are redrawn once a second while it is shown, each series cut down to two points
// a pixel column, so an open window costs little at the full line rate. A console that fell
// silent (no measures for longer than its silence bound) leaves a gap in its lines rather
// than a line across the silence, and says "(silent)" in the list while it lasts.
//
// "Pause" freezes what is shown (measures keep being kept); dragging across a chart zooms
// all four into that time and pauses; "Reset zoom" shows the whole span again. "Export
// PNG..." and "Export CSV..." save what is shown: the picture of the charts, and every
// sample of the ticked consoles in the time shown. Main thread only; the rider device must
// outlive the window.
#pragma once

#include <QTimer>
#include <QWidget>
#include <array>
#include <map>
#include <optional>

#include "app/chart_samples.h"

class QChart;
class QChartView;
class QComboBox;
class QHBoxLayout;
class QLineSeries;
class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace wct {

class TVeloxDeviceW;
struct TMiraConsoleMeasure;

class TLiveChartsWindow : public QWidget {
public:
    static constexpr int kRefreshMs = 1000;
    static constexpr int kDefaultMinutes = 5;

    explicit TLiveChartsWindow(const TVeloxDeviceW& rider, QWidget* parent = nullptr);
    ~TLiveChartsWindow() override;

    // One measures frame of `console`, just decoded into `measure`.
    void Add(uint8_t console, const TMiraConsoleMeasure& measure);
    // Redraws the charts from the samples kept.
    void Refresh();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct TTimeRange {
        int64_t from;
        int64_t to;
    };
    QHBoxLayout* BuildTools();
    void BuildCharts();
    // The samples drawn: the frozen copy while paused, else the live ones.
    const TChartSamples& Shown() const { return frozen_ ? *frozen_ : live_; }
    TTimeRange ShownRange();
    std::vector<uint8_t> TickedConsoles() const;
    void ListNewConsoles();
    // The list says which consoles the interlock holds at 0 and which are silent.
    void ShowConsoleStates();
    void ShowConsole(uint8_t console, bool shown);
    // Another line of `console` on chart `q`, for one more run of its measures.
    void AddLine(uint8_t console, int q);
    // The protocol's clock, so that the gaps and the silence bounds count the same time.
    int64_t NowMs();
    void SetPaused(bool paused);
    void Zoomed(double fromSeconds, double toSeconds);
    void ExportPng();
    void ExportCsv();

    const TVeloxDeviceW& rider_;
    TChartClock clock_;
    TChartSamples live_;
    std::optional<TChartSamples> frozen_;
    int64_t frozenAt_ = 0;            // the end of the time shown while paused
    std::optional<TTimeRange> zoom_;  // the time shown when zoomed
    int64_t lastEnd_ = 0;             // the end of the time drawn last
    bool drawing_ = false;            // axis changes are the window's own
    QTimer refresh_;

    QListWidget* consoles_ = nullptr;
    QComboBox* minutes_ = nullptr;
    QPushButton* pause_ = nullptr;
    QWidget* chartArea_ = nullptr;
    std::array<QChartView*, kChartQuantities> views_{};
    // Per ticked console and chart, a line for each run of measures between silences;
    // at least one.
    std::map<uint8_t, std::array<std::vector<QLineSeries*>, kChartQuantities>> series_;
};

}  // namespace wct
