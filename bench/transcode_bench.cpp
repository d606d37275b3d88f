// Conversion speed of the engine against the ffmpeg command-line tool, with the same codec
// settings and thread count, on a generated 720p clip.
//
//   transcode_bench [--seconds S] [--threads N] [--repeat R] [--ffmpeg PATH] [--keep]
//
// For each case the engine's option parser turns the options into codec settings; the same
// settings (as the libraries read them back) are handed to the peer as "-name:v value" and
// "-name:a value". Each side runs R times, alternating; the fastest run of each counts. Both
// sides are timed from opening the files to the closed output.

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/FFmpegException.h"
#include "engine/OptionParser.h"
#include "engine/Transcoder.h"

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
}

extern char** environ;

using namespace kavel;

namespace {

using Options = std::vector<std::pair<std::string, std::string>>;

struct Settings {
    double Seconds = 20;
    int Threads = 1;
    int Repeat = 2;
    std::string Peer = "ffmpeg";
    bool Keep = false;
};

struct Prepared {
    std::unique_ptr<Transcoder> Engine;
    std::unique_ptr<OptionParser> Parser;
};

// Opens input and output with the options; throws FFmpegException with the reason.
Prepared Prepare(const std::string& input, const Options& inputOptions, const std::string& output,
                 const Options& outputOptions, int threads) {
    Prepared prepared;
    prepared.Engine = std::make_unique<Transcoder>();
    prepared.Engine->State().Generic.Create();
    prepared.Engine->State().Verbose = -1;
    prepared.Engine->SetThreadCount(threads);
    prepared.Parser = std::make_unique<OptionParser>(prepared.Engine->State(), *prepared.Engine);
    for (const auto& [name, value] : inputOptions) {
        prepared.Parser->SetOption(name, value);
    }
    if (!prepared.Engine->OpenInputFile(input)) {
        throw FFmpegException(prepared.Engine->ErrorText());
    }
    for (const auto& [name, value] : outputOptions) {
        prepared.Parser->SetOption(name, value);
    }
    if (prepared.Engine->OpenOutputFile(output, false) < 0) {
        throw FFmpegException(prepared.Engine->ErrorText());
    }
    return prepared;
}

// Transcodes and releases; returns the seconds the transcode took.
double RunEngine(Prepared& prepared) {
    const auto start = std::chrono::steady_clock::now();
    prepared.Engine->Transcode();
    const auto end = std::chrono::steady_clock::now();
    prepared.Engine->Release();
    return std::chrono::duration<double>(end - start).count();
}

double RunPeer(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        throw FFmpegException("cannot start " + args[0]);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const auto end = std::chrono::steady_clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw FFmpegException(args[0] + " failed");
    }
    return std::chrono::duration<double>(end - start).count();
}

// The peer's command line for the settings the engine derived from the options.
std::vector<std::string> PeerArguments(const Settings& settings, const TranscoderState& state,
                                       const std::string& input, const std::string& output,
                                       const std::string& videoCodec, const std::string& audioCodec) {
    const std::string threads = std::to_string(settings.Threads);
    std::vector<std::string> args = {settings.Peer, "-nostdin", "-y", "-v", "error", "-threads", threads,
                                     "-i", input, "-threads", threads, "-filter_threads", "1",
                                     "-c:v", videoCodec, "-c:a", audioCodec};
    for (const auto& [name, value] : state.Generic.Codec[AVMEDIA_TYPE_VIDEO]) {
        args.push_back("-" + name + ":v");
        args.push_back(value);
    }
    for (const auto& [name, value] : state.Generic.Codec[AVMEDIA_TYPE_AUDIO]) {
        args.push_back("-" + name + ":a");
        args.push_back(value);
    }
    args.push_back(output);
    return args;
}

std::string DescribeFile(const std::string& path) {
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0) {
        return "unreadable";
    }
    avformat_find_stream_info(context, nullptr);
    char text[160];
    std::snprintf(text, sizeof text, "%.2f s, %lld kB", context->duration / 1e6,
                  static_cast<long long>(std::filesystem::file_size(path) / 1024));
    avformat_close_input(&context);
    return text;
}

