// SPDX-License-Identifier: Apache-2.0
// wct-sim: the simulators as a program. Prints the port to connect to on its first line,
// then runs until SIGINT or SIGTERM.
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "common/command_line.h"
#include "common/number_text.h"
#include "common/standard_output.h"
#include "common/wire_recording.h"
#include "sim/dongle_simulator.h"
#include "sim/replay_simulator.h"
#include "sim/wired_trainer_simulator.h"

namespace {

using namespace wct::sim;

// The simulator and the options the command line names; values are read when the
// simulator is built.
struct TSimLine {
    std::string kind;  // dongle, wired or replay
    std::map<std::string, std::string> values;
    std::map<std::string, bool> flags;
    std::vector<std::string> riders;  // dongle --rider, in order
    std::string recording;            // replay FILE
};

// A declared option keeps its text in l.values; it is read when the simulator is built.
wct::TValueReader Keep(TSimLine& l) {
    return [&l](const std::string& name, const std::string& text) { l.values[name] = text; };
}

void Flag(TSimLine& l, wct::TCommand& c, const std::string& name, const std::string& help) {
    c.Flag(name, l.flags[name], help);
}

// What every simulator takes.
void DeclareCommon(TSimLine& l, wct::TCommand& c) {
    const wct::TValueReader value = Keep(l);
    Flag(l, c, "--log", "print every frame received and sent, in hex");
    c.Option("--seed", "N", "seed of the faults' chances (1)", value)
        .Option("--drop", "FRACTION", "share of the frames never sent", value)
        .Option("--delay", "MS", "answers wait this long", value)
        .Option("--split", "BYTES", "writes cut into chunks of at most BYTES", value);
    Flag(l, c, "--garbage", "noise between frames");
    c.Option("--vanish-after", "S", "the device vanishes S seconds after the start", value)
        .Option("--back-after", "S", "and comes back S seconds after vanishing", value)
        .Option("--link", "PATH", "keep PATH a symbolic link to the current port", value)
        .Footer(
            "Numbers are decimal or 0x-prefixed hex; S is seconds. A fraction is a chance\n"
            "from 0 to 1.");
}

void DeclareDongle(TSimLine& l, wct::TCommand& program) {
    using wct::TCommand;
    const wct::TValueReader value = Keep(l);
    TCommand dongle = program.Command("dongle", "the USB dongle and its consoles");
    dongle.Option("--consoles", "N", "consoles in reach (1)", value)
        .Option("--registered", "N", "of them registered at the start (0)", value)
        .Option("--rate", "HZ", "measures frames per second of each console (4)", value)
        .Option("--join-delay", "MS", "a console joins this long after registration opens", value)
        .Option("--version", "BYTE", "the dongle's version byte (0x78)", value);
    Flag(l, dongle, "--no-version", "the dongle never tells its version");
    dongle.Option("--corrupt-length", "FRACTION", "frames with a wrong length", value)
        .Option("--unknown-codes", "FRACTION", "frames with an unknown command code", value);
    Flag(l, dongle, "--measures-0x21", "measures whose payload holds the stop byte");
    dongle.Option("--nack", "CODE[,CODE]", "every console refuses these commands", value)
        .Option("--silent-tests", "CODE[,CODE]", "no console answers these tests (0x16 to 0x19)",
                value)
        .Option("--lost-writes", "ID[,ID]",
                "these consoles acknowledge memory writes but keep what they held", value);
    dongle.Option("--rider", "ID:rpm=R,hr=H,cad=C", "what console ID reports; repeatable",
                  [&l](const std::string&, const std::string& text) { l.riders.push_back(text); });
    DeclareCommon(l, dongle);
    dongle.Footer(
        "Numbers are decimal or 0x-prefixed hex; S is seconds. A fraction is a chance from 0\n"
        "to 1. Script lines on standard input, one command each:\n"
        "  keys ID BYTE | leave ID | back ID | silent ID | report ID | rider ID:rpm=R,hr=H,cad=C");
}

void DeclareWired(TSimLine& l, wct::TCommand& program) {
    using wct::TCommand;
    const wct::TValueReader value = Keep(l);
    TCommand wired = program.Command("wired", "the older wired trainer");
    wired.Option("--generation", "G", "the trainer's generation, 1 to 7", value)
        .Require("--generation")
        .Option("--serial", "NUMBER", "its serial number", value)
        .Option("--product-version", "BYTE", "its product version", value)
        .Option("--silent-after", "S", "it falls silent S seconds after the start", value)
        .Option("--speak-after", "S", "and speaks again S seconds after that", value)
        .Option("--keep-alive", "MS",
                "it stops measuring when the PC sent nothing this long (5000; 0 never)", value)
        .Option("--rider", "speed=KMH,hr=BPM,cad=RPM[,keys=BITS]",
                "a fixed rider; hr=0 is no heart signal, cad=0 no pedalling", value)
        .Option("--hrv", "MS", "each heartbeat's interval varies by up to MS (0: steady)", value)
        .Option("--roll-total", "N", "its roll total at the start, as if it had rolled before",
                value)
        .Option("--answer", "right|wrong|none", "how it answers identification", value)
        .Option("--unknown-commands", "FRACTION", "frames with unknown commands", value)
        .Option("--command5", "FRACTION", "frames of command 5", value)
        .Option("--garbage-f0", "FRACTION", "garbage holding 0xF0", value);
    DeclareCommon(l, wired);
    wired.Footer(
        "Numbers are decimal or 0x-prefixed hex; S is seconds. A fraction is a chance from 0\n"
        "to 1. Script lines on standard input, one command each:\n"
        "  rider speed=KMH,hr=BPM,cad=RPM[,keys=BITS] | silent | speak");
}

std::unique_ptr<wct::TCommandLine> SimCommandLine(TSimLine& l) {
    using wct::TCommand;
    auto line = std::make_unique<wct::TCommandLine>(
        "wct-sim", "wct-sim: the dongle, its consoles and the wired trainer, simulated",
        "wct-sim dongle|wired|replay [OPTIONS]", WCT_VERSION);
    TCommand& program = line->Program();
    program
        .Footer(
            "Each simulator prints its pseudo-terminal on the first line and plays the device\n"
            "until interrupted; 'wct-sim SIMULATOR --help' shows its options.")
        .Check([&l, program] {
            l.kind = program.Chosen();
            if (l.kind.empty()) throw wct::EUsage("which simulator: dongle, wired or replay?");
        });
    DeclareDongle(l, program);
    DeclareWired(l, program);
    const wct::TValueReader value = Keep(l);
    TCommand replay = program.Command("replay", "the dongle's side of a wire recording");
    replay
        .Argument("FILE", "the wire recording",
                  [&l](const std::string&, const std::string& text) { l.recording = text; })
        .Require("FILE", "replay needs the recording to play")
        .Option("--speed", "X", "the recorded delays divided by X (1)", value)
        .Flag("--loop", l.flags["--loop"], "an answer that has played out starts over");
    Flag(l, replay, "--log", "print every frame received and sent, in hex");
    return line;
}

double Number(const std::string& option, const std::string& text, double low, double high) {
    const std::optional<double> value = wct::InRange(wct::ReadNumberOrHex<double>(text), low, high);
    if (!value) {
        throw wct::EUsage(option + ": '" + text + "' is not a number from " + std::to_string(low) +
                          " to " + std::to_string(high));
    }
    return *value;
}

// "A,B,...": numbers from `low` to `high`.
std::vector<uint8_t> ByteList(const std::string& option, const std::string& text, double low,
                              double high) {
    std::vector<uint8_t> list;
    for (size_t at = 0; at <= text.size();) {
        const size_t comma = std::min(text.find(',', at), text.size());
        list.push_back(
            static_cast<uint8_t>(Number(option, text.substr(at, comma - at), low, high)));
        at = comma + 1;
    }
    return list;
}

TIdentification Identification(const std::string& text) {
    if (text == "right") return TIdentification::Correct;
    if (text == "wrong") return TIdentification::Wrong;
    if (text == "none") return TIdentification::None;
    throw wct::EUsage("--answer: '" + text + "' is not right, wrong or none");
}

// Something the run does `at` seconds after the start.
struct TDue {
    double at;
    std::function<void()> action;
};

// Waits for SIGINT or SIGTERM (blocked in every thread), running `due` on time meanwhile.
void RunUntilStopped(const sigset_t& stopSignals, std::vector<TDue> due) {
    std::sort(due.begin(), due.end(), [](const TDue& a, const TDue& b) { return a.at < b.at; });
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (size_t next = 0;;) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const double elapsed = static_cast<double>(now.tv_sec - start.tv_sec) +
                               static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e9;
        while (next < due.size() && due[next].at <= elapsed) due[next++].action();
        const double wait = next < due.size() ? due[next].at - elapsed : 3600;
        timespec timeout{
            static_cast<time_t>(wait),
            static_cast<long>((wait - static_cast<double>(static_cast<time_t>(wait))) * 1e9)};
        if (sigtimedwait(&stopSignals, nullptr, &timeout) >= 0) return;
        if (errno != EAGAIN && errno != EINTR) return;
    }
}

