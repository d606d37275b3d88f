#pragma once

#include <memory>
#include <string>

struct AVDictionary;
struct AVFormatContext;
struct AVIOContext;
struct AVIOInterruptCB;
struct AVInputFormat;
struct AVOutputFormat;

namespace kavel {

// Names handed to the libraries start with this when they are opened through our own file I/O.
inline constexpr const char* UnicodePrefix = "unicode:utf8:";

// The engine takes UTF-8 file names. The "system code page" is the current locale's character set.
//
// False for protocol URLs ("http:...", "udp:...", "unicode:..." and the like). Otherwise true
// exactly when the name does not survive a round trip through the system code page.
bool NeedsUnicode(const std::string& name);
// The name the libraries receive: UnicodePrefix + name when NeedsUnicode, else the name in the
// system code page.
std::string LibraryName(const std::string& name);
// The UTF-8 name back from a library name (the prefix removed, or converted from the code page).
std::string DisplayName(const std::string& libraryName);

// Every open of a media file by the engine, the prober and the player goes through these; a name
// that needs it is opened through a custom AVIOContext over our own file I/O, and nested opens
// made by the libraries for such a context (segments, second passes) take the same road.
// All return 0 or a negative library error code; a file that cannot be opened gives
// AVERROR(ENOENT) ("No such file or directory"). Call them on any thread.

// Like avformat_open_input: *ctx may be null or preallocated; on failure *ctx is freed and null.
int OpenInputFormat(AVFormatContext** ctx, const std::string& fileName, const AVInputFormat* format,
                    AVDictionary** options);
// Closes an input opened by OpenInputFormat (its own I/O included) and nulls *ctx.
void CloseInputFormat(AVFormatContext** ctx);

struct InputFormatCloser {
    void operator()(AVFormatContext* ctx) const;
};
using InputFormatPtr = std::unique_ptr<AVFormatContext, InputFormatCloser>;

// Like avio_open2 with AVIO_FLAG_READ, AVIO_FLAG_WRITE or AVIO_FLAG_READ_WRITE: read opens an
// existing file, write creates or truncates, read-write reads and writes (create or truncate).
int OpenIO(AVIOContext** pb, const std::string& fileName, int flags,
           const AVIOInterruptCB* interrupt = nullptr, AVDictionary** options = nullptr);
// Flushes and closes a context from OpenIO, whichever road it took, and nulls *pb.
// Returns 0 or the error of the final flush.
int CloseIO(AVIOContext** pb);

inline int OpenOutputIO(AVIOContext** pb, const std::string& fileName, int flags) {
    return OpenIO(pb, fileName, flags);
}
inline int CloseOutputIO(AVIOContext** pb) { return CloseIO(pb); }

// Like avformat_alloc_output_context2, with the name's library form as the context's url (the
// extension still picks the format), and nested opens routed as above.
int AllocOutputFormat(AVFormatContext** ctx, const AVOutputFormat* format, const char* formatName,
                      const std::string& fileName);
// Opens (*ctx)->pb for writing to fileName unless the muxer needs no file (AVFMT_NOFILE).
int OpenOutputFormatIO(AVFormatContext* ctx, const std::string& fileName, AVDictionary** options = nullptr);
// Closes pb (unless AVFMT_NOFILE) and frees the context; nulls *ctx.
void FreeOutputFormat(AVFormatContext** ctx);

struct OutputFormatCloser {
    void operator()(AVFormatContext* ctx) const;
};
using OutputFormatPtr = std::unique_ptr<AVFormatContext, OutputFormatCloser>;

// Routes the libraries' nested opens of ctx (io_open/io_close2) through our file I/O when the
// name carries UnicodePrefix. OpenInputFormat and AllocOutputFormat already do this.
void UseEngineFileAccess(AVFormatContext* ctx);

}  // namespace kavel
