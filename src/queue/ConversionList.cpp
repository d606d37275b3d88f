#include "queue/ConversionList.h"

#include "app/Settings.h"
#include "profiles/ProfileCatalog.h"
#include "queue/OutputNaming.h"

#include <QFileInfo>

#include <algorithm>

namespace kavel {

ConversionList::ConversionList(AppSettings& settings, const ProfileCatalog& catalog, Prompter& prompter,
                               MediaOpener opener)
    : settings_(settings), catalog_(catalog), prompter_(prompter), opener_(std::move(opener)) {}

int ConversionList::Add(const QStringList& paths) {
    const int code = settings_.ProfileCode();
    const QString section = ProfileSection(code);
    const QString fileExt = catalog_.FileExt(code);
    const QString zoom = settings_.ini().readString(section, profile::paraZoom, profile::ZoomLetterBox);
    const QString suffix = QStringLiteral("_ipod.") + fileExt;

    int added = 0;
    for (int i = 0; i < paths.size(); ++i) {
        const QString& path = paths[i];
        if (QFileInfo(path).isDir())
            continue;
        const bool listed = std::any_of(rows_.begin(), rows_.end(),
                                        [&](const ListRow& row) { return row.Caption == path; });
        if (listed)
            continue;
        const QString destination = OutputFileName(settings_, prompter_, path, suffix);
        int64_t durationUs = -1;
        if (!opener_(path, &durationUs))
            continue;

        ListRow row;
        row.Caption = path;
        // Truncated toward zero, so an unknown (negative) duration below one second shows "0".
        const int64_t seconds = durationUs / 1000000;
        row.Length = QString::number(seconds);
        row.TrimmedLength = row.Length;
        row.Destination = QFileInfo(destination).fileName();
        row.Record.FileIndex = i;
        row.Record.SourceFile = path;
        row.Record.DestFile = destination;
        row.Record.DurationSeconds = int32_t(seconds);
        row.Record.Zoom = zoom;
        rows_.push_back(std::move(row));
        ++added;
    }
    if (!rows_.empty())
        selected_ = 0;
    return added;
}

void ConversionList::Remove() {
    if (selected_ < 0 || selected_ >= Count())
        return;
    rows_.erase(rows_.begin() + selected_);
    if (rows_.empty()) {
        selected_ = -1;
        if (OnEmptied)
            OnEmptied();
        return;
    }
    selected_ = std::min(selected_, Count() - 1);
}

void ConversionList::Clear() {
    if (rows_.empty())
        return;
    rows_.clear();
    selected_ = -1;
    if (OnEmptied)
        OnEmptied();
}

void ConversionList::CheckAll() {
    for (ListRow& row : rows_)
        row.Checked = true;
}

void ConversionList::UncheckAll() {
    for (ListRow& row : rows_)
        row.Checked = false;
}

void ConversionList::ReverseCheck() {
    for (ListRow& row : rows_)
        row.Checked = !row.Checked;
}

void ConversionList::CheckSelected() {
    if (selected_ >= 0 && selected_ < Count())
        rows_[size_t(selected_)].Checked = true;
}

void ConversionList::UncheckSelected() {
    if (selected_ >= 0 && selected_ < Count())
        rows_[size_t(selected_)].Checked = false;
}

int ConversionList::CheckedCount() const {
    return int(std::count_if(rows_.begin(), rows_.end(), [](const ListRow& r) { return r.Checked; }));
}

void ConversionList::Select(int index) {
    selected_ = index >= 0 && index < Count() ? index : -1;
}

}  // namespace kavel