using TScriptRunner = std::function<void(const std::string& line)>;

std::mutex scriptMutex;  // protects scriptTarget
TScriptRunner scriptTarget;

// Runs the script lines of standard input through `run` until the input ends; a line
// that is wrong is reported and skipped. The reader stays blocked on its input at the
// end of the run, so it is detached and told that the simulator is gone.
void ReadScript(TScriptRunner run) {
    scriptTarget = std::move(run);
    std::thread([] {
        for (std::string line; std::getline(std::cin, line);) {
            if (line.empty()) continue;
            std::lock_guard lock(scriptMutex);
            if (!scriptTarget) return;
            try {
                scriptTarget(line);
            } catch (const std::invalid_argument& e) {
                std::fprintf(stderr, "wct-sim: %s\n", e.what());
            }
        }
    }).detach();
}

// The signals that end a run, blocked before any simulator thread starts.
sigset_t BlockStopSignals() {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // Run in the background of a terminal, the script reader gets an error instead of
    // stopping the whole simulator.
    signal(SIGTTIN, SIG_IGN);
    return stopSignals;
}

int Replay(const TSimLine& l) {
    const std::string& path = l.recording;
    TReplayOptions options;
    TSimSettings settings;
    if (const auto speed = l.values.find("--speed"); speed != l.values.end())
        options.speed = Number(speed->first, speed->second, 0.001, 1000);
    options.loop = l.flags.at("--loop");
    if (l.flags.at("--log")) {
        settings.log = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
    }
    std::vector<wct::TWireChunk> recording;
    try {
        recording = wct::ReadWireRecording(path);
    } catch (const wct::EWireRecording& e) {
        std::fprintf(stderr, "wct-sim: %s: %s\n", path.c_str(), e.what());
        return 2;
    }
    TReplaySimulator sim(recording, options, settings);
    const sigset_t stopSignals = BlockStopSignals();
    sim.Start();
    std::cout << sim.PortPath() << std::endl;
    RunUntilStopped(stopSignals, {});
    sim.Stop();
    return 0;
}

