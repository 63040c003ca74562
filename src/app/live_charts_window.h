// TLiveChartsWindow, "Live Charts": speed, heart rate, cadence and, where the rider device
// is connected to the console, power, over the last minutes, for the consoles ticked in
// the window. Every measures frame is kept (Add) whether or not the window is shown; the
// charts are redrawn once a second while it is shown, each series cut down to two points
// a pixel column, so an open window costs little at the full line rate.
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

class TLiveChartsWindow : public QWidget {
public:
    static constexpr int kRefreshMs = 1000;
    static constexpr int kDefaultMinutes = 5;

    explicit TLiveChartsWindow(const TVeloxDeviceW& rider, QWidget* parent = nullptr);
    ~TLiveChartsWindow() override;

    // One measures frame of `console`, now.
    void Add(uint8_t console, double speedKmh, int heartRate, int cadence);
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
    TTimeRange ShownRange() const;
    std::vector<uint8_t> TickedConsoles() const;
    void ListNewConsoles();
    void ShowHeartCuts();
    void ShowConsole(uint8_t console, bool shown);
    void SetPaused(bool paused);
    void Zoomed(double fromSeconds, double toSeconds);
    void ExportPng();
    void ExportCsv();

    const TVeloxDeviceW& rider_;
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
    std::map<uint8_t, std::array<QLineSeries*, kChartQuantities>> series_;
};

}  // namespace wct
