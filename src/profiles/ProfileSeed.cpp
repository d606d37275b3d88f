#include "profiles/ProfileSeed.h"

#include "app/IniFile.h"
#include "profiles/ProfileCatalog.h"

namespace kavel {

bool SeedProfileDefaults(IniFile& settings, const ProfileCatalog& catalog, int code) {
    if (settings.sectionExists(ProfileSection(code)))
        return false;
    RestoreDefaults(settings, catalog, code);
    return true;
}

}  // namespace kavel