// The value given to `name`, read as a number from `low` to `high`; `fallback` when none.
double Given(const TSimLine& l, const std::string& name, double fallback, double low, double high) {
    const auto found = l.values.find(name);
    return found == l.values.end() ? fallback : Number(name, found->second, low, high);
}

bool Has(const TSimLine& l, const std::string& name) {
    return l.values.count(name) != 0;
}

std::unique_ptr<TPtySimulator> Dongle(TSimLine& l, const TSimSettings& settings,
                                      TScriptRunner& script) {
    TDongleOptions options;
    const int consoles = static_cast<int>(Given(l, "--consoles", 1, 0, 254));
    const int registered = static_cast<int>(Given(l, "--registered", 0, 0, consoles));
    const auto list = [&](const char* option, double low, double high) {
        return Has(l, option) ? ByteList(option, l.values[option], low, high)
                              : std::vector<uint8_t>{};
    };
    const std::vector<uint8_t> refused = list("--nack", 0, 255);
    const std::vector<uint8_t> silent = list("--silent-tests", 0x16, 0x19);
    const std::vector<uint8_t> lostWrites = list("--lost-writes", 1, consoles);
    for (int id = 1; id <= consoles; ++id) {
        TConsoleConfig console = DefaultConsole(static_cast<uint8_t>(id));
        console.joinedAtStart = id <= registered;
        console.refused.insert(refused.begin(), refused.end());
        for (uint8_t code : silent) console.testAnswers[code] = TTestAnswer::None;
        console.writesLost = std::count(lostWrites.begin(), lostWrites.end(), id) != 0;
        options.consoles.push_back(std::move(console));
    }
    options.measureRate = Given(l, "--rate", 4, 0.1, 1000);
    options.joinDelayMs = static_cast<uint32_t>(Given(l, "--join-delay", 300, 0, 600000));
    if (l.flags["--no-version"]) {
        if (Has(l, "--version")) throw wct::EUsage("--version and --no-version");
        options.version.reset();
    } else {
        options.version = static_cast<uint8_t>(Given(l, "--version", 0x78, 0, 255));
    }
    TDongleFaults faults;
    faults.corruptLengthFraction = Given(l, "--corrupt-length", 0, 0, 1);
    faults.unknownCodeFraction = Given(l, "--unknown-codes", 0, 0, 1);
    faults.measuresHold0x21 = l.flags["--measures-0x21"];
    auto dongle = std::make_unique<TDongleSimulator>(options, settings);
    dongle->SetFaults(faults);
    try {
        for (const std::string& rider : l.riders) {
            const auto [id, figures] = ParseRiderScript(rider);
            dongle->SetRider(id, figures);
        }
    } catch (const std::invalid_argument& e) {
        throw wct::EUsage(e.what());
    }
    script = [target = dongle.get()](const std::string& line) { target->RunScriptLine(line); };
    return dongle;
}

