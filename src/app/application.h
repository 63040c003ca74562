// SPDX-License-Identifier: Apache-2.0
// Start-up of the bench: the three windows in their order, the progress windows centred
// on the main one, and with --simulate the built-in dongle simulator, whose port the
// main window lists and selects so that the bench works without hardware. --port PATH
// selects PATH instead (a relayed port, or a simulator's link), listed or not. With
// --charts the live charts open beside the main window.
//
// The Qt main-thread dispatcher and message boxes are installed by the caller first
// (see app_main.cpp); tests install their own messages instead.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/device_test_window.h"
#include "app/main_window.h"
#include "app/other_windows.h"
#include "sim/dongle_simulator.h"

namespace wct {

struct TAppOptions {
    bool simulate = false;
    std::string port;     // empty: the last port listed, or the simulator's
    bool charts = false;  // the live charts open at start
};

// The command line after Qt took its own options; throws std::invalid_argument naming
// what is not understood.
TAppOptions ParseAppOptions(const std::vector<std::string>& args);
inline constexpr const char* kAppUsage =
    "wirelessconsoletest [--simulate] [--port PATH] [--charts]";

class TBenchApp {
public:
    // Throws std::system_error when the simulator cannot open a pseudo-terminal.
    explicit TBenchApp(const TAppOptions& options);
    ~TBenchApp();
    TBenchApp(const TBenchApp&) = delete;
    TBenchApp& operator=(const TBenchApp&) = delete;

    // Shows the main window, and the live charts when the options ask for them.
    void Show();
    TForm1& Form1() { return *form1_; }
    TForm2& Form2() { return *form2_; }
    TForm3& Form3() { return *form3_; }
    sim::TDongleSimulator* Simulator() { return simulator_.get(); }

private:
    // Declared first so that it goes last: the windows close their ports before it.
    std::unique_ptr<sim::TDongleSimulator> simulator_;
    TAppOptions options_;
    std::unique_ptr<TForm1> form1_;
    std::unique_ptr<TForm2> form2_;
    std::unique_ptr<TForm3> form3_;
};

}  // namespace wct
