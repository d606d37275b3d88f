#pragma once

#include "engine/Bitmap.h"

namespace kavel {

// Where a player shows its pictures: a drawing area that the caller owns (a widget in the window
// application, memory in tests). The player never draws into it by itself; it hands over each
// finished picture, already the size of the drawing area.
//
// The owner tells the player about changes through MediaPlayer::SurfaceResized and
// MediaPlayer::SurfaceExposed, and must outlive the player's use of it (until Stop with
// WaitForEnd, the next Open or the player's destruction).
class VideoSurface {
public:
    virtual ~VideoSurface() = default;

    // The drawing area's size in pixels. Main thread only (read by Open).
    virtual void ClientSize(int& width, int& height) const = 0;

    // Runs on the player's play thread. picture is the whole drawing area: the video picture
    // fitted to the display aspect and centred on black, or the waveform of a sound-only file.
    // The bitmap is only valid during the call; copy what you keep.
    virtual void ShowPicture(const Bitmap& picture) = 0;
};

}  // namespace kavel
