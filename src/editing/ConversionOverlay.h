#pragma once

#include "editing/Overlay.h"
#include "engine/Bitmap.h"
#include "queue/FilesRecord.h"

#include <functional>
#include <memory>
#include <vector>

namespace kavel {

// The per-frame drawing of a batch run: the engine calls Draw for every decoded video frame of
// a task whose row has effects or a watermark, on the task's worker thread, and encodes what it
// drew. The batch run binds it by a plain call; nothing here knows the engine.
class ConversionOverlay {
public:
    // The row record of a task, or null when the task has no row. Called on the worker thread;
    // the records must not change while a run draws (the progress window is modal).
    using RecordOfTask = std::function<const FilesRecord*(int taskIndex)>;

    explicit ConversionOverlay(RecordOfTask recordOfTask);
    // The batch run's mapping: taskItemIndex[task] is the row position in rows. The rows are
    // copied, so the list may change once the run has started without touching the drawing.
    ConversionOverlay(std::vector<int> taskItemIndex, std::vector<FilesRecord> rows);

    // Draws the task's row into frame in place (OverlaySequence, the picture read through the
    // cache). A task without a row, or a row index out of range, leaves the frame as it is.
    // Never throws; a picture that cannot be read is left out.
    void Draw(int taskIndex, Bitmap& frame);

    PictureCache& Pictures() { return *pictures_; }

private:
    RecordOfTask recordOfTask_;
    std::shared_ptr<PictureCache> pictures_ = std::make_shared<PictureCache>();
};

// The engine's preview picture into the latest preview frame that the progress window draws:
// copies preview into *latest unless preview has no pixels or there is no target. True when
// copied. Runs where the preview event is delivered (the main thread).
bool CopyPreview(const Bitmap& preview, Bitmap* latest);

}  // namespace kavel
