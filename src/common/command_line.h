// SPDX-License-Identifier: Apache-2.0
// Reading a program's command line: the program and its commands, each with the options
// and arguments it takes, every one bound to the code that reads its value. Parsing is
// CLI11's; this keeps one wording of the refusals for every program of the bench and
// --help and --version on each.
//
// A value is read by its declarer's reader, which throws EUsage naming what is wrong. What
// nothing declared is refused as "unknown command 'X'", "unknown option --X" (program
// level), "COMMAND takes no option --X" or "COMMAND: unexpected argument 'X'"; an option
// without its value as "--X needs a value"; a missing required one as "COMMAND needs --X".
//
// Options declared as shared are taken by every command under the one that declares them
// too, before or after the command's name alike, as scripts write them either way.
//
// Order of the checks: missing values, then the readers (in declaration order), then per
// command (outermost first) what it does not take; then per command (outermost first)
// its required options and its checks.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace wct {

// A command line that cannot be run; exit code 2.
class EUsage : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TCommandState;

// Reads the value given to the option or argument `name`.
using TValueReader = std::function<void(const std::string& name, const std::string& value)>;

// What one command (or the program itself) takes. A handle: TCommandLine owns the parts.
class TCommand {
public:
    explicit TCommand(TCommandState& state) : state_(&state) {}

    // A command under this one.
    TCommand Command(const std::string& name, const std::string& description);
    // An option with a value shown as `valueName` in the help; given again, each value is
    // read in turn.
    TCommand& Option(const std::string& name, const std::string& valueName, const std::string& help,
                     TValueReader read);
    TCommand& Flag(const std::string& name, bool& target, const std::string& help);
    // Runs `declare` on this command and on every command added under it from now on, so
    // that the options it declares may also follow those commands' names. Their help
    // shows them apart, as the program's.
    TCommand& Shared(const std::function<void(TCommand&)>& declare);
    // The next positional argument.
    TCommand& Argument(const std::string& name, const std::string& help, TValueReader read);
    // `name`, declared above, must be given; refused with "COMMAND needs NAME", or with
    // `message` when there is one.
    TCommand& Require(const std::string& name, const std::string& message = {});
    // Runs when the line is read and this command is on it: checks of several values.
    TCommand& Check(std::function<void()> check);
    // Shown at the end of the help.
    TCommand& Footer(const std::string& text);

    // The command given under this one; empty for none.
    std::string Chosen() const;
    const std::string& Name() const;

private:
    TCommandState* state_;
};

class TCommandLine {
public:
    // `usage` is the short form a usage error quotes, e.g. "wct [OPTIONS] COMMAND ...".
    TCommandLine(const std::string& program, const std::string& description,
                 const std::string& usage, const std::string& version);
    ~TCommandLine();
    TCommandLine(const TCommandLine&) = delete;
    TCommandLine& operator=(const TCommandLine&) = delete;

    TCommand& Program() { return program_; }

    // Reads the arguments (without the program name). Returns the text to print on stdout
    // and exit 0 with when they ask for --help or --version, nothing when the line is to
    // run. Throws EUsage.
    std::optional<std::string> Parse(const std::vector<std::string>& args);

    // The one line a usage error prints: "PROGRAM: MESSAGE (usage: USAGE; see 'PROGRAM
    // --help')".
    std::string UsageLine(const std::string& message) const;

private:
    // The commands given, outermost first.
    std::vector<TCommandState*> Given() const;

    std::unique_ptr<CLI::App> app_;
    std::unique_ptr<TCommandState> state_;
    TCommand program_;
    std::string usage_;
};

}  // namespace wct
