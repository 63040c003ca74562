// SPDX-License-Identifier: Apache-2.0
#include "common/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>

namespace wct {

struct TCommandState {
    CLI::App* app = nullptr;
    std::vector<std::pair<std::string, std::string>> required;  // name, message
    std::vector<std::function<void()>> checks;
    std::vector<std::unique_ptr<TCommandState>> children;
    // The options this command shares with the commands added under it: the help's
    // heading for them, and what declares them.
    std::vector<std::pair<std::string, std::function<void(TCommand&)>>> shared;
    std::string group = "options";  // where the help lists the options declared now
};

namespace {

CLI::Option& Declared(CLI::App& app, const std::string& name) {
    CLI::Option* option = app.get_option_no_throw(name);
    if (option == nullptr) throw std::logic_error(name + " is not declared");
    return *option;
}

// What this command was given that none of its options and arguments took.
void RefuseLeftovers(const TCommandState& command, bool isProgram) {
    const std::vector<std::string> left = command.app->remaining();
    if (left.empty()) return;
    const std::string& first = left.front();
    const bool option = first.size() > 1 && first[0] == '-';
    const std::string& name = command.app->get_name();
    if (isProgram)
        throw EUsage(option ? "unknown option " + first : "unknown command '" + first + "'");
    throw EUsage(option ? name + " takes no option " + first
                        : name + ": unexpected argument '" + first + "'");
}

void RunRequirementsAndChecks(const TCommandState& command) {
    for (const auto& [name, message] : command.required)
        if (Declared(*command.app, name).count() == 0)
            throw EUsage(message.empty() ? command.app->get_name() + " needs " + name : message);
    for (const auto& check : command.checks) check();
}

}  // namespace

TCommand TCommand::Command(const std::string& name, const std::string& description) {
    auto child = std::make_unique<TCommandState>();
    child->app = state_->app->add_subcommand(name, description);
    child->app->group("commands");
    // Made with the command, before the group of its options could be set.
    child->app->get_help_ptr()->group("options");
    child->shared = state_->shared;
    TCommand command(*child);
    for (const auto& [group, declare] : child->shared) {
        child->group = group;
        declare(command);
    }
    child->group = "options";
    state_->children.push_back(std::move(child));
    return command;
}

TCommand& TCommand::Shared(const std::function<void(TCommand&)>& declare) {
    declare(*this);
    state_->shared.emplace_back("options of " + state_->app->get_name(), declare);
    return *this;
}

TCommand& TCommand::Option(const std::string& name, const std::string& valueName,
                           const std::string& help, TValueReader read) {
    state_->app
        ->add_option(
            name,
            [name, read = std::move(read)](const CLI::results_t& values) {
                for (const std::string& value : values) read(name, value);
                return true;
            },
            help)
        ->type_name(valueName)
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->group(state_->group);
    return *this;
}

TCommand& TCommand::Flag(const std::string& name, bool& target, const std::string& help) {
    state_->app->add_flag(name, target, help)->group(state_->group);
    return *this;
}

TCommand& TCommand::Argument(const std::string& name, const std::string& help, TValueReader read) {
    state_->app
        ->add_option(
            name,
            [name, read = std::move(read)](const CLI::results_t& values) {
                read(name, values.front());
                return true;
            },
            help)
        ->type_name("")
        ->expected(1);
    return *this;
}

TCommand& TCommand::Require(const std::string& name, const std::string& message) {
    CLI::Option& option = Declared(*state_->app, name);
    option.description(option.get_description() + " (required)");
    state_->required.emplace_back(name, message);
    return *this;
}

TCommand& TCommand::Check(std::function<void()> check) {
    state_->checks.push_back(std::move(check));
    return *this;
}

TCommand& TCommand::Footer(const std::string& text) {
    state_->app->footer(text);
    return *this;
}

std::string TCommand::Chosen() const {
    const std::vector<CLI::App*> given = state_->app->get_subcommands();
    return given.empty() ? std::string() : given.front()->get_name();
}

const std::string& TCommand::Name() const {
    return state_->app->get_name();
}

TCommandLine::TCommandLine(const std::string& program, const std::string& description,
                           const std::string& usage, const std::string& version)
    : app_(std::make_unique<CLI::App>(description, program)),
      state_(std::make_unique<TCommandState>()),
      program_(*state_),
      usage_(usage) {
    state_->app = app_.get();
    // Set before any command is added: commands take these over.
    app_->allow_extras();
    app_->option_defaults()->group("options");
    app_->require_subcommand(0, 1);
    app_->set_version_flag("--version", program + " " + version, "print the version and exit");
    app_->set_help_flag("-h,--help", "print this help and exit");
    auto formatter = std::make_shared<CLI::Formatter>();
    formatter->column_width(34);
    formatter->label("Usage", "usage");
    formatter->label("SUBCOMMAND", "COMMAND");
    formatter->label("SUBCOMMANDS", "COMMANDS");
    formatter->label("Positionals", "arguments");
    app_->formatter(formatter);
}

TCommandLine::~TCommandLine() = default;

std::vector<TCommandState*> TCommandLine::Given() const {
    std::vector<TCommandState*> given = {state_.get()};
    for (;;) {
        const std::vector<CLI::App*> chosen = given.back()->app->get_subcommands();
        if (chosen.empty()) return given;
        const auto& children = given.back()->children;
        const auto child = std::find_if(children.begin(), children.end(),
                                        [&](const auto& c) { return c->app == chosen.front(); });
        if (child == children.end()) return given;
        given.push_back(child->get());
    }
}

std::optional<std::string> TCommandLine::Parse(const std::vector<std::string>& args) {
    app_->clear();
    // CLI11 takes the arguments last first.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app_->parse(std::move(reversed));
    } catch (const CLI::CallForHelp&) {
        return app_->help();
    } catch (const CLI::CallForAllHelp&) {
        return app_->help("", CLI::AppFormatMode::All);
    } catch (const CLI::CallForVersion& e) {
        return std::string(e.what()) + "\n";
    } catch (const CLI::ArgumentMismatch& e) {
        // "--name: 1 required TYPE missing": an option at the end of the line.
        const std::string text = e.what();
        const size_t colon = text.find(": ");
        if (colon != std::string::npos && text.find(" missing", colon) != std::string::npos)
            throw EUsage(text.substr(0, colon) + " needs a value");
        throw EUsage(text);
    } catch (const CLI::ParseError& e) {
        throw EUsage(e.what());
    }
    const std::vector<TCommandState*> given = Given();
    for (size_t i = 0; i < given.size(); ++i) RefuseLeftovers(*given[i], i == 0);
    for (const TCommandState* command : given) RunRequirementsAndChecks(*command);
    return std::nullopt;
}

std::string TCommandLine::UsageLine(const std::string& message) const {
    const std::string& program = app_->get_name();
    return program + ": " + message + " (usage: " + usage_ + "; see '" + program + " --help')";
}

}  // namespace wct
