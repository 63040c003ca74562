#include "app/application.h"

#include <stdexcept>

#include "app/progress_window.h"

namespace wct {

TAppOptions ParseAppOptions(const std::vector<std::string>& args) {
    TAppOptions options;
    for (const std::string& arg : args) {
        if (arg == "--simulate")
            options.simulate = true;
        else if (arg == "--charts")
            options.charts = true;
        else
            throw std::invalid_argument("unknown argument " + arg);
    }
    return options;
}

TBenchApp::TBenchApp(const TAppOptions& options) : options_(options) {
    if (options.simulate) {
        sim::TSimSettings settings;
        settings.registerPort = true;
        simulator_ = std::make_unique<sim::TDongleSimulator>(sim::BuiltInDongleOptions(), settings);
        simulator_->Start();
    }
    form1_ = std::make_unique<TForm1>();
    form2_ = std::make_unique<TForm2>(form1_->Components());
    form3_ = std::make_unique<TForm3>();
    form1_->SetDeviceTestWindow(form2_.get());
    if (simulator_) form1_->SelectPort(simulator_->PortPath());
    SetProgressBarFactory(
        [form1 = form1_.get()] { return std::make_unique<TMiraProgressWindow>(form1); });
}

void TBenchApp::Show() {
    form1_->show();
    if (options_.charts) form1_->ShowLiveCharts();
}

TBenchApp::~TBenchApp() {
    SetProgressBarFactory(nullptr);
}

}  // namespace wct
