#include "engine/FileNames.h"

#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/mem.h>
}

namespace kavel {

namespace {

const char* const ProtocolList = ":unicode:stream:gopher:http:pipe:rtp:tcp:udp:";
constexpr size_t UnicodePrefixLength = 13;
constexpr int IoBufferSize = 32768;

bool StartsWithPrefix(const std::string& name) { return name.compare(0, UnicodePrefixLength, UnicodePrefix) == 0; }

const char* CodePage() {
    const char* codeset = nl_langinfo(CODESET);
    return codeset && *codeset ? codeset : "ANSI_X3.4-1968";
}

bool IsUtf8CodePage(const char* codeset) {
    return strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "UTF8") == 0;
}

// Strict conversion: a character the target cannot hold fails the whole conversion.
bool Convert(const std::string& text, const char* to, const char* from, std::string& result) {
    iconv_t converter = iconv_open(to, from);
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        return false;
    }
    std::string out(text.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    const size_t done = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
    const bool ok = done != static_cast<size_t>(-1) && inLeft == 0 &&
                    iconv(converter, nullptr, nullptr, &outPtr, &outLeft) != static_cast<size_t>(-1);
    iconv_close(converter);
    if (!ok) {
        return false;
    }
    out.resize(out.size() - outLeft);
    result = std::move(out);
    return true;
}

bool ToCodePage(const std::string& utf8, std::string& result) {
    const char* codePage = CodePage();
    if (IsUtf8CodePage(codePage)) {
        result = utf8;
        return true;
    }
    return Convert(utf8, codePage, "UTF-8", result);
}

bool FromCodePage(const std::string& text, std::string& result) {
    const char* codePage = CodePage();
    if (IsUtf8CodePage(codePage)) {
        result = text;
        return true;
    }
    return Convert(text, "UTF-8", codePage, result);
}

bool IsProtocolUrl(const std::string& name) {
    const size_t colon = name.find(':');
    if (colon == std::string::npos) {
        return false;
    }
    const std::string part = ":" + name.substr(0, colon) + ":";
    return std::strstr(ProtocolList, part.c_str()) != nullptr;
}

// Our own file I/O behind the AVIOContext of a "unicode:utf8:" name.
struct UnicodeFile {
    int fd = -1;
};

int ReadFile(void* opaque, uint8_t* buffer, int size) {
    auto* file = static_cast<UnicodeFile*>(opaque);
    for (;;) {
        const ssize_t done = read(file->fd, buffer, static_cast<size_t>(size));
        if (done > 0) {
            return static_cast<int>(done);
        }
        if (done == 0) {
            return AVERROR_EOF;
        }
        if (errno != EINTR) {
            return AVERROR(errno);
        }
    }
}

int WriteFile(void* opaque, uint8_t* buffer, int size) {
    auto* file = static_cast<UnicodeFile*>(opaque);
    int written = 0;
    while (written < size) {
        const ssize_t done = write(file->fd, buffer + written, static_cast<size_t>(size - written));
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            return AVERROR(errno);
        }
        written += static_cast<int>(done);
    }
    return written;
}

int64_t SeekFile(void* opaque, int64_t offset, int whence) {
    auto* file = static_cast<UnicodeFile*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat info;
        return fstat(file->fd, &info) == 0 ? static_cast<int64_t>(info.st_size) : AVERROR(errno);
    }
    const off_t position = lseek(file->fd, offset, whence & ~AVSEEK_FORCE);
    return position < 0 ? AVERROR(errno) : static_cast<int64_t>(position);
}

bool IsOwnIO(const AVIOContext* pb) { return pb != nullptr && pb->seek == &SeekFile; }

