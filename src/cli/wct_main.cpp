// wct: the bench from a terminal.
#include <csignal>
#include <iostream>

#include "cli/cli_runner.h"
#include "cli/cli_trainer.h"
#include "common/main_thread.h"

namespace {

volatile bool interrupted = false;

void OnSignal(int) {
    interrupted = true;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace wct::cli;
    wct::TPlainMainThread mainThread;
    wct::SetMainThread(&mainThread);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    // A vanished device must fail the write, not end the process.
    std::signal(SIGPIPE, SIG_IGN);

    const std::vector<std::string> args(argv + 1, argv + argc);
    if (IsTrainerCommand(args)) {
        TTrainerOptions trainer;
        try {
            trainer = ParseTrainerCommandLine(args);
        } catch (const EUsage& e) {
            std::cerr << "wct: " << e.what() << '\n' << kTrainerUsage;
            return exUsage;
        }
        return RunTrainer(trainer, std::cout, std::cerr, &interrupted);
    }

    TCliOptions options;
    try {
        options = ParseCommandLine(args);
    } catch (const EUsage& e) {
        std::cerr << "wct: " << e.what() << '\n' << kUsage;
        return exUsage;
    }
    try {
        return RunCommand(options, std::cout, std::cerr, &interrupted);
    } catch (const std::exception& e) {
        std::cerr << "wct: " << e.what() << '\n';
        return exFailed;
    }
}
