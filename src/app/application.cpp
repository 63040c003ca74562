// SPDX-License-Identifier: Apache-2.0
#include "app/application.h"

#include <stdexcept>

#include "app/progress_window.h"

namespace wct {

TAppOptions ParseAppOptions(const std::vector<std::string>& args) {
    TAppOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--simulate") {
            options.simulate = true;
        } else if (args[i] == "--charts") {
            options.charts = true;
        } else if (args[i] == "--port") {
            if (i + 1 == args.size() || args[i + 1].empty())
                throw std::invalid_argument("--port needs a port path");
            options.port = args[++i];
        } else {
            throw std::invalid_argument("unknown argument " + args[i]);
        }
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
    if (!options.port.empty())
        form1_->SelectPort(options.port);
    else if (simulator_)
        form1_->SelectPort(simulator_->PortPath());
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
