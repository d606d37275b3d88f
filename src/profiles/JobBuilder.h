#pragma once

namespace kavel {

class IniFile;
class MediaProbe;
class ProfileCatalog;
class Prompter;
struct FilesRecord;
struct InputOptions;
struct OutputOptions;

// Where the job builder reads from: the settings file (the profile's "para" values in force),
// the catalog (its "Format" keyword) and the prompter for the one question it may ask.
struct JobSources {
    const IniFile& Settings;
    const ProfileCatalog& Catalog;
    Prompter& Prompt;
};

// Fills the option records of one list row's conversion with profile Code: codecs, rates,
// container or disc target, frame size, aspect, crop and the filter text that letterboxes,
// pans or centres the picture. Beyond the stored values it makes the output play where the
// profile is meant to: 4:2:0 for the MPEG-4 and H.264 encoders (DV: its norm's sampling), the
// DIVX/XVID tags of the AVI profiles, an H.264 level that covers the frame, and for the device
// families an H.264 rate ceiling at the profile's largest bit rate, with a warning in the log
// when an "as source" size or bit rate goes beyond the profile's largest item. Every value is
// read fresh from the files. Both records must hold
// their defaults; only fields of the job are written. Throws InvalidIntegerError when the stored
// volume is neither "256" nor an integer text. Main thread (it may ask a question).
void BuildConversionJob(const JobSources& sources, const FilesRecord& record, int code,
                        OutputOptions& output, MediaProbe& probe, InputOptions& input);

}  // namespace kavel
