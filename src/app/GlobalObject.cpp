#include "app/GlobalObject.h"

#include "BuildInfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <memory>

namespace kavel {

namespace {

std::unique_ptr<GlobalObject> gGlobal;

void SetIfLonger(QString& member, const QString& value, qsizetype minimum) {
    if (value.size() >= minimum)
        member = value;
}

QString EnvFolder(const char* name, const char* fallbackUnderHome) {
    const QString value = qEnvironmentVariable(name);
    if (!value.isEmpty())
        return value;
    return QDir::homePath() + QLatin1Char('/') + QLatin1String(fallbackUnderHome);
}

}  // namespace

void GlobalObject::SetSettingsFile(const QString& value) { SetIfLonger(settingsFile_, value, 4); }
void GlobalObject::SetCatalogFile(const QString& value) { SetIfLonger(catalogFile_, value, 4); }
void GlobalObject::SetProductName(const QString& value) { SetIfLonger(productName_, value, 1); }
void GlobalObject::SetVersionText(const QString& value) { SetIfLonger(versionText_, value, 1); }
void GlobalObject::SetHelpUrl(const QString& value) { SetIfLonger(helpUrl_, value, 1); }
void GlobalObject::SetWebSiteUrl(const QString& value) { SetIfLonger(webSiteUrl_, value, 1); }
void GlobalObject::SetInstallerUrl(const QString& value) { SetIfLonger(installerUrl_, value, 1); }

void GlobalObject::InitDefaults() {
    SetSettingsFile(DefaultSettingsFile());
    SetCatalogFile(DefaultCatalogFile());
    SetProductName(QStringLiteral("Kavel iPhone Video Converter"));
    SetVersionText(QStringLiteral(" ver 1.10 "));
    SetHelpUrl(QStringLiteral("https://kavel.example.org/help.html"));
    SetWebSiteUrl(QStringLiteral("https://kavel.example.org/"));
    SetInstallerUrl(QStringLiteral("https://kavel.example.org/download/kavel-video-converter.tar.gz"));
}

GlobalObject& CreateGlobal() {
    gGlobal = std::make_unique<GlobalObject>();
    gGlobal->InitDefaults();
    return *gGlobal;
}

GlobalObject& Global() {
    if (!gGlobal)
        return CreateGlobal();
    return *gGlobal;
}

void DestroyGlobal() { gGlobal.reset(); }

QString FileVersionText(int major, int minor, int release, int build) {
    return QStringLiteral(" %1.%2%3%4 ").arg(major).arg(minor).arg(release).arg(build);
}

QString FileVersionText() {
    return FileVersionText(build::VersionMajor, build::VersionMinor, build::VersionPatch,
                           build::VersionTweak);
}

QString RightStr(const QString& text, int count) {
    if (count <= 0)
        return {};
    return text.size() <= count ? text : text.right(count);
}

QString ProgramFolder() {
    const QString exe = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    QString folder = exe.isEmpty() ? QDir::currentPath() : QFileInfo(exe).absolutePath();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

QString DefaultSettingsFile() {
    return EnvFolder("XDG_CONFIG_HOME", ".config") +
           QStringLiteral("/kavel/kaveliphonevideoconverter.ini");
}

QString DefaultCatalogFile() {
    const QString beside = ProgramFolder() + QStringLiteral("kaveliphoneformat.ini");
    if (QFileInfo::exists(beside))
        return beside;
    return QDir::cleanPath(ProgramFolder() + QStringLiteral("../share/kavel/kaveliphoneformat.ini"));
}

QString DefaultOutputFolder() { return QDir::homePath() + QStringLiteral("/videoconverter"); }

QString CacheFolder() { return EnvFolder("XDG_CACHE_HOME", ".cache") + QStringLiteral("/kavel/"); }

}  // namespace kavel
