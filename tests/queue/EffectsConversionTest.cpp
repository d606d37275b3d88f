// Colour effects, text and picture drawn into converted video: a batch run with the effects
// shows each where it belongs in the output's pictures, and a row without any runs without the
// per-frame hook.

#include "queue/BatchRun.h"

#include "app/Settings.h"
#include "engine/FFmpegLoader.h"
#include "engine/MainThread.h"
#include "probe/MediaProbe.h"
#include "profiles/ProfileCatalog.h"
#include "queue/ConversionList.h"
#include "support/MediaFixtures.h"
#include "support/RunProgram.h"
#include "support/ScriptedPrompter.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

using namespace kavel;

namespace {

const QString kCatalog = QStringLiteral(KAVEL_SOURCE_DIR "/data/kaveliphoneformat.ini");

// One decoded picture as 24-bit RGB.
struct Picture {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Rgb;

    struct Mean {
        double R = 0, G = 0, B = 0;
    };
    Mean MeanOf(int x, int y, int w, int h) const {
        Mean mean;
        for (int row = y; row < y + h; ++row)
            for (int col = x; col < x + w; ++col) {
                const uint8_t* p = &Rgb[(size_t(row) * Width + col) * 3];
                mean.R += p[0];
                mean.G += p[1];
                mean.B += p[2];
            }
        const double n = double(w) * h;
        mean.R /= n;
        mean.G /= n;
        mean.B /= n;
        return mean;
    }
    // How much brighter this picture is than Before in the area: the ratio of the channel sums,
    // over the channels that Before has between dark and middle (where a gain up to 1.7 neither
    // drowns in coding noise nor clips at white).
    double GainOver(const Picture& before, int x, int y, int w, int h) const {
        double sum = 0, sumBefore = 0;
        for (int row = y; row < y + h; ++row)
            for (int col = x; col < x + w; ++col)
                for (int c = 0; c < 3; ++c) {
                    const size_t at = (size_t(row) * Width + col) * 3 + c;
                    if (before.Rgb[at] >= 16 && before.Rgb[at] <= 150) {
                        sum += Rgb[at];
                        sumBefore += before.Rgb[at];
                    }
                }
        return sumBefore > 0 ? sum / sumBefore : 0;
    }
    // Share of the pixels in the area that are clearly green (the text's colour), not grey.
    double GreenShare(int x, int y, int w, int h) const {
        int green = 0;
        for (int row = y; row < y + h; ++row)
            for (int col = x; col < x + w; ++col) {
                const uint8_t* p = &Rgb[(size_t(row) * Width + col) * 3];
                if (p[1] > p[0] + 80 && p[1] > p[2] + 80)
                    ++green;
            }
        return double(green) / (double(w) * h);
    }
};

struct FormatCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecFreer {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameFreer {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketFreer {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct SwsFreer {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};

// The picture with this number (0 = the first, in decoding output order) of the file's first
// video stream, decoded with the plain libraries.
Picture DecodePicture(const std::string& path, int number) {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        throw std::runtime_error("cannot open " + path);
    std::unique_ptr<AVFormatContext, FormatCloser> format(raw);
    if (avformat_find_stream_info(format.get(), nullptr) < 0)
        throw std::runtime_error("no stream info in " + path);
    const AVCodec* decoder = nullptr;
    const int stream = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (stream < 0 || decoder == nullptr)
        throw std::runtime_error("no video in " + path);
    std::unique_ptr<AVCodecContext, CodecFreer> codec(avcodec_alloc_context3(decoder));
    avcodec_parameters_to_context(codec.get(), format->streams[stream]->codecpar);
    if (avcodec_open2(codec.get(), decoder, nullptr) < 0)
        throw std::runtime_error("cannot open the decoder");
    std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFreer> frame(av_frame_alloc());
    int seen = 0;
    bool draining = false;
    for (;;) {
        if (!draining) {
            if (av_read_frame(format.get(), packet.get()) < 0) {
                draining = true;
                avcodec_send_packet(codec.get(), nullptr);
            } else {
                if (packet->stream_index == stream)
                    avcodec_send_packet(codec.get(), packet.get());
                av_packet_unref(packet.get());
            }
        }
        for (;;) {
            const int got = avcodec_receive_frame(codec.get(), frame.get());
            if (got == AVERROR_EOF)
                throw std::runtime_error("the file has fewer pictures");
            if (got < 0)
                break;
            if (seen++ == number) {
                Picture picture;
                picture.Width = frame->width;
                picture.Height = frame->height;
                picture.Rgb.resize(size_t(frame->width) * frame->height * 3);
                std::unique_ptr<SwsContext, SwsFreer> scaler(sws_getContext(
                    frame->width, frame->height, AVPixelFormat(frame->format), frame->width,
                    frame->height, AV_PIX_FMT_RGB24, SWS_POINT, nullptr, nullptr, nullptr));
                if (!scaler)
                    throw std::runtime_error("no colour conversion");
                uint8_t* planes[4] = {picture.Rgb.data(), nullptr, nullptr, nullptr};
                int strides[4] = {frame->width * 3, 0, 0, 0};
                sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, planes,
                          strides);
                return picture;
            }
            av_frame_unref(frame.get());
        }
        if (draining && seen == 0)
            throw std::runtime_error("no picture decoded");
    }
}

// The engine, counting the frames offered to the hook, by task.
class CountingEngine : public ConvertEngine {
public:
    int HookCalls(int task) {
        std::lock_guard lock(mutex_);
        return task < int(calls_.size()) ? calls_[size_t(task)] : 0;
    }

protected:
    void DoCustomHook(TranscoderTask& task, TaskHookCall& call) override {
        {
            std::lock_guard lock(mutex_);
            for (int i = 0; i < TaskCount(); ++i)
                if (&Task(i) == &task) {
                    if (calls_.size() <= size_t(i))
                        calls_.resize(size_t(i) + 1);
                    ++calls_[size_t(i)];
                }
        }
        ConvertEngine::DoCustomHook(task, call);
    }

private:
    std::mutex mutex_;
    std::vector<int> calls_;
};

// Where the overlays go in the 320x240 pictures.
constexpr int kTextX = 8, kTextY = 8, kTextW = 200, kTextH = 40;
constexpr int kImageX = 224, kImageY = 150, kImageW = 64, kImageH = 48;
const QColor kImageColour(40, 70, 210);

class EffectsConversionTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        // Text needs fonts, and fonts need a GUI application (offscreen: no display).
        if (QGuiApplication::instance() == nullptr) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            app_ = new QGuiApplication(argc_, argv_);
        }
    }
    static void TearDownTestSuite() {
        delete app_;
        app_ = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(LoadLibraries(EngineLibraries)) << LastLoadError();
        settings_.SetOutPutDir(dir_.filePath("out"));
        settings_.SetFormat("0", "iPod Video MPEG-4 (*.mp4)");
    }

