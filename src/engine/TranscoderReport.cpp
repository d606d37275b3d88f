#include <cmath>

#include "engine/EngineLogger.h"
#include "engine/TranscoderHelpers.h"
#include "engine/TranscoderRun.h"

namespace kavel {

void TranscoderRun::Report(bool final, int fileIndex) {
    const int64_t now = WallClock();
    lastReport_ = now;

    int64_t totalSize = 0;
    if (!state_.OutputFiles.empty()) {
        AVIOContext* io = state_.OutputFiles[0].Get()->pb;
        if (io) {
            totalSize = avio_size(io);
            if (totalSize < 0) {
                totalSize = avio_tell(io);
            }
        }
    }

    std::string text;
    bool sawVideo = false;
    float quality = -1.0f;
    int fps = 0;
    int frameNumber = 0;
    for (const auto& output : outputs_) {
        if (output->Kind != AVMEDIA_TYPE_VIDEO) {
            continue;
        }
        const float q = output->StreamCopy ? -1.0f : static_cast<float>(output->Quality) / FF_QP2LAMBDA;
        if (sawVideo) {
            text += FormatText("q=%2.1f ", q);
            continue;
        }
        if (output->FrameNumber == 0) {
            return;
        }
        sawVideo = true;
        quality = q;
        frameNumber = static_cast<int>(output->FrameNumber);
        const double elapsed = static_cast<double>(now - startTime_) / AV_TIME_BASE;
        fps = elapsed > 1 ? static_cast<int>(frameNumber / elapsed + 0.5) : 0;
        text += FormatText("frame=%5d fps=%3d q=%3.1f ", frameNumber, fps, q);
        if (final) {
            text += "L";
        }
        if (state_.QpHistogram && !output->StreamCopy) {
            const int qp = std::clamp(static_cast<int>(std::lrint(q)), 0, 51);
            ++qpHistogram_[qp];
            for (int bin = 0; bin < 32; ++bin) {
                text += FormatText("%X", static_cast<int>(std::lrint(std::log2(qpHistogram_[bin] + 1))));
            }
        }
    }

    double time = 1e10;
    for (const auto& output : outputs_) {
        if (output->MuxedTime > 0 && output->MuxedTime < time) {
            time = output->MuxedTime;
        }
    }
    time = std::max(time, 0.01);
    const double bitrate = static_cast<double>(totalSize) * 8 / time / 1000;

    const bool bound = static_cast<bool>(owner_.onProgress_);
    if (bound || state_.Verbose > 0 || final) {
        text += FormatText("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", totalSize / 1024.0, time, bitrate);
        if (owner_.framesDuplicated_ || owner_.framesDropped_) {
            text += FormatText(" dup=%d drop=%d", owner_.framesDuplicated_, owner_.framesDropped_);
        }
        if (reportNow_ && bound) {
            LogText(llVerbose, text);
        }
        reportNow_ = false;
        if (bound) {
            ProgressReport report;
            report.FileIndex = fileIndex;
            report.FrameNumber = frameNumber;
            report.FPS = fps;
            report.Quality = quality;
            report.BitRate = static_cast<float>(bitrate);
            report.TotalSize = totalSize;
            report.CurrentDuration = static_cast<int64_t>(time * AV_TIME_BASE);
            report.TotalDuration = owner_.totalDuration_;
            report.Text = text;
            report.Final = final;
            owner_.onProgress_(report);
        } else if (state_.Verbose >= 0) {
            LogText(llVerbose, text);
        }
    }

    if (final && state_.Verbose >= 0) {
        const double sum = static_cast<double>(videoSize_ + audioSize_ + extraSize_);
        const double overhead = sum > 0 ? (static_cast<double>(totalSize) - sum) * 100.0 / sum : 0.0;
        Log(llVerbose, "video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %f%%\r\n",
            videoSize_ / 1024.0, audioSize_ / 1024.0, extraSize_ / 1024.0, overhead);
    }
}

}  // namespace kavel
