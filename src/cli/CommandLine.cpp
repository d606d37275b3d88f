#include "cli/CommandLine.h"

#include <algorithm>
#include <cstddef>
#include <functional>

namespace kavel {

namespace {

// The arguments still to read, so that a handler can take the values its option needs.
class ArgumentCursor {
public:
    explicit ArgumentCursor(const std::vector<std::string>& arguments) : arguments_(arguments) {}

    bool AtEnd() const { return next_ >= arguments_.size(); }
    const std::string& Take() { return arguments_[next_++]; }

private:
    const std::vector<std::string>& arguments_;
    std::size_t next_ = 0;
};

using OptionHandler =
    std::function<bool(const std::string& name, ArgumentCursor&, CommandLine&, std::string& error)>;

struct OptionEntry {
    const char* Name;
    const char* Value;  // shown in the usage text; nullptr for an option without a value
    const char* Help;
    OptionHandler Handle;
};

OptionHandler SetAction(CommandAction action) {
    return [action](const std::string& name, ArgumentCursor&, CommandLine& commandLine,
                    std::string& error) {
        if (commandLine.Action != CommandAction::None && commandLine.Action != action) {
            error = "option " + name + " cannot be combined with another action";
            return false;
        }
        commandLine.Action = action;
        return true;
    };
}

OptionHandler TakeValue(std::string CommandLine::*field) {
    return [field](const std::string& name, ArgumentCursor& cursor, CommandLine& commandLine,
                   std::string& error) {
        if (cursor.AtEnd()) {
            error = "option " + name + " needs a value";
            return false;
        }
        commandLine.*field = cursor.Take();
        return true;
    };
}

const std::vector<OptionEntry>& OptionTable() {
    static const std::vector<OptionEntry> table = {
        {"--info", nullptr, "describe each FILE: container, programs, streams and metadata",
         SetAction(CommandAction::Info)},
        {"--help", nullptr, "show this text", SetAction(CommandAction::Help)},
        {"-h", nullptr, "show this text", SetAction(CommandAction::Help)},
        {"--settings", "FILE", "use FILE as the settings file",
         TakeValue(&CommandLine::SettingsFile)},
        {"--loglevel", "LEVEL",
         "show engine and library messages up to LEVEL (quiet, panic, fatal, error, warning, "
         "info, verbose, debug)",
         TakeValue(&CommandLine::LogLevel)},
    };
    return table;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& arguments, CommandLine& commandLine,
                      std::string& error) {
    ArgumentCursor cursor(arguments);
    bool optionsEnded = false;
    while (!cursor.AtEnd()) {
        const std::string& argument = cursor.Take();
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            commandLine.Files.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        const OptionEntry* entry = nullptr;
        for (const OptionEntry& candidate : OptionTable()) {
            if (argument == candidate.Name) {
                entry = &candidate;
                break;
            }
        }
        if (!entry) {
            error = "unknown option " + argument;
            return false;
        }
        if (!entry->Handle(argument, cursor, commandLine, error)) {
            return false;
        }
    }
    return true;
}

std::string UsageText() {
    std::string text =
        "Usage: kavel-convert --info FILE...\n"
        "       kavel-convert --help\n"
        "\n"
        "Options:\n";
    for (const OptionEntry& entry : OptionTable()) {
        std::string name = entry.Name;
        if (entry.Value) {
            name += std::string(" ") + entry.Value;
        }
        name.resize(std::max<std::size_t>(name.size() + 2, 18), ' ');
        text += "  " + name + entry.Help + "\n";
    }
    return text;
}

}  // namespace kavel
