#pragma once

#include "queue/FilesRecord.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

namespace kavel {

class AppSettings;
class ProfileCatalog;
class Prompter;

// One row of the conversion list: the source path as caption, the four column texts after it
// (length, trimmed length, destination file name, progress), the check box and the record.
struct ListRow {
    QString Caption;
    QString Length;
    QString TrimmedLength;
    QString Destination;
    QString Progress;
    bool Checked = true;
    FilesRecord Record;
};

// The conversion list without its drawing: the rows, the operations that fill and empty it, the
// check operations and the enabling rules of the menus. The window's list view and the command
// line both drive this class. Main thread only.
class ConversionList {
public:
    // Opens a path as media and reports its duration in microseconds (negative when unknown);
    // false when the file is not media the engine can open.
    using MediaOpener = std::function<bool(const QString& path, int64_t* durationUs)>;

    ConversionList(AppSettings& settings, const ProfileCatalog& catalog, Prompter& prompter,
                   MediaOpener opener);

    // Appends the paths in order: folders, exact duplicates of a caption and files that are not
    // media are skipped silently. The current profile gives the destination suffix and the
    // zoom of the new records. Returns the number of rows added; the first row is selected.
    int Add(const QStringList& paths);
    // Removes the selected row and selects the row that moved into its place (or the new last).
    void Remove();
    void Clear();
    void CheckAll();
    void UncheckAll();
    void ReverseCheck();
    void CheckSelected();
    void UncheckSelected();

    int Count() const { return int(rows_.size()); }
    int CheckedCount() const;
    const ListRow& Row(int index) const { return rows_.at(size_t(index)); }
    ListRow& Row(int index) { return rows_.at(size_t(index)); }
    int Selected() const { return selected_; }
    void Select(int index);

    // The Edit menu's and the popup's row entries (crop, trim, effects, check ...) are enabled
    // only with rows and a selection; "Add" always is.
    bool RowActionsEnabled() const { return !rows_.empty() && selected_ >= 0; }

    // Called when the last row went away or the list was cleared: the preview stops then.
    std::function<void()> OnEmptied;

private:
    AppSettings& settings_;
    const ProfileCatalog& catalog_;
    Prompter& prompter_;
    MediaOpener opener_;
    std::vector<ListRow> rows_;
    int selected_ = -1;
};

}  // namespace kavel
