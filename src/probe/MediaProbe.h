#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;

namespace kavel {

// What the container says about the whole file. Times in microseconds; -1 means "not set".
struct FileStreamInfo {
    int64_t StartTime = -1;
    int64_t Duration = -1;
    int BitRate = -1;        // bit/s, the container's total (0 when the container does not know)
    int64_t Timestamp = -1;  // creation time, seconds since 1 January 1970 (UTC)
    int Year = -1;
    int Track = -1;
    std::string Title;
    std::string Author;
    std::string Copyright;
    std::string Comment;
    std::string Album;
    std::string Genre;
};

// StartTime and Duration are in the stream's time base, the US fields in microseconds; -1 means
// "not set" for all four.
struct VideoStreamInfo {
    std::string Language;
    std::string Codec;
    int64_t StartTime = -1;
    int64_t StartTimeUS = -1;
    int64_t Duration = -1;
    int64_t DurationUS = -1;
    int BitRate = -1;  // bit/s (0 when the stream does not know)
    int Height = -1;
    int Width = -1;
    float DisplayAspectRatio = -1.0f;  // sample aspect ratio * width / height; -1 when unknown
    int PixelFormat = -1;              // AVPixelFormat
    int FrameRateNum = -1;             // the stream's real frame rate
    int FrameRateDen = -1;
};

struct AudioStreamInfo {
    std::string Language;
    std::string Codec;
    int64_t StartTime = -1;
    int64_t StartTimeUS = -1;
    int64_t Duration = -1;
    int64_t DurationUS = -1;
    int BitRate = -1;
    int Channels = -1;
    int SampleRate = -1;    // Hz
    int SampleFormat = -1;  // AVSampleFormat
};

// Reads what a media file contains without converting it: the container, its programs, streams
// and metadata, and a multi-line description. It either opens a file itself (LoadFile) or
// describes a demuxer context that another component opened (Attach).
//
// One thread at a time; the engine and the player use it from the main thread. LoadFile and
// Attach throw FFmpegException ("LibAVCodec not loaded." and the like) when LoadLibraries has not
// loaded the engine's libraries; every other failure returns false or leaves a record at its
// defaults, sets LastErrMsg and logs the text through the engine logger.
class MediaProbe {
public:
    MediaProbe();
    ~MediaProbe();
    MediaProbe(const MediaProbe&) = delete;
    MediaProbe& operator=(const MediaProbe&) = delete;

    // Opens and analyses a UTF-8 file name (names beyond the system code page included).
    // formatName forces the input format ("mpegts", "u8", ...); empty detects it. The probe owns
    // the opened file until Close or the next LoadFile / Attach.
    bool LoadFile(const std::string& fileName, const std::string& formatName = "");
    // Describes a context opened (and stream-probed) elsewhere. The caller keeps ownership: Close
    // only forgets it, so the context must outlive its use here. Null is the same as Close.
    void Attach(AVFormatContext* context);
    // Forgets the file, closing it only when LoadFile opened it. Always safe.
    void Close();

    // Index -1 means the first stream of that kind. False, with the record at its defaults, when
    // no file is loaded or the stream is missing, out of range or of another kind.
    bool GetFileStreamInfo(FileStreamInfo& info);
    bool GetVideoStreamInfo(int index, VideoStreamInfo& info);
    bool GetAudioStreamInfo(int index, AudioStreamInfo& info);
    bool IsAudioStream(int index);
    bool IsVideoStream(int index);

    // The UTF-8 name of the file ("unicode:utf8:" names decoded back); empty without a file.
    std::string FileName() const;
    // The container format's short name ("mov,mp4,m4a,3gp,3g2,mj2", "avi", ...).
    std::string FormatShortName() const;
    // The format forced in LoadFile, empty when detected or after Close.
    const std::string& FormatName() const { return formatName_; }
    // One line per fact, each ending in "\n"; empty (and "file not loaded.") without a file.
    std::string Description();

    const std::string& LastErrMsg() const { return lastErrMsg_; }
    AVFormatContext* Context() const { return context_; }
    bool OwnsContext() const { return ownsContext_; }

    // All -1 without a file; with one, the counts start at 0 and a first index stays -1 when
    // there is no stream of that kind.
    int64_t FileSize() const { return fileSize_; }
    int StreamCount() const { return streamCount_; }
    int ProgramCount() const { return programCount_; }
    int AudioStreamCount() const { return audioStreamCount_; }
    int VideoStreamCount() const { return videoStreamCount_; }
    int SubtitleStreamCount() const { return subtitleStreamCount_; }
    int FirstAudioStream() const { return firstAudioStream_; }
    int FirstVideoStream() const { return firstVideoStream_; }
    int FirstSubtitleStream() const { return firstSubtitleStream_; }
    // FirstVideoStream, else FirstAudioStream, else -1.
    int DefaultStream() const { return defaultStream_; }
    // Start time of DefaultStream in its time base, or the file's start time in microseconds when
    // there is no such stream; 0 when not set.
    int64_t DefaultStartTime() const { return defaultStartTime_; }

private:
    struct CodecContextFree {
        void operator()(AVCodecContext* context) const;
    };
    struct FrameFree {
        void operator()(AVFrame* frame) const;
    };

    void CheckLibraries() const;
    void Refresh();
    void ReleaseFrameReader();
    bool Fail(int logLevel, const std::string& message);
    // The stream for a query, or -1 after reporting why there is none.
    int ResolveStream(int index, int mediaType, bool minusOneIsFirst);

    AVFormatContext* context_ = nullptr;
    bool ownsContext_ = false;
    std::string lastErrMsg_;
    std::string formatName_;

    int64_t fileSize_ = -1;
    int streamCount_ = -1;
    int programCount_ = -1;
    int audioStreamCount_ = -1;
    int videoStreamCount_ = -1;
    int subtitleStreamCount_ = -1;
    int firstAudioStream_ = -1;
    int firstVideoStream_ = -1;
    int firstSubtitleStream_ = -1;
    int defaultStream_ = -1;
    int64_t defaultStartTime_ = 0;

    // Frame-reader state: a decoder and an RGB picture for a stream, released by Close.
    std::unique_ptr<AVCodecContext, CodecContextFree> readerCodec_;
    std::unique_ptr<AVFrame, FrameFree> readerPicture_;
    int readerStream_ = -1;
    int64_t readerPosition_ = -1;
};

// The size texts of the description: "%d Byte" up to 1024 bytes, "%.2f KB" up to 1 MiB,
// "%.2f MB" up to 1 GiB, "%.2f GB" above.
std::string FileSizeText(int64_t bytes);
// A rate as the stream lines show it: ", 29.97 fps", ", 25 tbr", ", 90k tbn".
std::string RateText(double value, const char* name);
// A metadata key as the description shows it ("TIT2" -> "title"; unknown keys unchanged).
std::string MetadataDisplayName(const std::string& key);

}  // namespace kavel
