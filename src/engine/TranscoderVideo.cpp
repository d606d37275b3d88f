#include <cmath>

#include "engine/EngineLogger.h"
#include "engine/FFmpegException.h"
#include "engine/LibraryLock.h"
#include "engine/TranscoderHelpers.h"
#include "engine/TranscoderRun.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace kavel {

namespace {

// A crop band for a new picture size: scaled with the size and rounded down to even.
int RescaleBand(int band, int newSize, int oldSize) {
    if (oldSize <= 0) {
        return band;
    }
    return static_cast<int>(static_cast<int64_t>(band) * newSize / oldSize) & ~1;
}

}  // namespace

void TranscoderRun::PreProcess(InputStream& input, AVFrame* frame) {
    ++decodedVideoFrames_;
    if (!owner_.customHook_ || !owner_.onHook_ || hookStopped_ || owner_.stopRequested_) {
        return;
    }
    // The decoder may still refer to this picture; the hook draws into a copy of its own.
    if (av_frame_make_writable(frame) < 0) {
        LogText(llError, "hook buf malloc error.");
        return;
    }
    try {
        if (!owner_.onHook_(HookPoint{frame, decodedVideoFrames_, input.Pts})) {
            hookStopped_ = true;
        }
    } catch (const std::exception& error) {
        LogText(llError, std::string("Error occurs OnCustomHook: ") + error.what());
    }
}

void TranscoderRun::EnsureFilterFits(OutputStream& output, const InputStream& input, const AVFrame* frame) {
    const VideoFilterSettings& current = output.Filter->Settings();
    const auto format = static_cast<AVPixelFormat>(frame->format);
    if (frame->width == current.InputWidth && frame->height == current.InputHeight &&
        format == current.InputFormat) {
        return;
    }
    if (frame->width != current.InputWidth || frame->height != current.InputHeight) {
        Log(llQuiet, "Input Stream #%d.%d frame size changed to %dx%d, %s", input.FileIndex, input.StreamIndex,
            frame->width, frame->height, av_get_pix_fmt_name(format) ? av_get_pix_fmt_name(format) : "none");
    }
    VideoFilterSettings settings = current;
    settings.CropTop = output.CropTop = RescaleBand(output.CropTop, frame->height, current.InputHeight);
    settings.CropBottom = output.CropBottom = RescaleBand(output.CropBottom, frame->height, current.InputHeight);
    settings.CropLeft = output.CropLeft = RescaleBand(output.CropLeft, frame->width, current.InputWidth);
    settings.CropRight = output.CropRight = RescaleBand(output.CropRight, frame->width, current.InputWidth);
    settings.InputWidth = frame->width;
    settings.InputHeight = frame->height;
    settings.InputFormat = format;
    settings.InputSampleAspect = frame->sample_aspect_ratio;
    if (settings.FilterText.empty()) {
        settings.OutputWidth = output.Encoder->width;
        settings.OutputHeight = output.Encoder->height;
    }
    output.Filtering = !VideoFilter::PassesUnchanged(settings);
    if (output.Filtering) {
        try {
            output.Filter->Open(settings);
        } catch (const FFmpegException&) {
            throw FFmpegException("Cannot get resampling context");
        }
    } else {
        output.Filter->Remember(settings);
    }
}

void TranscoderRun::VideoOut(OutputStream& output, InputStream& input, AVFrame* frame) {
    EnsureFilterFits(output, input, frame);
    if (!output.Filtering) {
        WriteVideoFrames(output, input, frame, input.Pts);
        return;
    }
    frame->pts = input.Pts;
    output.Filter->Send(frame);
    AVFrame* filtered = output.FilteredFrame.get();
    while (output.Filter->Receive(filtered)) {
        WriteVideoFrames(output, input, filtered, filtered->pts == AV_NOPTS_VALUE ? input.Pts : filtered->pts);
        av_frame_unref(filtered);
    }
}

void TranscoderRun::FlushFilter(OutputStream& output) {
    if (!output.Filtering || !output.Filter->IsOpen()) {
        return;
    }
    InputStream& input = *inputs_[output.SourceIndex];
    output.Filter->Send(nullptr);
    AVFrame* filtered = output.FilteredFrame.get();
    while (output.Filter->Receive(filtered)) {
        WriteVideoFrames(output, input, filtered, filtered->pts == AV_NOPTS_VALUE ? input.Pts : filtered->pts);
        av_frame_unref(filtered);
    }
}

void TranscoderRun::WriteVideoFrames(OutputStream& output, InputStream& /*input*/, AVFrame* frame, int64_t pts) {
    AVCodecContext* encoder = output.Encoder.get();
    const double syncIpts = static_cast<double>(pts - state_.StartTime) / AV_TIME_BASE / av_q2d(encoder->time_base);
    int64_t count = 1;
    const int method = state_.VideoSyncMethod;
    if (method != 0) {
        const double delta = syncIpts - static_cast<double>(output.SyncOpts);
        const bool variableRate =
            method == 2 ||
            (method == -1 && (state_.OutputFiles[output.FileIndex].Get()->oformat->flags & AVFMT_VARIABLE_FPS));
        if (delta < -1.1) {
            count = 0;
        } else if (variableRate) {
            if (delta <= -0.6) {
                count = 0;
            } else if (delta > 0.6) {
                output.SyncOpts = std::llrint(syncIpts);
            }
        } else if (delta > 1.1) {
            count = std::llrint(delta);
        }
        if (count == 0) {
            ++owner_.framesDropped_;
            reportNow_ = true;
            if (state_.Verbose > 2) {
                LogText(llVerbose, "*** drop!");
            }
        } else if (count > 1) {
            owner_.framesDuplicated_ += static_cast<int>(count - 1);
            reportNow_ = true;
            if (state_.Verbose > 2) {
                Log(llVerbose, "*** %d dup!", static_cast<int>(count - 1));
            }
        }
    } else {
        output.SyncOpts = std::llrint(syncIpts);
    }
    count = std::min<int64_t>(count, state_.MaxFrames[AVMEDIA_TYPE_VIDEO] - output.FrameNumber);
    if (count <= 0) {
        return;
    }

    const int quality = frame->quality;
    for (int64_t i = 0; i < count; ++i) {
        if (i > 0 && CheckStop()) {
            break;
        }
        frame->pts = output.SyncOpts;
        frame->pict_type = AV_PICTURE_TYPE_NONE;
        if (state_.TopFieldFirst != -1) {
            frame->top_field_first = state_.TopFieldFirst;
        }
        frame->quality = state_.SameQuality ? quality : encoder->global_quality;
        EncodeFrame(output, frame);
        OfferPreview(frame, pts);
        ++output.SyncOpts;
        ++output.FrameNumber;
    }
    frame->quality = quality;
}

void TranscoderRun::OfferPreview(const AVFrame* frame, int64_t pts) {
    if (!(owner_.previewFlags_ & (Transcoder::PreviewWindowFlag | Transcoder::PreviewBitmapFlag)) ||
        !owner_.onPreview_) {
        return;
    }
    const int64_t now = WallClock();
    if (now - lastPreview_ < 100000) {
        return;
    }
    PreviewLock lock;
    lastPreview_ = now;
    if (!owner_.onPreview_(PreviewPoint{frame, decodedVideoFrames_, pts})) {
        owner_.previewFlags_ = 0;
    }
}

}  // namespace kavel
