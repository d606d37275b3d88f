#include "cli/CommandLine.h"

#include <QColor>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <map>
#include <sstream>

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

bool TakeArgument(const std::string& name, ArgumentCursor& cursor, std::string& value,
                  std::string& error) {
    if (cursor.AtEnd()) {
        error = "option " + name + " needs a value";
        return false;
    }
    value = cursor.Take();
    return true;
}

bool ParseInteger(const std::string& text, int* value) {
    int parsed = 0;
    std::size_t used = 0;
    try {
        parsed = std::stoi(text, &used);
    } catch (const std::exception&) {
        return false;
    }
    if (used != text.size())
        return false;
    *value = parsed;
    return true;
}

// "a,b,..." with exactly count integers.
bool ParseIntegerList(const std::string& text, std::size_t count, std::vector<int>* values) {
    std::vector<int> parsed;
    std::stringstream parts(text);
    std::string part;
    while (std::getline(parts, part, ',')) {
        int value = 0;
        if (!ParseInteger(part, &value))
            return false;
        parsed.push_back(value);
    }
    if (parsed.size() != count || (!text.empty() && text.back() == ','))
        return false;
    *values = parsed;
    return true;
}

// A handler that takes one value, checks it with parse and stores it; error names the value.
OptionHandler TakeChecked(std::function<bool(const std::string&, ConvertRequest&)> parse,
                          const char* expected) {
    return [parse, expected](const std::string& name, ArgumentCursor& cursor,
                             CommandLine& commandLine, std::string& error) {
        std::string value;
        if (!TakeArgument(name, cursor, value, error))
            return false;
        if (!parse(value, commandLine.Convert)) {
            error = "invalid value '" + value + "' for " + name + " (expected " + expected + ")";
            return false;
        }
        return true;
    };
}

OptionHandler TakeInteger(std::optional<int> ConvertRequest::*field, int minimum, int maximum,
                          const char* expected) {
    return TakeChecked(
        [=](const std::string& text, ConvertRequest& request) {
            int value = 0;
            if (!ParseInteger(text, &value) || value < minimum || value > maximum)
                return false;
            request.*field = value;
            return true;
        },
        expected);
}

OptionHandler TakeCount(int ConvertRequest::*field, int minimum, const char* expected) {
    return TakeChecked(
        [=](const std::string& text, ConvertRequest& request) {
            int value = 0;
            if (!ParseInteger(text, &value) || value < minimum)
                return false;
            request.*field = value;
            return true;
        },
        expected);
}

OptionHandler TakeText(std::string ConvertRequest::*field) {
    return TakeChecked(
        [=](const std::string& text, ConvertRequest& request) {
            request.*field = text;
            return !text.empty();
        },
        "a text");
}

OptionHandler TakePosition(std::optional<std::vector<int>> ConvertRequest::*field) {
    return TakeChecked(
        [=](const std::string& text, ConvertRequest& request) {
            std::vector<int> values;
            if (!ParseIntegerList(text, 2, &values) || values[0] < 0 || values[1] < 0)
                return false;
            request.*field = values;
            return true;
        },
        "X,Y in pixels");
}

OptionHandler SetFlag(bool ConvertRequest::*field) {
    return [field](const std::string&, ArgumentCursor&, CommandLine& commandLine, std::string&) {
        commandLine.Convert.*field = true;
        return true;
    };
}

bool ParseTrim(const std::string& text, ConvertRequest& request) {
    const std::size_t comma = text.find(',');
    int64_t start = 0;
    int64_t length = 0;
    if (comma == std::string::npos || !ParseTimeText(text.substr(0, comma), &start) ||
        !ParseTimeText(text.substr(comma + 1), &length))
        return false;
    request.TrimStart = start;
    request.TrimLength = length;
    return true;
}

bool ParseCrop(const std::string& text, ConvertRequest& request) {
    std::vector<int> values;
    if (!ParseIntegerList(text, 4, &values))
        return false;
    for (int& value : values) {
        if (value < 0)
            return false;
        value = value / 2 * 2;  // margins are even, as the crop editor makes them
    }
    request.Crop = values;
    return true;
}

bool ParseZoom(const std::string& text, ConvertRequest& request) {
    if (text != "full" && text != "lbox" && text != "pan" && text != "center")
        return false;
    request.Zoom = text;
    return true;
}

bool ParsePriority(const std::string& text, ConvertRequest& request) {
    static const std::map<std::string, int> priorities = {
        {"idle", 0}, {"normal", 1}, {"lower", 2}, {"lowest", 3}};
    const auto found = priorities.find(text);
    if (found == priorities.end())
        return false;
    request.Priority = found->second;
    return true;
}

bool ParseFontColor(const std::string& text, ConvertRequest& request) {
    if (text.size() != 7 || text[0] != '#' || !QColor::isValidColorName(QString::fromStdString(text)))
        return false;
    request.FontColor = text;
    return true;
}

bool ParseFontStyle(const std::string& text, ConvertRequest& request) {
    std::stringstream parts(text);
    std::string part;
    while (std::getline(parts, part, ',')) {
        if (part != "bold" && part != "italic" && part != "underline" && part != "strikeout")
            return false;
    }
    request.FontStyle = text;
    return true;
}

