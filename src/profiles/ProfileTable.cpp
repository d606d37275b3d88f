#include "profiles/ProfileTable.h"

#include <array>

namespace kavel {

namespace {

constexpr std::array<ProfileEntry, 9> kIpod = {{
    {0, "iPod Video MPEG-4 (*.mp4)"},
    {1, "iPod Video H.264 (*.mp4)"},
    {2, "iPod MPEG-4 Excellent (320 x 240)(*.mp4)"},
    {3, "iPod MPEG-4 Normal (320 x 240)(*.mp4)"},
    {4, "iPod MPEG-4 Mini (320 x 240)(*.mp4)"},
    {5, "iPod Touch MPEG-4 Excellent (*.mp4)"},
    {6, "iPod Touch MPEG-4 (480 x 320) (*.mp4)"},
    {7, "iPod Touch MPEG-4 (320 x 240) (*.mp4)"},
    {8, "iPod Touch MPEG-4 Wide Screen (*.mp4)"},
}};

constexpr std::array<ProfileEntry, 5> kIphone = {{
    {100, "iPhone MPEG-4 Extra Video (*.mp4)"},
    {101, "iPhone MPEG-4 Wide Screen (*.mp4)"},
    {102, "iPhone MPEG-4 Movie (*.mp4)"},
    {103, "iPhone Movie for 480p TV Out (*.mp4)"},
    {104, "iPhone Movie for 576p TV Out (*.mp4)"},
}};

constexpr std::array<ProfileEntry, 6> kAppleTv = {{
    {200, "Apple TV (640 x 480) MPEG-4 Excellent (*.mp4)"},
    {201, "Apple TV (640 x 480) MPEG-4 Normal (*.mp4)"},
    {202, "Apple TV (640 x 480) MPEG-4 Mini (*.mp4)"},
    {203, "Apple H.264 (320 x 240) (*.mp4)"},
    {204, "Apple H.264 480P (640 x 480) (*.mp4)"},
    {205, "Apple H.264 720p (1280 x 720) (*.mp4)"},
}};

constexpr std::array<ProfileEntry, 1> kQuickTime = {{
    {300, "MOV - Quick Time Video (*.mov)"},
}};

constexpr std::array<ProfileEntry, 10> kGeneralVideo = {{
    {400, "MPEG-1 Video (*.mpg)"},
    {401, "MPEG-2 Video (*.mpg)"},
    {402, "MPEG-4 Video (*.mp4)"},
    {403, "H.264/MPEG-4 AVC Video (*.mp4)"},
    {404, "AVI Video (*.avi)"},
    {405, "WMV Video (*.wmv)"},
    {406, "Divx Video (*.avi)"},
    {407, "Xvid Video (*.avi)"},
    {408, "DV - NTSC -Digital Video Format (*.dv)"},
    {409, "DV - PAL -Digital Video Format (*.dv)"},
}};

constexpr std::array<ProfileEntry, 7> kGeneralAudio = {{
    {500, "MP3 MPEG Layer-3 Audio (*.mp3)"},
    {501, "AAC Advenced Audio Codec (*.aac)"},
    {502, "M4A MPEG-4 Audio (*.m4a)"},
    {503, "WMA - Windows Meida Audio (*.wma)"},
    {504, "WAV - Waveform Audio (*.wav)"},
    {505, "OGG Vorbis Audio Codec (*.ogg)"},
    {506, "AC-3 Audio Codec (*.ac3)"},
}};

// The names are the system's own display texts, spelling included.
const std::array<ProfileFamily, 6> kFamilies = {{
    {0, "Apple iPod", kIpod},
    {1, "Apple iPhone", kIphone},
    {2, "Apple TV", kAppleTv},
    {3, "Quick Time Video - MOV", kQuickTime},
    {4, "General Video formates", kGeneralVideo},
    {5, "General Audio formates", kGeneralAudio},
}};

}  // namespace

std::span<const ProfileFamily> ProfileFamilies() {
    return kFamilies;
}

const ProfileEntry* FindProfile(int code) {
    for (const ProfileFamily& family : kFamilies) {
        for (const ProfileEntry& profile : family.Profiles) {
            if (profile.Code == code)
                return &profile;
        }
    }
    return nullptr;
}

int ProfileCount() {
    int count = 0;
    for (const ProfileFamily& family : kFamilies) count += int(family.Profiles.size());
    return count;
}

}  // namespace kavel