std::unique_ptr<TPtySimulator> Wired(TSimLine& l, const TSimSettings& settings,
                                     TScriptRunner& script, std::vector<TDue>& due) {
    TWiredOptions options;
    options.generation = Given(l, "--generation", 0, 1, 7);
    options.serial = static_cast<uint32_t>(Given(l, "--serial", options.serial, 0, 0xFFFFFF));
    options.productVersion =
        static_cast<uint8_t>(Given(l, "--product-version", options.productVersion, 0, 255));
    options.keepAliveMs =
        static_cast<uint32_t>(Given(l, "--keep-alive", options.keepAliveMs, 0, 3600000));
    options.rollTotal = static_cast<uint32_t>(Given(l, "--roll-total", 0, 0, 0xFFFFFF));
    options.heartVariationMs = static_cast<uint32_t>(Given(l, "--hrv", 0, 0, 1000));
    if (Has(l, "--answer")) options.identification = Identification(l.values["--answer"]);
    TWiredFaults faults;
    faults.unknownCommandFraction = Given(l, "--unknown-commands", 0, 0, 1);
    faults.command5Fraction = Given(l, "--command5", 0, 0, 1);
    faults.garbageF0Fraction = Given(l, "--garbage-f0", 0, 0, 1);
    std::unique_ptr<TWiredTrainerSimulator> wired;
    try {
        wired = std::make_unique<TWiredTrainerSimulator>(options, settings);
    } catch (const std::invalid_argument& e) {
        throw wct::EUsage(e.what());
    }
    TWiredTrainerSimulator* trainer = wired.get();
    trainer->SetFaults(faults);
    if (Has(l, "--rider")) {
        try {
            trainer->SetRider(ParseWiredRider(l.values["--rider"]));
        } catch (const std::invalid_argument& e) {
            throw wct::EUsage(std::string("--") + e.what());
        }
    }
    if (Has(l, "--silent-after")) {
        const double silentAt = Given(l, "--silent-after", 0, 0, 1e6);
        due.push_back({silentAt, [trainer] { trainer->SetSilent(true); }});
        if (Has(l, "--speak-after")) {
            due.push_back({silentAt + Given(l, "--speak-after", 0, 0, 1e6),
                           [trainer] { trainer->SetSilent(false); }});
        }
    } else if (Has(l, "--speak-after")) {
        throw wct::EUsage("--speak-after needs --silent-after");
    }
    script = [trainer](const std::string& line) { trainer->RunScriptLine(line); };
    return wired;
}

