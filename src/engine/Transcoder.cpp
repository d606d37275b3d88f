#include "engine/Transcoder.h"

#include "engine/FFmpegException.h"
#include "engine/TranscoderRun.h"
#include "engine/TranscoderStreams.h"

namespace kavel {

Transcoder::Transcoder() = default;

Transcoder::~Transcoder() {
    Release();
    av_channel_layout_uninit(&inputChannelLayout_);
}

void Transcoder::Transcode() {
    if (transcoded_) {
        throw FFmpegException("A task is transcoded only once");
    }
    transcoded_ = true;
    finished_ = false;
    TranscoderRun run(*this);
    try {
        run.SetUp();
        run.MainLoop();
        run.Finish();
    } catch (...) {
        run.CloseCodecs();
        throw;
    }
    run.CloseCodecs();
    finished_ = !stopRequested_;
}

void Transcoder::Release() {
    // Streams first: they point into the files' contexts.
    outputStreams_.clear();
    inputStreams_.clear();
    inputRuns_.clear();
    state_.Reset();
}

}  // namespace kavel