int OpenOwnIO(AVIOContext** pb, const std::string& path, int flags) {
    *pb = nullptr;
    int openFlags = O_RDONLY;
    if ((flags & AVIO_FLAG_READ_WRITE) == AVIO_FLAG_READ_WRITE) {
        openFlags = O_RDWR | O_CREAT | O_TRUNC;
    } else if (flags & AVIO_FLAG_WRITE) {
        openFlags = O_WRONLY | O_CREAT | O_TRUNC;
    }
    const int fd = open(path.c_str(), openFlags | O_CLOEXEC, 0666);
    if (fd < 0) {
        return AVERROR(ENOENT);
    }
    auto* file = new UnicodeFile{fd};
    auto* buffer = static_cast<unsigned char*>(av_malloc(IoBufferSize));
    const bool writing = (flags & AVIO_FLAG_WRITE) != 0;
    AVIOContext* context = buffer ? avio_alloc_context(buffer, IoBufferSize, writing ? 1 : 0, file,
                                                       (flags & AVIO_FLAG_READ) ? &ReadFile : nullptr,
                                                       writing ? &WriteFile : nullptr, &SeekFile)
                                   : nullptr;
    if (context == nullptr) {
        av_free(buffer);
        close(fd);
        delete file;
        return AVERROR(ENOMEM);
    }
    *pb = context;
    return 0;
}

int CloseOwnIO(AVIOContext** pb) {
    AVIOContext* context = *pb;
    *pb = nullptr;
    if (context == nullptr) {
        return 0;
    }
    if (context->write_flag) {
        avio_flush(context);
    }
    int result = context->error < 0 ? context->error : 0;
    auto* file = static_cast<UnicodeFile*>(context->opaque);
    if (close(file->fd) != 0 && result == 0) {
        result = AVERROR(errno);
    }
    delete file;
    av_freep(&context->buffer);
    avio_context_free(&context);
    return result;
}

using IoOpenFunction = int (*)(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**);
using IoCloseFunction = int (*)(AVFormatContext*, AVIOContext*);

// The libraries' own handlers, as a fresh context carries them.
struct DefaultHandlers {
    IoOpenFunction open = nullptr;
    IoCloseFunction close = nullptr;
};

const DefaultHandlers& Defaults() {
    static const DefaultHandlers handlers = [] {
        DefaultHandlers result;
        if (AVFormatContext* fresh = avformat_alloc_context()) {
            result.open = fresh->io_open;
            result.close = fresh->io_close2;
            avformat_free_context(fresh);
        }
        return result;
    }();
    return handlers;
}

int NestedOpen(AVFormatContext* ctx, AVIOContext** pb, const char* url, int flags, AVDictionary** options) {
    const std::string name = url ? url : "";
    if (StartsWithPrefix(name)) {
        return OpenOwnIO(pb, DisplayName(name), flags);
    }
    IoOpenFunction fallback = Defaults().open;
    if (fallback == nullptr) {
        return avio_open2(pb, url, flags, &ctx->interrupt_callback, options);
    }
    return fallback(ctx, pb, url, flags, options);
}

int NestedClose(AVFormatContext* ctx, AVIOContext* pb) {
    if (IsOwnIO(pb)) {
        return CloseOwnIO(&pb);
    }
    IoCloseFunction fallback = Defaults().close;
    if (fallback == nullptr) {
        return avio_close(pb);
    }
    return fallback(ctx, pb);
}

}  // namespace

bool NeedsUnicode(const std::string& name) {
    if (IsProtocolUrl(name)) {
        return false;
    }
    std::string codePage;
    std::string back;
    return !ToCodePage(name, codePage) || !FromCodePage(codePage, back) || back != name;
}

std::string LibraryName(const std::string& name) {
    if (NeedsUnicode(name)) {
        return UnicodePrefix + name;
    }
    std::string codePage;
    return ToCodePage(name, codePage) ? codePage : name;
}

std::string DisplayName(const std::string& libraryName) {
    if (libraryName.size() > UnicodePrefixLength && StartsWithPrefix(libraryName)) {
        return libraryName.substr(UnicodePrefixLength);
    }
    std::string utf8;
    return FromCodePage(libraryName, utf8) ? utf8 : libraryName;
}

