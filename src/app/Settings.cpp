#include "app/Settings.h"

#include "app/GlobalObject.h"

namespace kavel {

using namespace settings;

AppSettings::AppSettings() : ini_(Global().SettingsFile()) {}

int AppSettings::SkinIndex() const { return ini_.readInteger(Section, settings::SkinIndex, DefaultSkinIndex); }
QString AppSettings::OutPutDir() const {
    if (!outPutDirOverride_.isEmpty())
        return outPutDirOverride_;
    return ini_.readString(Section, settings::OutPutDir, DefaultOutputFolder());
}
int AppSettings::OutPutFormat() const {
    return ini_.readInteger(Section, settings::OutPutFormat, DefaultOutPutFormat);
}
QString AppSettings::FormatCode() const {
    if (!formatCodeOverride_.isEmpty())
        return formatCodeOverride_;
    return ini_.readString(Section, settings::FormatCode, DefaultFormatCode);
}
int AppSettings::ProfileCode() const {
    int code = 1;
    return IniFile::parseInteger(FormatCode(), &code) ? code : 1;
}
QString AppSettings::FormatName() const {
    return ini_.readString(Section, settings::FormatName, DefaultFormatName);
}
int AppSettings::Volume() const {
    const int value = ini_.readInteger(Section, settings::Volume, DefaultVolume);
    return value < 0 || value > 128 ? OutOfRangeVolume : value;
}
int AppSettings::Mute() const { return ini_.readInteger(Section, settings::Mute, DefaultMute); }
int AppSettings::Priority() const {
    if (priorityOverride_ >= 0)
        return priorityOverride_;
    return ini_.readInteger(Section, settings::Priority, DefaultPriority);
}
QString AppSettings::SnapOutPutDir() const {
    return ini_.readString(Section, settings::SnapOutPutDir, DefaultOutputFolder());
}
bool AppSettings::SnapFullSize() const {
    return ini_.readBool(Section, settings::SnapFullSize, DefaultSnapFullSize);
}
bool AppSettings::SnapSmallSize() const {
    return ini_.readBool(Section, settings::SnapSmallSize, DefaultSnapSmallSize);
}
bool AppSettings::SnapBmp() const { return ini_.readBool(Section, settings::SnapBmp, DefaultSnapBmp); }
bool AppSettings::SnapJpg() const { return ini_.readBool(Section, settings::SnapJpg, DefaultSnapJpg); }
int AppSettings::JpgCmp() const { return ini_.readInteger(Section, settings::JpgCmp, DefaultJpgCmp); }
bool AppSettings::Collapsed(int family) const {
    return ini_.readBool(CollapsedSection, QString::number(family), DefaultCollapsed);
}

void AppSettings::SetSkinIndex(int value) { ini_.writeInteger(Section, settings::SkinIndex, value); }
void AppSettings::SetOutPutDir(const QString& value) {
    outPutDirOverride_.clear();
    ini_.writeString(Section, settings::OutPutDir, value);
}
void AppSettings::SetOutPutFormat(int value) {
    ini_.writeInteger(Section, settings::OutPutFormat, value);
}
void AppSettings::SetFormat(const QString& code, const QString& name) {
    ini_.writeString(Section, settings::FormatName, name);
    ini_.writeString(Section, settings::FormatCode, code);
}
void AppSettings::SetVolume(int value) { ini_.writeInteger(Section, settings::Volume, value); }
void AppSettings::SetMute(int value) { ini_.writeInteger(Section, settings::Mute, value); }
void AppSettings::SetPriority(int value) { ini_.writeInteger(Section, settings::Priority, value); }
void AppSettings::SetSnapOutPutDir(const QString& value) {
    ini_.writeString(Section, settings::SnapOutPutDir, value);
}
void AppSettings::SetSnapFullSize(bool value) { ini_.writeBool(Section, settings::SnapFullSize, value); }
void AppSettings::SetSnapSmallSize(bool value) {
    ini_.writeBool(Section, settings::SnapSmallSize, value);
}
void AppSettings::SetSnapBmp(bool value) { ini_.writeBool(Section, settings::SnapBmp, value); }
void AppSettings::SetSnapJpg(bool value) { ini_.writeBool(Section, settings::SnapJpg, value); }
void AppSettings::SetJpgCmp(int value) { ini_.writeInteger(Section, settings::JpgCmp, value); }
void AppSettings::SetCollapsed(int family, bool value) {
    ini_.writeBool(CollapsedSection, QString::number(family), value);
}

}  // namespace kavel
