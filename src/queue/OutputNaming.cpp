#include "queue/OutputNaming.h"

#include "app/GlobalObject.h"
#include "app/Prompter.h"
#include "app/Settings.h"

#include <QDir>
#include <QFileInfo>

namespace kavel {

namespace {

bool EnsureFolder(const QString& folder) {
    const QFileInfo info(folder);
    if (info.isDir())
        return true;
    return !folder.isEmpty() && QDir().mkpath(folder);
}

QString OutputFolder(AppSettings& settings, Prompter& prompter) {
    QString folder = settings.OutPutDir();
    if (!EnsureFolder(folder)) {
        const QString fallback = DefaultOutputFolder();
        prompter.ShowMessage(QStringLiteral("Warning"),
                             QStringLiteral("Cannot create output directory:") + folder +
                                 QStringLiteral(".It will create default directory ") + fallback +
                                 QStringLiteral("!"));
        QDir().mkpath(fallback);
        settings.SetOutPutDir(fallback);
        folder = fallback;
    }
    if (RightStr(folder, 1) != QLatin1String("/"))
        folder += QLatin1Char('/');
    return folder;
}

QString BaseName(const QString& sourcePath) {
    const QString name = QFileInfo(sourcePath).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? name : name.left(dot);
}

}  // namespace

QString OutputFileName(AppSettings& settings, Prompter& prompter, const QString& sourcePath,
                       const QString& suffix, QSet<QString>* taken) {
    const QString stem = OutputFolder(settings, prompter) + BaseName(sourcePath);
    const auto isFree = [taken](const QString& candidate) {
        return !QFileInfo::exists(candidate) && !(taken && taken->contains(candidate));
    };
    QString candidate = stem + QStringLiteral("_(new)") + suffix;
    for (int n = 1; !isFree(candidate); ++n)
        candidate = stem + QStringLiteral("_(new_%1)").arg(n) + suffix;
    if (taken)
        taken->insert(candidate);
    return candidate;
}

}  // namespace kavel
