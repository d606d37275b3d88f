#include "editing/ConversionOverlay.h"

#include "engine/EngineLogger.h"

#include <exception>
#include <utility>

namespace kavel {

ConversionOverlay::ConversionOverlay(RecordOfTask recordOfTask)
    : recordOfTask_(std::move(recordOfTask)) {}

ConversionOverlay::ConversionOverlay(std::vector<int> taskItemIndex, std::vector<FilesRecord> rows) {
    auto table = std::make_shared<const std::pair<std::vector<int>, std::vector<FilesRecord>>>(
        std::move(taskItemIndex), std::move(rows));
    recordOfTask_ = [table](int taskIndex) -> const FilesRecord* {
        const auto& [items, records] = *table;
        if (taskIndex < 0 || static_cast<size_t>(taskIndex) >= items.size())
            return nullptr;
        const int row = items[taskIndex];
        if (row < 0 || static_cast<size_t>(row) >= records.size())
            return nullptr;
        return &records[row];
    };
}

void ConversionOverlay::Draw(int taskIndex, Bitmap& frame) {
    if (!recordOfTask_ || frame.Empty())
        return;
    // An exception must not end the conversion: a frame drawn only in part is still a frame.
    try {
        if (const FilesRecord* record = recordOfTask_(taskIndex))
            DrawRecordOverlays(frame, *record, *pictures_);
    } catch (const std::exception& error) {
        Log(llError, "Frame overlay of task %d failed: %s", taskIndex, error.what());
    }
}

bool CopyPreview(const Bitmap& preview, Bitmap* latest) {
    if (!latest || preview.Empty())
        return false;
    *latest = preview;
    return true;
}

}  // namespace kavel
