// SPDX-License-Identifier: Apache-2.0
// wct: the bench from a terminal.
#include <csignal>
#include <iostream>

#include "cli/cli_runner.h"
#include "cli/cli_trainer.h"
#include "cli/cli_udev.h"
#include "common/main_thread.h"
#include "common/standard_output.h"

namespace {

volatile bool interrupted = false;

void OnSignal(int) {
    interrupted = true;
}

int Wct(int argc, char** argv) {
    using namespace wct::cli;
    wct::TPlainMainThread mainThread;
    wct::SetMainThread(&mainThread);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    // A closed terminal ends a run as Ctrl-C does, its current record kept.
    std::signal(SIGHUP, OnSignal);
    // A vanished device must fail the write, not end the process.
    std::signal(SIGPIPE, SIG_IGN);

    TCliOptions options;
    const auto line = WctCommandLine(options);
    TUdevRuleOptions udev;
    DeclareUdevRuleCommand(line->Program(), udev);
    try {
        if (const auto text = line->Parse({argv + 1, argv + argc})) {
            std::cout << *text;
            return exDone;
        }
    } catch (const EUsage& e) {
        std::cerr << line->UsageLine(e.what()) << '\n';
        return exUsage;
    }
    if (options.command == "trainer")
        return RunTrainer(options.trainer, std::cout, std::cerr, &interrupted);
    try {
        if (options.command == "udev-rule")
            return RunUdevRule(options, udev, std::cout, std::cerr, {}, &interrupted);
        return RunCommand(options, std::cout, std::cerr, &interrupted);
    } catch (const std::exception& e) {
        std::cerr << "wct: " << e.what() << '\n';
        return exFailed;
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Made before Wct ignores SIGPIPE: a closed pipe still ends wct as it would.
    wct::TStandardOutput output("wct");
    return output.Finish(Wct(argc, argv));
}