    // The source pictures have the output's size, so positions are the same in both.
    static std::string Source() {
        fixtures::MediaParams params;
        params.Seconds = 1.0;
        params.Width = 320;
        params.Height = 240;
        params.FileStem = "effects";
        return fixtures::MakeMedia(params);
    }

    QString WritePicture() {
        QImage image(kImageW, kImageH, QImage::Format_RGB888);
        image.fill(kImageColour);
        const QString path = dir_.filePath("mark.bmp");
        EXPECT_TRUE(image.save(path, "BMP"));
        return path;
    }

    static inline int argc_ = 1;
    static inline char name_[] = "tests_queue";
    static inline char* argv_[] = {name_, nullptr};
    static inline QGuiApplication* app_ = nullptr;

    QTemporaryDir dir_;
    AppSettings settings_{dir_.filePath("settings.ini")};
    ProfileCatalog catalog_{kCatalog};
    test::ScriptedPrompter prompter_;
    CountingEngine engine_;
    ConversionList list_{settings_, catalog_, prompter_, [](const QString& path, int64_t* us) {
        MediaProbe probe;
        FileStreamInfo info;
        if (!probe.LoadFile(path.toStdString()) || !probe.GetFileStreamInfo(info))
            return false;
        *us = info.Duration;
        return true;
    }};
    BatchRun run_{engine_, list_, settings_, catalog_, prompter_};
};

