#pragma once

#include <span>

namespace kavel {

// One output profile of the picker: its code (family * 100 + position) and display name.
struct ProfileEntry {
    int Code;
    const char* Name;
};

// One device family of the picker, with its profiles in picker order.
struct ProfileFamily {
    int Number;
    const char* Name;
    std::span<const ProfileEntry> Profiles;
};

// The families of the picker, in picker order. The data is static and lives for the whole run.
std::span<const ProfileFamily> ProfileFamilies();

// Code of the profile at (family, position), both counted from 0.
constexpr int ProfileCode(int family, int position) {
    return family * 100 + position;
}

// The profile with this code, or nullptr when the picker has none.
const ProfileEntry* FindProfile(int code);

// Number of profiles over all families.
int ProfileCount();

}  // namespace kavel