// --vanish-after and --back-after, for either simulator.
void ScheduleVanishing(const TSimLine& l, TPtySimulator* device, std::vector<TDue>& due) {
    if (Has(l, "--vanish-after")) {
        const double vanishAt = Given(l, "--vanish-after", 0, 0, 1e6);
        due.push_back({vanishAt, [device] { device->Vanish(); }});
        if (Has(l, "--back-after")) {
            due.push_back({vanishAt + Given(l, "--back-after", 0, 0, 1e6), [device] {
                               device->Return();
                               std::cout << device->PortPath() << std::endl;
                           }});
        }
    } else if (Has(l, "--back-after")) {
        throw wct::EUsage("--back-after needs --vanish-after");
    }
}

int Run(TSimLine& l) {
    if (l.kind == "replay") return Replay(l);
    TSimSettings settings;
    if (Has(l, "--link")) settings.linkPath = l.values["--link"];
    settings.seed = static_cast<uint32_t>(Given(l, "--seed", 1, 0, 4294967295.0));
    if (l.flags["--log"]) {
        settings.log = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
    }
    TLinkFaults link;
    link.dropFraction = Given(l, "--drop", 0, 0, 1);
    link.replyDelayMs = static_cast<uint32_t>(Given(l, "--delay", 0, 0, 600000));
    link.splitMaxChunk = static_cast<size_t>(Given(l, "--split", 0, 0, 4096));
    link.garbage = l.flags["--garbage"];

    TScriptRunner script;
    std::vector<TDue> due;
    std::unique_ptr<TPtySimulator> sim =
        l.kind == "dongle" ? Dongle(l, settings, script) : Wired(l, settings, script, due);
    sim->SetLinkFaults(link);
    ScheduleVanishing(l, sim.get(), due);
    // The simulator thread must not take the signals: block them before it starts.
    const sigset_t stopSignals = BlockStopSignals();
    sim->Start();
    std::cout << sim->PortPath() << std::endl;
    ReadScript(std::move(script));
    RunUntilStopped(stopSignals, std::move(due));
    {
        std::lock_guard lock(scriptMutex);
        scriptTarget = nullptr;
    }
    sim->Stop();
    return 0;
}

int SimMain(int argc, char** argv) {
    TSimLine simLine;
    const auto line = SimCommandLine(simLine);
    try {
        if (const auto text = line->Parse({argv + 1, argv + argc})) {
            std::cout << *text;
            return 0;
        }
        return Run(simLine);
    } catch (const wct::EUsage& e) {
        std::fprintf(stderr, "%s\n", line->UsageLine(e.what()).c_str());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "wct-sim: %s\n", e.what());
        return 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    wct::TStandardOutput output("wct-sim");
    return output.Finish(SimMain(argc, argv));
}
