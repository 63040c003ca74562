// SPDX-License-Identifier: Apache-2.0
#include "cli/cli_options.h"

#include <cctype>
#include <cmath>
#include <ostream>

#include "common/hex.h"
#include "common/number_text.h"
#include "common/printable_name.h"

namespace wct::cli {

TCommand& MaxHeartRate(TCommand& c, int& bpm) {
    return c.Option("--max-hr", "BPM", "no brake above this heart rate (220)",
                    Number(bpm, THeartCut::kSignalFloor, 255));
}

void TellHeartCut(std::ostream& err, const THeartCut& rule) {
    err << "wct: " << (rule.Active() ? rule.StartText() : rule.EndText()) << std::endl;
}

int ParseNumber(const std::string& text, const std::string& what, int min, int max) {
    const std::optional<long long> value = ReadNumberOrHex<long long>(text);
    if (!value) throw EUsage(what + ": '" + text + "' is not a number");
    if (*value < min || *value > max)
        throw EUsage(what + ": " + text + " is outside " + std::to_string(min) + ".." +
                     std::to_string(max));
    return static_cast<int>(*value);
}

std::string ParseHexBytes(const std::string& text) {
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            throw EUsage("'" + text + "' is not hex: '" + std::string(1, c) + "' is no hex digit");
    if (text.size() % 2 != 0) throw EUsage("caratteri dispari");
    if (text.empty()) throw EUsage("no bytes given");
    return HexToBytes(text);
}

TValueReader Name(std::string& target) {
    return [&target](const std::string& name, const std::string& value) {
        if (const std::string problem = NameProblem(value, name); !problem.empty())
            throw EUsage(problem);
        target = value;
    };
}

std::optional<double> ReadDecimal(const std::string& text) {
    const std::optional<double> value = ReadNumber<double>(text);
    if (!value || !std::isfinite(*value)) return std::nullopt;
    return value;
}

double ParseDecimal(const std::string& text, const std::string& what) {
    const std::optional<double> value = ReadDecimal(text);
    if (!value) throw EUsage(what + ": '" + text + "' is not a number");
    return *value;
}

namespace {

constexpr int kMaxMs = 24 * 3600 * 1000;
constexpr int kMaxSeconds = 24 * 3600;

// Taken before the command or after it, as scripts of either habit write them.
void DeclareGlobalOptions(TCommand& c, TCliOptions& o) {
    c.Option("--port", "PATH", "the dongle's port, tried first by the search", Text(o.port))
        .Option("--trace", "FILE|-", "append every trace line to FILE (- for stdout)",
                Text(o.trace))
        .Flag("--time", o.time, "trace lines start with the time of day")
        .Option("--reply-timeout", "MS",
                "how long a reply is waited for, the dongle's in its search too",
                Number(o.replyTimeout, 0, kMaxMs))
        .Option("--wait", "MS", "how long consoles are waited for", Number(o.wait, 0, kMaxMs))
        .Flag("--simulate", o.simulate, "run on the built-in simulator")
        .Option("--record", "FILE", "write the command's wire traffic to FILE", Text(o.record))
        .Option("--pcap", "FILE", "write the command's wire traffic to FILE as a pcapng capture",
                Text(o.pcap));
}

// Options several commands take, each required where it is taken.
TCommand& Seconds(TCommand& c, TCliOptions& o) {
    return c.Option("--seconds", "S", "how long", Number(o.seconds, 0, kMaxSeconds))
        .Require("--seconds");
}

TCommand& Console(TCommand& c, TCliOptions& o) {
    return c.Option("--console", "N", "the console", Number(o.console, 0, 255))
        .Require("--console");
}

TCommand& Address(TCommand& c, TCliOptions& o) {
    return c.Option("--address", "A", "the memory address", Number(o.address, 0, 0xFFFF))
        .Require("--address");
}

// The commands that talk to the dongle and its consoles' memory.
void DeclareDongleCommands(TCommand& wct, TCliOptions& o) {
    wct.Command("ports", "serial ports, sorted, one per line")
        .Flag("--usb", o.usb, "with each port's USB vendor, product and serial number");
    wct.Command("find", "find the dongle (--port first, then every port); print its port");
    wct.Command("register", "open registration, wait for N new consoles: \"id version serial\"")
        .Option("--count", "N", "how many consoles (1 unless given)", Number(o.count, 0, 254));
    wct.Command("consoles", "consoles present (joining, or sending measures, within --wait ms)");
    {
        TCommand measure = wct.Command(
            "measure",
            "one line per measures frame: time ms, console, rpm, km/h, hr, cadence, keys");
        Seconds(measure, o).Flag("--csv", o.csv, "comma-separated, with a header line");
    }
    {
        TCommand test = wct.Command("test", "a console's self-test; exit 1 when refused");
        test.Argument(
                "TEST", "keys, cardio, signals or clock",
                [&o](const std::string&, const std::string& value) {
                    if (value != "keys" && value != "cardio" && value != "signals" &&
                        value != "clock")
                        throw EUsage("unknown test '" + value + "' (keys, cardio, signals, clock)");
                    o.test = value;
                })
            .Require("TEST", "test needs a test name");
        Console(test, o);
    }
    {
        TCommand read = wct.Command("read", "the bytes read, as hex");
        Console(read, o);
        Address(read, o)
            .Option("--count", "C", "how many bytes, 1 to 8", Number(o.count, 1, 8))
            .Require("--count");
    }
    {
        TCommand page = wct.Command("read-page", "256 reads of 8 bytes: \"AAAA: b0 b1 ... b7\"");
        Console(page, o);
        Address(page, o);
    }
    {
        TCommand write = wct.Command("write", "write up to 8 bytes to a console's memory");
        write
            .Argument("HEXBYTES", "the bytes, as hex",
                      [&o](const std::string&, const std::string& value) {
                          o.hex = ParseHexBytes(value);
                          if (o.hex.size() > 8) throw EUsage("write takes at most 8 bytes");
                      })
            .Require("HEXBYTES", "write needs hex bytes");
        Console(write, o);
        Address(write, o);
    }
    {
        TCommand rolls = wct.Command("rolls", "a console's total rolls");
        Console(rolls, o);
        TCommand reset = wct.Command("reset-rolls", "set a console's total rolls to 0");
        Console(reset, o);
    }
    wct.Command("remove", "make a console, or all, leave the network")
        .Option("--console", "N|all", "the console, or all of them",
                [&o](const std::string& name, const std::string& value) {
                    o.console = value == "all" ? 255 : ParseNumber(value, name, 0, 255);
                })
        .Require("--console");
    wct.Command("send", "one hand-typed frame, then the replies for --wait ms")
        .Argument(
            "HEX", "the frame, as hex",
            [&o](const std::string&, const std::string& value) { o.hex = ParseHexBytes(value); })
        .Require("HEX", "send needs hex bytes");
}

// The commands built on a device, the bench's records and its statistics.
void DeclareCommands(TCommand& wct, TCliOptions& o) {
    DeclareDongleCommands(wct, o);
    {
        TCommand resistance = wct.Command("resistance", "send brake levels every second");
        resistance
            .Option("--set", "ID=LEVEL", "a console's level; repeat for more consoles",
                    [&o](const std::string& name, const std::string& value) {
                        const size_t eq = value.find('=');
                        if (eq == std::string::npos)
                            throw EUsage(name + " wants ID=LEVEL, not '" + value + "'");
                        o.levels.emplace_back(ParseNumber(value.substr(0, eq), "console", 1, 254),
                                              ParseNumber(value.substr(eq + 1), "level", 0, 255));
                    })
            .Require("--set", "resistance needs --set ID=LEVEL");
        Seconds(resistance, o);
        MaxHeartRate(resistance, o.maxHeartRate);
    }
    {
        TCommand map = wct.Command(
            "map", "\"LEVEL POWER_TO_SHOW\" for a point, or per \"speed power\" line of stdin");
        DeclareMapOptions(map, o.map);
    }
    {
        TCommand ride = wct.Command("ride", "a rider device on the first console that joins");
        DeclareRideOptions(ride, o.ride);
    }
    {
        TCommand trainer = wct.Command("trainer", "the wired trainer on --port (or --simulate)");
        trainer.Check([&o] {
            if (o.trace || o.time || o.replyTimeout || o.wait || o.record)
                throw EUsage("trainer takes --port, --simulate and --pcap only");
            o.trainer.port = o.port;
            o.trainer.simulate = o.simulate;
            o.trainer.pcap = o.pcap;
        });
        DeclareTrainerOptions(trainer, o.trainer);
    }
    {
        TCommand publish = wct.Command("publish", "measures, published to an MQTT broker");
        DeclarePublishOptions(publish, o.publish);
    }
    {
        TCommand check = wct.Command("check", "the production check, one line per step");
        DeclareCheckOptions(check, o.check);
    }
    {
        TCommand history = wct.Command("history", "check records, newest first; no dongle");
        DeclareHistoryOptions(history, o.history);
    }
    {
        TCommand collect =
            wct.Command("collect", "every bench's check records, from the broker into PostgreSQL");
        DeclareCollectOptions(collect, o.collect);
    }
    {
        TCommand exporter =
            wct.Command("export", "a wire recording as a pcapng capture: export --pcap OUT REC");
        exporter
            .Argument("REC", "the recording (wct --record)",
                      [&o](const std::string&, const std::string& value) { o.recording = value; })
            .Require("REC", "export needs the recording to convert")
            .Check([&o] {
                if (!o.pcap) throw EUsage("export needs --pcap OUT");
                if (!o.port.empty() || o.trace || o.time || o.replyTimeout || o.wait || o.record ||
                    o.simulate)
                    throw EUsage("export takes --pcap only");
            });
    }
    {
        TCommand stats = wct.Command("stats", "link statistics per console while measuring");
        Seconds(stats, o)
            .Option("--rate", "HZ", "the measures per second the consoles are known to send",
                    [&o](const std::string& name, const std::string& value) {
                        const double rate = ParseDecimal(value, name);
                        if (!(rate >= 0.1 && rate <= 1000))
                            throw EUsage(name + ": '" + value +
                                         "' is not a rate from 0.1 to 1000 per second");
                        o.rate = rate;
                    })
            .Flag("--json", o.json, "one JSON object");
    }
}

}  // namespace

std::unique_ptr<TCommandLine> WctCommandLine(TCliOptions& o) {
    auto line =
        std::make_unique<TCommandLine>("wct", "wct: the wireless console bench from a terminal",
                                       "wct [OPTIONS] COMMAND ...", WCT_VERSION);
    TCommand& wct = line->Program();
    wct.Shared([&o](TCommand& c) { DeclareGlobalOptions(c, o); }).Check([&o, wct] {
        o.command = wct.Chosen();
        if (o.command.empty()) throw EUsage("no command given");
    });
    DeclareCommands(wct, o);
    // Set last: commands would take it over.
    wct.Footer(
        "the options above may also follow the command\n"
        "numbers are decimal or 0x-prefixed hex\n"
        "exit codes: 0 done, 1 operation failed or output not written, 2 usage error, 3 no\n"
        "dongle or port unusable, 4 a check record the history could not keep (the run\n"
        "stopped)\n"
        "'wct COMMAND --help' shows what a command takes");
    return line;
}

TCliOptions ParseCommandLine(const std::vector<std::string>& args) {
    TCliOptions o;
    WctCommandLine(o)->Parse(args);
    return o;
}

}  // namespace wct::cli
