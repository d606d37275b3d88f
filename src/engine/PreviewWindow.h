#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "engine/Bitmap.h"

namespace kavel {

// The floating preview window a task shows its pictures in when it has no preview callback.
// The window application implements it; front ends without windows provide none.
class PreviewWindow {
public:
    virtual ~PreviewWindow() = default;
    // Called on the task's worker thread. Shows bitmap with its frame number and time
    // (microseconds, shown as the window caption) and returns true; does nothing and returns
    // false once the user has closed the window. The bitmap is only borrowed for the call.
    virtual bool Show(const Bitmap& bitmap, int64_t frameNumber, int64_t time) = 0;
};

using PreviewWindowFactory = std::function<std::unique_ptr<PreviewWindow>()>;

// Installed by the window application at start; may be empty.
void SetPreviewWindowFactory(PreviewWindowFactory factory);
// A new preview window, or nullptr when no factory is installed (then previews are off).
std::unique_ptr<PreviewWindow> CreatePreviewWindow();

}  // namespace kavel
