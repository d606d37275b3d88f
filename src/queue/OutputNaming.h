#pragma once

#include <QSet>
#include <QString>

namespace kavel {

class AppSettings;
class Prompter;

// The destination of SourcePath in the output folder ("OutPutDir"): base name + "_(new)" +
// Suffix, or "_(new_N)" with the first N whose file does not exist yet, so no existing file is
// ever overwritten. A folder that cannot be created (with its parents) is reported once through
// the prompter, replaced by the default folder and stored. Names already in Taken are treated as
// existing, and the result is added to it, so one run never gives two rows the same file.
QString OutputFileName(AppSettings& settings, Prompter& prompter, const QString& sourcePath,
                       const QString& suffix, QSet<QString>* taken = nullptr);

}  // namespace kavel
