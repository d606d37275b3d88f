#pragma once

#include <cstdint>

namespace kavel {

// The player's states in the order of their ordinals. psStep is part of the vocabulary but never
// set by the player.
enum PlayState { psPlay, psPause, psResume, psStep, psStop, psEnd };

// Sound output. On Linux adDirectSound stands for SDL's "pulseaudio" driver and adWaveOut for
// "alsa"; adDefault leaves the choice to SDL (and so to SDL_AUDIODRIVER of the environment).
enum AudioDriver { adDefault, adDirectSound, adWaveOut };
// Kept for stored settings; the pictures always go to the video surface, so it has no effect.
enum VideoDriver { vdDefault, vdDirectDraw, vdGDI };

}  // namespace kavel