struct BenchCase {
    const char* Name;
    std::string VideoCodec;
    std::string AudioCodec;
    Options OutputOptions;
};

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (arg == "--seconds") {
            settings.Seconds = std::atof(next().c_str());
        } else if (arg == "--threads") {
            settings.Threads = std::atoi(next().c_str());
        } else if (arg == "--repeat") {
            settings.Repeat = std::max(1, std::atoi(next().c_str()));
        } else if (arg == "--ffmpeg") {
            settings.Peer = next();
        } else if (arg == "--keep") {
            settings.Keep = true;
        } else {
            std::fprintf(stderr, "usage: %s [--seconds S] [--threads N] [--repeat R] [--ffmpeg PATH] [--keep]\n",
                         argv[0]);
            return 2;
        }
    }
    avdevice_register_all();
    av_log_set_level(AV_LOG_ERROR);
    char folderTemplate[] = "/tmp/kavel-bench-XXXXXX";
    if (!mkdtemp(folderTemplate)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string folder = folderTemplate;
    const std::string source = folder + "/source.mp4";

    try {
        char graph[256];
        std::snprintf(graph, sizeof graph,
                      "testsrc2=size=1280x720:rate=25:duration=%g[out0];sine=frequency=440:sample_rate=44100:"
                      "duration=%g[out1]",
                      settings.Seconds, settings.Seconds);
        Prepared generator = Prepare(graph, {{"f", "lavfi"}}, source,
                                     {{"vcodec", "mpeg4"}, {"qscale", "3"}, {"acodec", "aac"}, {"ac", "2"}}, 0);
        RunEngine(generator);
        std::printf("source: 1280x720 25 fps mpeg4 + aac, %s\n", DescribeFile(source).c_str());

        const std::vector<BenchCase> cases = {
            {"libx264 ipod preset", "libx264", "aac",
             {{"vcodec", "libx264"}, {"vpre", "ipod"}, {"acodec", "aac"}, {"ab", "128000"}}},
            {"mpeg4", "mpeg4", "aac", {{"vcodec", "mpeg4"}, {"b", "2000000"}, {"acodec", "aac"}, {"ab", "128000"}}},
        };
        std::printf("threads per codec: %d, runs per side: %d\n\n", settings.Threads, settings.Repeat);
        std::printf("%-22s %10s %10s %8s   %s\n", "case", "engine s", "ffmpeg s", "ratio", "outputs");
        for (const BenchCase& c : cases) {
            const std::string ours = folder + "/engine_" + c.VideoCodec + ".mp4";
            const std::string peer = folder + "/peer_" + c.VideoCodec + ".mp4";
            double bestOurs = 1e30;
            double bestPeer = 1e30;
            // The peer's settings come from a first, untimed opening.
            std::vector<std::string> args;
            {
                Prepared prepared = Prepare(source, {}, ours, c.OutputOptions, settings.Threads);
                args = PeerArguments(settings, prepared.Engine->State(), source, peer, c.VideoCodec, c.AudioCodec);
                prepared.Engine->Release();
            }
            std::string line;
            for (const auto& arg : args) {
                line += arg + " ";
            }
            std::printf("peer: %s\n", line.c_str());
            // Each engine run counts from opening the files, as the peer's does.
            auto engineRun = [&] {
                const auto start = std::chrono::steady_clock::now();
                Prepared prepared = Prepare(source, {}, ours, c.OutputOptions, settings.Threads);
                prepared.Engine->Transcode();
                prepared.Engine->Release();
                const auto end = std::chrono::steady_clock::now();
                return std::chrono::duration<double>(end - start).count();
            };
            for (int run = 0; run < settings.Repeat; ++run) {
                // Alternate which side goes first, so neither always runs on a warmer machine.
                if (run % 2 == 0) {
                    bestOurs = std::min(bestOurs, engineRun());
                    bestPeer = std::min(bestPeer, RunPeer(args));
                } else {
                    bestPeer = std::min(bestPeer, RunPeer(args));
                    bestOurs = std::min(bestOurs, engineRun());
                }
            }
            std::printf("%-22s %10.2f %10.2f %8.3f   engine %s, ffmpeg %s\n", c.Name, bestOurs, bestPeer,
                        bestOurs / bestPeer, DescribeFile(ours).c_str(), DescribeFile(peer).c_str());
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "benchmark failed: %s\n", error.what());
        if (!settings.Keep) {
            std::filesystem::remove_all(folder);
        }
        return 1;
    }
    if (!settings.Keep) {
        std::filesystem::remove_all(folder);
    }
    return 0;
}
