#pragma once

#include "engine/Bitmap.h"
#include "queue/FilesRecord.h"

#include <QFont>
#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

namespace kavel {

// Drawing a row's colour effects, text and picture into a frame: the conversion hook and the
// trim, crop and watermark previews all go through OverlaySequence.
//
// Text needs fonts, and Qt gives fonts only to a process that has a QGuiApplication: create one
// before the first frame is drawn (the command line creates one on the "offscreen" platform, so
// no display is needed). Without it the text step draws nothing, logs one warning per process
// and the rest of the sequence still runs. Every function here may run on any thread (the
// conversion worker, a player's video thread) while the GUI application lives.

// The Qt font of a record's font: point sizes are turned into pixels at 96 dots per inch, the
// resolution the positions were chosen at, so the text has the same size whatever the screen.
QFont OverlayFont(const FontSpec& font);

// Draws text at (x, y) (top left corner of its line) into frame, without a background, through
// a painter on an image that shares the frame's pixels. Nothing happens for an empty text.
// False when text should have been drawn but could not (no GUI application).
bool DrawOverlayText(Bitmap& frame, const QString& text, const FontSpec& font, int x, int y);

// Reads a Windows bitmap file (any bit depth the format allows, at most 256 MiB) into picture
// as 24-bit. Other formats are refused even under a .bmp name, and a file cut short is refused
// rather than shown with made-up rows. False, picture untouched, when the file cannot be read
// or decoded; never throws.
bool LoadBitmapFile(const QString& path, Bitmap* picture);

// Decoded watermark pictures by path. A picture changed on disk during a run shows at the next
// frame, but an unchanged file is decoded only once: an entry is reused while the file's size
// and modification time stay the same. A file that cannot be read gives null (a file that
// exists but does not decode is remembered as such until it changes). Thread-safe; a returned
// picture stays valid after the cache has moved on.
class PictureCache {
public:
    std::shared_ptr<const Bitmap> Picture(const QString& path);
    void Clear();

private:
    struct Entry {
        int64_t size = -1;
        int64_t modifiedNs = 0;
        std::shared_ptr<const Bitmap> picture;  // null: the file did not decode
    };
    // Enough for the distinct pictures of a batch; beyond it the cache starts afresh.
    static constexpr size_t MaxEntries = 8;

    std::mutex mutex_;
    std::map<QString, Entry> entries_;
};

// The colour effects of the record: colour adjustment when set (see ColorAdjustSet), then
// exposure when not 0, in one pass whose bands of rows run on all processors.
void ApplyFrameEffects(Bitmap& frame, const FilesRecord& record);

// Effects, text and picture in the order that makes the effects act on exactly the overlays
// chosen by ProcessText and ProcessImage:
//   neither: effects, text, picture     text only: text, effects, picture
//   picture only: picture, effects, text     both: text, picture, effects
// The text comes from WatermarkText, WatermarkFont, TextX and TextY; the picture (null = none)
// is blended at (ImageX, ImageY) with TransparentStyle and ImageAlpha. The watermark editor
// passes a record filled from its controls and the picture it keeps itself.
void OverlaySequence(Bitmap& frame, const FilesRecord& record, const Bitmap* picture);

// The record's overlays as the conversion and the previews draw them: the picture of
// WatermarkImage (when not empty) comes through pictures; one that cannot be read is left out
// and the rest is drawn.
void DrawRecordOverlays(Bitmap& frame, const FilesRecord& record, PictureCache& pictures);

}  // namespace kavel
