#pragma once

#include <QString>

namespace kavel {

// The product strings and the locations of the two data files, one instance for the whole run.
// Created before any setting is read and reached through Global(). Main thread only.
class GlobalObject {
public:
    GlobalObject() = default;

    const QString& SettingsFile() const { return settingsFile_; }
    const QString& CatalogFile() const { return catalogFile_; }
    const QString& ProductName() const { return productName_; }
    const QString& VersionText() const { return versionText_; }
    const QString& HelpUrl() const { return helpUrl_; }
    const QString& WebSiteUrl() const { return webSiteUrl_; }
    const QString& InstallerUrl() const { return installerUrl_; }

    // Paths shorter than 4 characters and empty texts are ignored: the member keeps its value.
    void SetSettingsFile(const QString& value);
    void SetCatalogFile(const QString& value);
    void SetProductName(const QString& value);
    void SetVersionText(const QString& value);
    void SetHelpUrl(const QString& value);
    void SetWebSiteUrl(const QString& value);
    void SetInstallerUrl(const QString& value);

    // Fills every member with this installation's paths and the product texts.
    void InitDefaults();

private:
    QString settingsFile_;
    QString catalogFile_;
    QString productName_;
    QString versionText_;
    QString helpUrl_;
    QString webSiteUrl_;
    QString installerUrl_;
};

// The single global object; CreateGlobal replaces any earlier one and returns it.
GlobalObject& CreateGlobal();
GlobalObject& Global();
void DestroyGlobal();

// " major.minorreleasebuild " of the running program (1.2.3.4 gives " 1.234 ").
QString FileVersionText();
QString FileVersionText(int major, int minor, int release, int build);

// The last Count characters of Text, or all of it when shorter.
QString RightStr(const QString& text, int count);

// The folder of the running program, ending in "/".
QString ProgramFolder();
// $XDG_CONFIG_HOME/kavel/kaveliphonevideoconverter.ini (~/.config when unset).
QString DefaultSettingsFile();
// The catalog beside the program (build tree) or in ../share/kavel (installed).
QString DefaultCatalogFile();
// $HOME/videoconverter: default output and snapshot folder.
QString DefaultOutputFolder();
// $XDG_CACHE_HOME/kavel/ (~/.cache/kavel/ when unset), for the news feed files.
QString CacheFolder();

}  // namespace kavel