TEST_F(EffectsConversionTest, EffectsTextAndPictureShowWhereTheyBelongAndPlainRowsSkipTheHook) {
    const QString source = QString::fromStdString(Source());
    const QString copy = dir_.filePath("plain.mp4");
    ASSERT_TRUE(QFile::copy(source, copy));
    list_.Add({source, copy});
    ASSERT_EQ(list_.Count(), 2);
    FilesRecord& marked = list_.Row(0).Record;
    marked.Brightness = 400;
    marked.WatermarkText = QStringLiteral("KAVEL");
    marked.WatermarkFont.Name = QStringLiteral("DejaVu Sans");
    marked.WatermarkFont.Size = 20;
    marked.WatermarkFont.Bold = true;
    marked.WatermarkFont.Color = QColor(0, 255, 0);
    marked.TextX = kTextX;
    marked.TextY = kTextY;
    marked.WatermarkImage = WritePicture();
    marked.ImageX = kImageX;
    marked.ImageY = kImageY;
    marked.ImageAlpha = 255;
    marked.TransparentStyle = 1;

    ASSERT_TRUE(run_.Start());
    WaitPumping([this] { return !run_.Running(); });
    ASSERT_EQ(engine_.TaskCount(), 2);
    EXPECT_TRUE(engine_.Task(0).OutputRecords().at(0).CustomHook);
    EXPECT_FALSE(engine_.Task(1).OutputRecords().at(0).CustomHook);
    EXPECT_GT(engine_.HookCalls(0), 20);
    EXPECT_EQ(engine_.HookCalls(1), 0);
    run_.Finish();
    ASSERT_EQ(list_.Row(0).Progress, "100%");
    ASSERT_EQ(list_.Row(1).Progress, "100%");

    // The same source picture in both outputs (the tenth written picture).
    const Picture effects = DecodePicture(list_.Row(0).Record.DestFile.toStdString(), 10);
    const Picture plain = DecodePicture(list_.Row(1).Record.DestFile.toStdString(), 10);
    ASSERT_EQ(effects.Width, 320);
    ASSERT_EQ(effects.Height, 240);
    ASSERT_EQ(plain.Width, 320);

    // The picture, opaque and untouched by the brightness (the effects are drawn before it).
    const int inset = 4;  // clear of the edges, where coding blurs into the neighbours
    const Picture::Mean mark = effects.MeanOf(kImageX + inset, kImageY + inset,
                                              kImageW - 2 * inset, kImageH - 2 * inset);
    EXPECT_NEAR(mark.R, kImageColour.red(), 12);
    EXPECT_NEAR(mark.G, kImageColour.green(), 12);
    EXPECT_NEAR(mark.B, kImageColour.blue(), 12);

    // The text: green strokes over the grid, only in the marked output.
    EXPECT_GT(effects.GreenShare(kTextX, kTextY, kTextW, kTextH), 0.05);
    EXPECT_LT(plain.GreenShare(kTextX, kTextY, kTextW, kTextH), 0.005);
    // Nowhere else.
    EXPECT_LT(effects.GreenShare(0, 120, 320, 120), 0.005);

    // The rest is the same picture, brighter by the gain 400/256.
    EXPECT_NEAR(effects.GainOver(plain, 0, 60, 200, 180), 400.0 / 256, 0.15);
}

TEST_F(EffectsConversionTest, CommandLineBrightnessBrightensTheOutput) {
    const std::string program = std::string(KAVEL_BIN_DIR) + "/kavel-convert";
    if (!std::filesystem::exists(program))
        GTEST_SKIP() << "build the kavel-convert target to run this test";
    const std::string source = Source();
    struct Case {
        std::vector<std::string> effects;
        const char* folder;
    };
    const std::string base = dir_.path().toStdString();
    Picture pictures[2];
    const Case cases[] = {{{}, "plain"}, {{"--brightness", "400"}, "bright"}};
    for (int i = 0; i < 2; ++i) {
        std::vector<std::string> arguments = {"--settings", base + "/cli.ini", "--output-dir",
                                              base + "/" + cases[i].folder, "--profile", "0"};
        arguments.insert(arguments.end(), cases[i].effects.begin(), cases[i].effects.end());
        arguments.push_back(source);
        const RunResult result = RunProgram(arguments);
        ASSERT_EQ(result.Status, 0) << result.Out << result.Errors;
        std::string output;
        for (const auto& entry : std::filesystem::directory_iterator(base + "/" + cases[i].folder))
            output = entry.path().string();
        ASSERT_FALSE(output.empty());
        pictures[i] = DecodePicture(output, 10);
    }
    ASSERT_EQ(pictures[1].Width, pictures[0].Width);
    EXPECT_NEAR(pictures[1].GainOver(pictures[0], 0, 0, pictures[0].Width, pictures[0].Height),
                400.0 / 256, 0.15);
}

}  // namespace
