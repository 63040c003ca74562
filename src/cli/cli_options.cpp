#include "cli/cli_options.h"

#include <cctype>
#include <charconv>
#include <set>

#include "serial/hex.h"

namespace wct::cli {

const char* const kUsage =
    "usage: wct [--port PATH] [--trace FILE|-] [--time] [--reply-timeout MS] [--wait MS]\n"
    "           [--simulate] [--record FILE] COMMAND ...\n"
    "commands:\n"
    "  ports                                   serial ports, sorted, one per line\n"
    "  find                                    find the dongle and print its port\n"
    "  register [--count N]                    wait for N new consoles: \"id version serial\"\n"
    "  consoles                                the consoles that answer, with their data\n"
    "  measure --seconds S [--csv]             one line per measures frame\n"
    "  test keys|cardio|signals|clock --console N\n"
    "  read --console N --address A --count C  the bytes read, as hex\n"
    "  read-page --console N --address A       256 reads of 8 bytes, \"AAAA: b0 ... b7\"\n"
    "  write --console N --address A HEXBYTES\n"
    "  rolls --console N                       total rolls of a console\n"
    "  reset-rolls --console N\n"
    "  remove --console N|all\n"
    "  send HEX                                one frame typed by hand; replies for --wait ms\n"
    "  resistance --set ID=LEVEL [--set ...] --seconds S\n"
    "  map [--file MAP] [--version X] [--calibration C] [--reducer R] [--miles]\n"
    "      [--speed V --power P]                \"LEVEL POWER_TO_SHOW\" for the point, or for\n"
    "                                          each \"speed power\" line of stdin; no dongle;\n"
    "                                          without --version no low-speed cap applies\n"
    "  ride [--seconds S] [--slope PCT] [--weight KG] [--max-hr BPM] [--csv]\n"
    "                                          a rider on the first console that joins, one\n"
    "                                          line per second, resistance from the map; no\n"
    "                                          load above BPM (220)\n"
    "  trainer identify | ride ...              the wired trainer; `wct trainer` shows how\n"
    "  stats --seconds S [--rate HZ] [--json]  link statistics per console while measuring\n"
    "numbers are decimal or 0x-prefixed hex\n"
    "exit codes: 0 done, 1 operation failed, 2 usage error, 3 no dongle or port unusable\n";

int ParseNumber(const std::string& text, const std::string& what, int min, int max) {
    int base = 10;
    std::string_view digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    long long value = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size())
        throw EUsage(what + ": '" + text + "' is not a number");
    if (value < min || value > max)
        throw EUsage(what + ": " + text + " is outside " + std::to_string(min) + ".." +
                     std::to_string(max));
    return static_cast<int>(value);
}

std::string ParseHexBytes(const std::string& text) {
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            throw EUsage("'" + text + "' is not hex: '" + std::string(1, c) + "' is no hex digit");
    if (text.size() % 2 != 0) throw EUsage("caratteri dispari");
    if (text.empty()) throw EUsage("no bytes given");
    return HexToBytes(text);
}

namespace {

class TArgs {
public:
    explicit TArgs(const std::vector<std::string>& args) : args_(args) {}
    bool More() const { return i_ < args_.size(); }
    const std::string& Peek() const { return args_[i_]; }
    std::string Next() { return args_[i_++]; }
    std::string Value(const std::string& option) {
        if (!More()) throw EUsage(option + " needs a value");
        return Next();
    }

private:
    const std::vector<std::string>& args_;
    size_t i_ = 0;
};

const std::set<std::string> kCommands = {
    "ports", "find",  "register",    "consoles", "measure", "test",       "read", "read-page",
    "write", "rolls", "reset-rolls", "remove",   "send",    "resistance", "map",  "ride",
    "stats"};

constexpr int kMaxMs = 24 * 3600 * 1000;

// The options each command takes (besides the global ones).
bool Accepts(const std::string& command, const std::string& option) {
    static const std::set<std::pair<std::string, std::string>> table = {
        {"register", "--count"},      {"measure", "--seconds"},   {"measure", "--csv"},
        {"test", "--console"},        {"read", "--console"},      {"read", "--address"},
        {"read", "--count"},          {"read-page", "--console"}, {"read-page", "--address"},
        {"write", "--console"},       {"write", "--address"},     {"rolls", "--console"},
        {"reset-rolls", "--console"}, {"remove", "--console"},    {"resistance", "--set"},
        {"resistance", "--seconds"},  {"stats", "--seconds"},     {"stats", "--json"},
        {"stats", "--rate"}};
    return table.count({command, option}) != 0;
}

void Require(bool present, const std::string& command, const std::string& option) {
    if (!present) throw EUsage(command + " needs " + option);
}

}  // namespace

