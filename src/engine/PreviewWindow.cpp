#include "engine/PreviewWindow.h"

#include <mutex>

namespace kavel {

namespace {

std::mutex factoryMutex;
PreviewWindowFactory factory;

}  // namespace

void SetPreviewWindowFactory(PreviewWindowFactory newFactory) {
    std::lock_guard lock(factoryMutex);
    factory = std::move(newFactory);
}

std::unique_ptr<PreviewWindow> CreatePreviewWindow() {
    PreviewWindowFactory current;
    {
        std::lock_guard lock(factoryMutex);
        current = factory;
    }
    return current ? current() : nullptr;
}

}  // namespace kavel
