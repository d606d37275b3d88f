#pragma once

#include "cli/ConvertCommand.h"

#include <string>
#include <vector>

namespace kavel {

// None with files given means Convert.
enum class CommandAction { None, Help, Info, ListProfiles, Convert };

// What the command line asks for. Conversion options are added to this record and to the option
// table in CommandLine.cpp; the front end stays a thin layer over the engine and the profiles.
struct CommandLine {
    CommandAction Action = CommandAction::None;
    // Every argument that is not an option, in order: the files to describe (or convert).
    std::vector<std::string> Files;
    // --settings FILE: the settings file to use instead of the default one.
    std::string SettingsFile;
    // --loglevel: the engine logger's level by name or library number; empty: quiet.
    std::string LogLevel;
    // Everything a conversion takes; its Files and SettingsFile are filled from the fields above.
    ConvertRequest Convert;
};

// Fills commandLine from the arguments after the program name. False, with a one-line reason in
// error, for an unknown option, a missing option value or a second action.
bool ParseCommandLine(const std::vector<std::string>& arguments, CommandLine& commandLine,
                      std::string& error);

// The usage text printed by --help: one line per option of the table.
std::string UsageText();

}  // namespace kavel
