#pragma once

namespace kavel {

class IniFile;
class ProfileCatalog;

// Makes a profile convert the way its combos show it: when the settings file has no section
// for the profile yet, the catalog's default choices are stored first, exactly as the "Default"
// button stores them. A section that exists is never touched, so the user's edits and keys
// written by hand stay. Returns true when it stored the defaults. Called wherever a profile is
// about to be used: loaded into an editor, chosen on the command line, built into a job.
bool SeedProfileDefaults(IniFile& settings, const ProfileCatalog& catalog, int code);

}  // namespace kavel