void UseEngineFileAccess(AVFormatContext* ctx) {
    if (ctx == nullptr) {
        return;
    }
    ctx->io_open = &NestedOpen;
    ctx->io_close2 = &NestedClose;
}

int OpenInputFormat(AVFormatContext** ctx, const std::string& fileName, const AVInputFormat* format,
                    AVDictionary** options) {
    const std::string name = LibraryName(fileName);
    AVFormatContext* context = *ctx ? *ctx : avformat_alloc_context();
    *ctx = nullptr;
    if (context == nullptr) {
        return AVERROR(ENOMEM);
    }
    UseEngineFileAccess(context);
    AVIOContext* own = nullptr;
    if (context->pb == nullptr && StartsWithPrefix(name)) {
        const int result = OpenOwnIO(&own, DisplayName(name), AVIO_FLAG_READ);
        if (result < 0) {
            avformat_free_context(context);
            return result;
        }
        context->pb = own;
        context->flags |= AVFMT_FLAG_CUSTOM_IO;
    }
    // Frees the context on failure, but never a custom I/O context.
    const int result = avformat_open_input(&context, name.c_str(), format, options);
    if (result < 0) {
        CloseOwnIO(&own);
        return result;
    }
    *ctx = context;
    return 0;
}

void CloseInputFormat(AVFormatContext** ctx) {
    if (ctx == nullptr || *ctx == nullptr) {
        return;
    }
    AVIOContext* pb = (*ctx)->pb;
    const bool own = ((*ctx)->flags & AVFMT_FLAG_CUSTOM_IO) && IsOwnIO(pb);
    avformat_close_input(ctx);
    if (own) {
        CloseOwnIO(&pb);
    }
}

void InputFormatCloser::operator()(AVFormatContext* ctx) const { CloseInputFormat(&ctx); }

int OpenIO(AVIOContext** pb, const std::string& fileName, int flags, const AVIOInterruptCB* interrupt,
           AVDictionary** options) {
    const std::string name = LibraryName(fileName);
    if (StartsWithPrefix(name)) {
        return OpenOwnIO(pb, DisplayName(name), flags);
    }
    return avio_open2(pb, name.c_str(), flags, interrupt, options);
}

int CloseIO(AVIOContext** pb) {
    if (pb == nullptr || *pb == nullptr) {
        return 0;
    }
    if (IsOwnIO(*pb)) {
        return CloseOwnIO(pb);
    }
    return avio_closep(pb);
}

int AllocOutputFormat(AVFormatContext** ctx, const AVOutputFormat* format, const char* formatName,
                      const std::string& fileName) {
    const std::string name = LibraryName(fileName);
    const int result = avformat_alloc_output_context2(ctx, format, formatName, name.c_str());
    if (result >= 0) {
        UseEngineFileAccess(*ctx);
    }
    return result;
}

int OpenOutputFormatIO(AVFormatContext* ctx, const std::string& fileName, AVDictionary** options) {
    if (ctx->oformat != nullptr && (ctx->oformat->flags & AVFMT_NOFILE)) {
        return 0;
    }
    return OpenIO(&ctx->pb, fileName, AVIO_FLAG_WRITE, &ctx->interrupt_callback, options);
}

void FreeOutputFormat(AVFormatContext** ctx) {
    if (ctx == nullptr || *ctx == nullptr) {
        return;
    }
    if ((*ctx)->oformat == nullptr || !((*ctx)->oformat->flags & AVFMT_NOFILE)) {
        CloseIO(&(*ctx)->pb);
    }
    avformat_free_context(*ctx);
    *ctx = nullptr;
}

void OutputFormatCloser::operator()(AVFormatContext* ctx) const { FreeOutputFormat(&ctx); }

}  // namespace kavel