TCliOptions ParseCommandLine(const std::vector<std::string>& argv) {
    TCliOptions o;
    TArgs args(argv);
    // Global options come before the command.
    while (args.More() && args.Peek().rfind("--", 0) == 0) {
        const std::string option = args.Next();
        if (option == "--port")
            o.port = args.Value(option);
        else if (option == "--trace")
            o.trace = args.Value(option);
        else if (option == "--time")
            o.time = true;
        else if (option == "--reply-timeout")
            o.replyTimeout = ParseNumber(args.Value(option), option, 0, kMaxMs);
        else if (option == "--wait")
            o.wait = ParseNumber(args.Value(option), option, 0, kMaxMs);
        else if (option == "--simulate")
            o.simulate = true;
        else if (option == "--record")
            o.record = args.Value(option);
        else
            throw EUsage("unknown option " + option);
    }
    if (!args.More()) throw EUsage("no command given");
    o.command = args.Next();
    if (kCommands.count(o.command) == 0) throw EUsage("unknown command '" + o.command + "'");
    if (o.command == "map" || o.command == "ride") {
        std::vector<std::string> rest;
        while (args.More()) rest.push_back(args.Next());
        if (o.command == "map")
            o.map = ParseMapOptions(rest);
        else
            o.ride = ParseRideOptions(rest);
        return o;
    }

    std::vector<std::string> positional;
    while (args.More()) {
        const std::string arg = args.Next();
        if (arg.rfind("--", 0) != 0) {
            positional.push_back(arg);
            continue;
        }
        if (!Accepts(o.command, arg)) throw EUsage(o.command + " takes no option " + arg);
        if (arg == "--count") {
            o.count = ParseNumber(args.Value(arg), arg, o.command == "read" ? 1 : 0,
                                  o.command == "read" ? 8 : 254);
        } else if (arg == "--console") {
            const std::string value = args.Value(arg);
            o.console =
                o.command == "remove" && value == "all" ? 255 : ParseNumber(value, arg, 0, 255);
        } else if (arg == "--address") {
            o.address = ParseNumber(args.Value(arg), arg, 0, 0xFFFF);
        } else if (arg == "--seconds") {
            o.seconds = ParseNumber(args.Value(arg), arg, 0, 24 * 3600);
        } else if (arg == "--csv") {
            o.csv = true;
        } else if (arg == "--json") {
            o.json = true;
        } else if (arg == "--rate") {
            const std::string value = args.Value(arg);
            double rate = 0;
            auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), rate);
            if (value.empty() || ec != std::errc() || end != value.data() + value.size() ||
                !(rate >= 0.1 && rate <= 1000))
                throw EUsage("--rate: '" + value + "' is not a rate from 0.1 to 1000 per second");
            o.rate = rate;
        } else if (arg == "--set") {
            const std::string value = args.Value(arg);
            const size_t eq = value.find('=');
            if (eq == std::string::npos) throw EUsage("--set wants ID=LEVEL, not '" + value + "'");
            o.levels.emplace_back(ParseNumber(value.substr(0, eq), "console", 1, 254),
                                  ParseNumber(value.substr(eq + 1), "level", 0, 255));
        }
    }

    const std::string& c = o.command;
    const size_t wanted = c == "test" || c == "write" || c == "send" ? 1 : 0;
    if (positional.size() > wanted)
        throw EUsage(c + ": unexpected argument '" + positional[wanted] + "'");
    if (positional.size() < wanted)
        throw EUsage(c + " needs " + (c == "test" ? "a test name" : "hex bytes"));
    if (c == "test") {
        o.test = positional[0];
        if (o.test != "keys" && o.test != "cardio" && o.test != "signals" && o.test != "clock")
            throw EUsage("unknown test '" + o.test + "' (keys, cardio, signals, clock)");
    }
    if (c == "write" || c == "send") o.hex = ParseHexBytes(positional[0]);
    if (c == "write" && o.hex.size() > 8) throw EUsage("write takes at most 8 bytes");

    if (c == "measure" || c == "resistance" || c == "stats")
        Require(o.seconds.has_value(), c, "--seconds");
    if (c == "resistance" && o.levels.empty()) throw EUsage("resistance needs --set ID=LEVEL");
    if (c == "test" || c == "read" || c == "read-page" || c == "write" || c == "rolls" ||
        c == "reset-rolls" || c == "remove")
        Require(o.console.has_value(), c, "--console");
    if (c == "read" || c == "read-page" || c == "write")
        Require(o.address.has_value(), c, "--address");
    if (c == "read") Require(o.count.has_value(), c, "--count");
    return o;
}

}  // namespace wct::cli
