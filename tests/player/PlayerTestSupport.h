#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <vector>

#include "engine/Bitmap.h"
#include "engine/MainThread.h"
#include "player/MediaPlayer.h"
#include "player/VideoSurface.h"

namespace kavel::playertest {

// A drawing area in memory that keeps the last picture it was shown.
class MemorySurface : public VideoSurface {
public:
    MemorySurface(int width, int height) : width_(width), height_(height) {}

    void ClientSize(int& width, int& height) const override {
        width = width_;
        height = height_;
    }
    void ShowPicture(const Bitmap& picture) override {
        std::lock_guard lock(mutex_);
        last_ = picture;
        ++shown_;
    }

    Bitmap Last() const {
        std::lock_guard lock(mutex_);
        return last_;
    }
    int Shown() const {
        std::lock_guard lock(mutex_);
        return shown_;
    }

private:
    const int width_;
    const int height_;
    mutable std::mutex mutex_;
    Bitmap last_;
    int shown_ = 0;
};

// Keeps what a player reports; the handlers run on the test's (main) thread.
struct PlayerRecorder {
    std::vector<PlayState> States;
    std::vector<int64_t> Positions;
    int FileOpens = 0;
    int64_t Duration = -2;
    int FrameWidth = -2;
    int FrameHeight = -2;

    void Attach(MediaPlayer& player) {
        player.SetOnState([this](MediaPlayer&, PlayState state) { States.push_back(state); });
        player.SetOnPosition([this](MediaPlayer&, int64_t pts) { Positions.push_back(pts); });
        player.SetOnFileOpen([this](MediaPlayer&, int64_t duration, int width, int height, int&, int&) {
            ++FileOpens;
            Duration = duration;
            FrameWidth = width;
            FrameHeight = height;
        });
    }
    bool Saw(PlayState state) const {
        for (PlayState seen : States) {
            if (seen == state) {
                return true;
            }
        }
        return false;
    }
    int Count(PlayState state) const {
        int count = 0;
        for (PlayState seen : States) {
            count += seen == state;
        }
        return count;
    }
    int64_t LastPosition() const { return Positions.empty() ? -1 : Positions.back(); }
};

// Delivers the player's events on this (the main) thread until done() or the deadline.
inline bool WaitFor(const std::function<bool()>& done,
                    std::chrono::milliseconds timeout = std::chrono::milliseconds(6000)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        CurrentSynchronizer().DeliverPending(std::chrono::milliseconds(5));
    }
    return true;
}

// Every player test runs on SDL's silent driver and with the libraries checked.
class PlayerTest : public testing::Test {
protected:
    static void SetUpTestSuite() { setenv("SDL_AUDIODRIVER", "dummy", 1); }
    void SetUp() override {
        MediaPlayer probe;
        ASSERT_TRUE(probe.LoadLibraries("")) << probe.LastErrorMessage();
    }
};

}  // namespace kavel::playertest
