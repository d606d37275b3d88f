#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kavel {

// What the command line asks of a conversion. Empty texts and unset optionals leave the profile
// and the list's defaults in force.
struct ConvertRequest {
    std::vector<std::string> Files;
    std::string SettingsFile;
    std::string Profile;    // a code or a display name; empty: the stored current profile
    std::string OutputDir;  // empty: the stored "OutPutDir"
    std::optional<int64_t> TrimStart;   // microseconds
    std::optional<int64_t> TrimLength;  // microseconds, 0 = to the end
    std::optional<std::vector<int>> Crop;  // top, left, bottom, right
    std::string Zoom;                      // full, lbox, pan or center
    std::optional<int> Priority;           // the "priority" setting's numbers 0..3
    int Threads = 0;                       // codec threads; 0 = all cores
    int Jobs = 1;                          // files converted at the same time
    bool Yes = false;                      // answer every question with yes
    bool OpenFolder = false;

    // Colour effects and watermark of every file.
    std::optional<int> Brightness, Contrast, Saturation, Exposure;
    std::string Text, FontName, FontColor, FontStyle, Image;
    std::optional<int> FontSize, Alpha, Style;
    std::optional<std::vector<int>> TextPos, ImagePos;
    bool ProcessText = false;
    bool ProcessImage = false;
};

// Adds the files as the list would, converts them with the batch run, shows live progress on
// out (a rewritten line on a terminal, plain lines otherwise) and ends with a summary. Returns
// 0 only when every file converted; Ctrl-C cancels like the progress window's Cancel.
int RunConvert(const ConvertRequest& request, std::ostream& out, std::ostream& errors);

// --list-profiles: code, family, name and extension of every profile.
int RunListProfiles(const std::string& settingsFile, std::ostream& out);

// "90", "1.5" (seconds) or "HH:MM:SS.mmm" / "MM:SS" as microseconds; false when malformed.
bool ParseTimeText(const std::string& text, int64_t* microseconds);

// A profile code from "205" or from a display name (letter case ignored, the "(*.ext)" part
// optional); -1 when no profile matches.
int ResolveProfile(const std::string& text);

}  // namespace kavel
