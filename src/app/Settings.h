#pragma once

#include "app/IniFile.h"

#include <QString>

namespace kavel {

// Names of the settings file's sections and of the keys of its "settings" section, with the
// defaults their readers pass. Every reader and writer of a key goes through these, so no key
// or default is spelt twice.
namespace settings {

inline const QString Section = QStringLiteral("settings");
inline const QString CollapsedSection = QStringLiteral("lstformat");

inline const QString SkinIndex = QStringLiteral("skinIndex");
inline const QString OutPutDir = QStringLiteral("OutPutDir");
inline const QString OutPutFormat = QStringLiteral("OutPutFormat");
inline const QString FormatCode = QStringLiteral("FormatCode");
inline const QString FormatName = QStringLiteral("FormatName");
inline const QString Volume = QStringLiteral("volume");
inline const QString Mute = QStringLiteral("mute");
inline const QString Priority = QStringLiteral("priority");
inline const QString SnapOutPutDir = QStringLiteral("SnapOutPutDir");
inline const QString SnapFullSize = QStringLiteral("snapFullSize");
inline const QString SnapSmallSize = QStringLiteral("snapSmallSize");
inline const QString SnapBmp = QStringLiteral("snapBmp");
inline const QString SnapJpg = QStringLiteral("snapJpg");
inline const QString JpgCmp = QStringLiteral("jpgCmp");

inline constexpr int DefaultSkinIndex = 0;
inline constexpr int DefaultOutPutFormat = 0;
inline const QString DefaultFormatCode = QStringLiteral("1");
// Start-up and the profile settings dialog use the short name, the picker the long one.
inline const QString DefaultFormatName = QStringLiteral("iPod Video MPEG-4");
inline const QString DefaultPickerFormatName = QStringLiteral("Apple iPod Video MPEG-4 Movie (*.mp4)");
inline constexpr int DefaultVolume = 0;
inline constexpr int OutOfRangeVolume = 64;
inline constexpr int DefaultMute = 0;
inline constexpr int DefaultPriority = 1;
inline constexpr bool DefaultSnapFullSize = true;
inline constexpr bool DefaultSnapSmallSize = true;
inline constexpr bool DefaultSnapBmp = true;
inline constexpr bool DefaultSnapJpg = true;
inline constexpr int DefaultJpgCmp = 30;
inline constexpr bool DefaultCollapsed = true;

}  // namespace settings

// Typed access to the "settings" section. Each call opens the file, reads or writes one key
// and closes it again; nothing is cached, so a value written anywhere is seen at once.
class AppSettings {
public:
    explicit AppSettings(const QString& path) : ini_(path) {}
    // The settings file of the global object.
    AppSettings();

    IniFile& ini() { return ini_; }
    const IniFile& ini() const { return ini_; }

    // A folder or profile chosen for this process only (the command line's --output-dir and
    // --profile): readers see it in place of the stored value, and nothing is written.
    void OverrideOutPutDir(const QString& folder) { outPutDirOverride_ = folder; }
    void OverrideFormatCode(int code) { formatCodeOverride_ = QString::number(code); }
    void OverridePriority(int priority) { priorityOverride_ = priority; }

    int SkinIndex() const;
    QString OutPutDir() const;
    int OutPutFormat() const;
    QString FormatCode() const;
    // "FormatCode" read as an integer, default 1: the profile a run converts with.
    int ProfileCode() const;
    QString FormatName() const;
    // A stored value outside 0..128 reads as 64.
    int Volume() const;
    int Mute() const;
    int Priority() const;
    QString SnapOutPutDir() const;
    bool SnapFullSize() const;
    bool SnapSmallSize() const;
    bool SnapBmp() const;
    bool SnapJpg() const;
    int JpgCmp() const;
    bool Collapsed(int family) const;

    void SetSkinIndex(int value);
    void SetOutPutDir(const QString& value);
    void SetOutPutFormat(int value);
    void SetFormat(const QString& code, const QString& name);
    void SetVolume(int value);
    void SetMute(int value);
    void SetPriority(int value);
    void SetSnapOutPutDir(const QString& value);
    void SetSnapFullSize(bool value);
    void SetSnapSmallSize(bool value);
    void SetSnapBmp(bool value);
    void SetSnapJpg(bool value);
    void SetJpgCmp(int value);
    void SetCollapsed(int family, bool value);

private:
    IniFile ini_;
    QString outPutDirOverride_;
    QString formatCodeOverride_;
    int priorityOverride_ = -1;
};

}  // namespace kavel