const std::vector<OptionEntry>& OptionTable() {
    static const std::vector<OptionEntry> table = {
        {"--info", nullptr, "describe each FILE: container, programs, streams and metadata",
         SetAction(CommandAction::Info)},
        {"--list-profiles", nullptr, "list the profiles: code, family, name and file extension",
         SetAction(CommandAction::ListProfiles)},
        {"--help", nullptr, "show this text", SetAction(CommandAction::Help)},
        {"-h", nullptr, "show this text", SetAction(CommandAction::Help)},
        {"--settings", "FILE", "use FILE as the settings file",
         TakeValue(&CommandLine::SettingsFile)},
        {"--loglevel", "LEVEL",
         "show engine and library messages up to LEVEL (quiet, panic, fatal, error, warning, "
         "info, verbose, debug)",
         TakeValue(&CommandLine::LogLevel)},
        {"--profile", "CODE|NAME", "convert with this profile (see --list-profiles); default: "
         "the current profile of the settings file", TakeText(&ConvertRequest::Profile)},
        {"--output-dir", "DIR", "write the converted files into DIR (default: the settings' "
         "output folder)", TakeText(&ConvertRequest::OutputDir)},
        {"--trim", "START,LENGTH", "convert only LENGTH from START (seconds or HH:MM:SS.mmm; "
         "LENGTH 0: to the end)", TakeChecked(ParseTrim, "START,LENGTH")},
        {"--crop", "T,L,B,R", "remove these margins (pixels) from the top, left, bottom, right",
         TakeChecked(ParseCrop, "TOP,LEFT,BOTTOM,RIGHT")},
        {"--zoom", "MODE", "fit the picture: full, lbox (letterbox), pan (pan and scan), center",
         TakeChecked(ParseZoom, "full, lbox, pan or center")},
        {"--priority", "LEVEL", "conversion priority: idle, normal, lower, lowest",
         TakeChecked(ParsePriority, "idle, normal, lower or lowest")},
        {"--threads", "N", "codec threads per file; 0 (default) uses all cores",
         TakeCount(&ConvertRequest::Threads, 0, "a number of 0 or more")},
        {"--jobs", "N", "files converted at the same time (default 1)",
         TakeCount(&ConvertRequest::Jobs, 1, "a number of 1 or more")},
        {"--yes", nullptr, "answer every question with yes", SetFlag(&ConvertRequest::Yes)},
        {"--open-folder", nullptr, "open the output folder when every file converted",
         SetFlag(&ConvertRequest::OpenFolder)},
        {"--brightness", "N", "brightness 0..512 (256 unchanged)",
         TakeInteger(&ConvertRequest::Brightness, 0, 512, "0..512")},
        {"--contrast", "N", "contrast -100..100 (0 unchanged)",
         TakeInteger(&ConvertRequest::Contrast, -100, 100, "-100..100")},
        {"--saturation", "N", "saturation 0..512 (256 unchanged)",
         TakeInteger(&ConvertRequest::Saturation, 0, 512, "0..512")},
        {"--exposure", "N", "exposure -255..512 (0 unchanged)",
         TakeInteger(&ConvertRequest::Exposure, -255, 512, "-255..512")},
        {"--text", "TEXT", "draw TEXT into every picture", TakeText(&ConvertRequest::Text)},
        {"--font", "NAME", "font of the text", TakeText(&ConvertRequest::FontName)},
        {"--font-size", "N", "font size in points",
         TakeInteger(&ConvertRequest::FontSize, 1, 500, "1..500")},
        {"--font-color", "#RRGGBB", "colour of the text", TakeChecked(ParseFontColor, "#RRGGBB")},
        {"--font-style", "LIST", "bold,italic,underline,strikeout in any combination",
         TakeChecked(ParseFontStyle, "bold, italic, underline, strikeout")},
        {"--text-pos", "X,Y", "top left corner of the text in pixels",
         TakePosition(&ConvertRequest::TextPos)},
        {"--image", "FILE.bmp", "blend this Windows bitmap into every picture",
         TakeText(&ConvertRequest::Image)},
        {"--image-pos", "X,Y", "top left corner of the picture in pixels",
         TakePosition(&ConvertRequest::ImagePos)},
        {"--alpha", "N", "opacity of the picture 0..255 (style 1)",
         TakeInteger(&ConvertRequest::Alpha, 0, 255, "0..255")},
        {"--style", "1|2", "blending of the picture: 1 alpha, 2 multiply",
         TakeInteger(&ConvertRequest::Style, 1, 2, "1 or 2")},
        {"--process-text", nullptr, "the colour effects also act on the text",
         SetFlag(&ConvertRequest::ProcessText)},
        {"--process-image", nullptr, "the colour effects also act on the picture",
         SetFlag(&ConvertRequest::ProcessImage)},
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
    if (commandLine.Action == CommandAction::None && !commandLine.Files.empty())
        commandLine.Action = CommandAction::Convert;
    commandLine.Convert.Files = commandLine.Files;
    commandLine.Convert.SettingsFile = commandLine.SettingsFile;
    return true;
}

std::string UsageText() {
    std::string text =
        "Usage: kavel-convert [options] FILE...   convert the files\n"
        "       kavel-convert --info FILE...      describe the files\n"
        "       kavel-convert --list-profiles\n"
        "       kavel-convert --help\n"
        "\n"
        "Options:\n";
    for (const OptionEntry& entry : OptionTable()) {
        std::string name = entry.Name;
        if (entry.Value) {
            name += std::string(" ") + entry.Value;
        }
        name.resize(std::max<std::size_t>(name.size() + 2, 24), ' ');
        text += "  " + name + entry.Help + "\n";
    }
    return text;
}

}  // namespace kavel
