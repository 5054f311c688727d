#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "core/registry.h"
#include "video/date_stamp.h"
#include "video/frame_exchange.h"
#include "video/screen_picture.h"

namespace {

std::vector<uint8_t> NoisePicture(uint32_t seed, std::size_t bytes = kFrameBytes) {
    std::mt19937 random(seed);
    std::vector<uint8_t> picture(bytes);
    for (uint8_t& b : picture) b = static_cast<uint8_t>(random());
    return picture;
}

// Two noise pictures of a camera's size, put into an exchange in turn.
class AlternatingSamples {
public:
    AlternatingSamples(int32_t width, int32_t height)
        : bytes_(static_cast<std::size_t>(width) * height * kFrameBytesPerPixel),
          pictures_{NoisePicture(2, bytes_), NoisePicture(3, bytes_)} {}
    void PutNext(FrameExchange& exchange) {
        exchange.PutSample(turn_, pictures_[turn_ & 1].data(), Length());
        ++turn_;
    }
    int32_t Length() const { return static_cast<int32_t>(bytes_); }

private:
    std::size_t bytes_;
    std::vector<uint8_t> pictures_[2];
    int turn_ = 0;
};

// The baseline every frame loop is measured against: one picture copy.
void Memcpy921600(benchmark::State& state) {
    const std::vector<uint8_t> from = NoisePicture(1);
    std::vector<uint8_t> to(kFrameBytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), kFrameBytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * int64_t{kFrameBytes});
}
BENCHMARK(Memcpy921600);

// One 640 x 480 camera sample measured where it arrives and fetched with
// the picture and the difference image copied out, as for a window showing it.
// Measure_* is the same with nothing copied out: a window nobody looks at.
void Fetch(benchmark::State& state, int rotate, int reflect, const char* mask = "", bool copyOut = true) {
    Registry registry(false);
    registry.SetInt("VideoRotate", rotate);
    registry.SetInt("VideoReflect", reflect);
    registry.SetText("DetectorMask", mask);
    FrameExchange exchange(registry);
    exchange.SetDifferenceWanted(copyOut);
    const unsigned writes = copyOut ? kWriteOut | kWriteDifference : 0u;
    const std::vector<uint8_t> pictures[2] = {NoisePicture(2), NoisePicture(3)};
    double time = 0.0;
    int32_t length = 0;
    int turn = 0;
    for (auto _ : state) {
        exchange.PutSample(turn, pictures[turn & 1].data(), kFrameBytes);
        ++turn;
        benchmark::DoNotOptimize(exchange.FetchFrame(time, exchange.Display(), length, writes));
        benchmark::ClobberMemory();
    }
    if (length != kFrameBytes) state.SkipWithError("no frame was fetched");
    if (*mask && exchange.Mask().Empty()) state.SkipWithError("the mask was not taken");
    state.SetBytesProcessed(state.iterations() * int64_t{kFrameBytes});
}

void Measure_Rotate0(benchmark::State& state) { Fetch(state, 0, 0, "", false); }
void Measure_Rotate1(benchmark::State& state) { Fetch(state, 1, 0, "", false); }
BENCHMARK(Measure_Rotate0);
BENCHMARK(Measure_Rotate1);

void FetchFrame_Rotate0(benchmark::State& state) { Fetch(state, 0, 0); }
void FetchFrame_Rotate1(benchmark::State& state) { Fetch(state, 1, 0); }
void FetchFrame_Rotate3(benchmark::State& state) { Fetch(state, 3, 0); }
void FetchFrame_Reflect1(benchmark::State& state) { Fetch(state, 0, 1); }
void FetchFrame_Reflect2(benchmark::State& state) { Fetch(state, 0, 2); }
BENCHMARK(FetchFrame_Rotate0);
BENCHMARK(FetchFrame_Rotate1);
BENCHMARK(FetchFrame_Rotate3);
BENCHMARK(FetchFrame_Reflect1);
BENCHMARK(FetchFrame_Reflect2);

// The same fetches with areas the detector ignores, each against its
// unmasked form above: two areas (a window and a screen), and sixteen
// scattered ones, the most the mask holds.
constexpr const char* kTwoAreas = "40,30,200,150;380,260,220,180";
constexpr const char* kSixteenAreas =
    "0,0,40,40;100,10,37,50;200,20,33,60;300,30,41,70;400,40,29,80;500,50,45,90;600,60,40,100;"
    "10,200,50,33;120,210,61,35;230,220,20,37;340,230,77,39;450,240,15,41;560,250,79,43;"
    "20,400,100,60;300,380,200,90;560,420,80,60";
void FetchFrame_Rotate0_TwoAreas(benchmark::State& state) { Fetch(state, 0, 0, kTwoAreas); }
void FetchFrame_Rotate0_SixteenAreas(benchmark::State& state) { Fetch(state, 0, 0, kSixteenAreas); }
void FetchFrame_Rotate1_TwoAreas(benchmark::State& state) {
    Fetch(state, 1, 0, "40,30,150,200;260,380,180,220");
}
void FetchFrame_Reflect2_TwoAreas(benchmark::State& state) { Fetch(state, 0, 2, kTwoAreas); }
BENCHMARK(FetchFrame_Rotate0_TwoAreas);
BENCHMARK(FetchFrame_Rotate0_SixteenAreas);
BENCHMARK(FetchFrame_Rotate1_TwoAreas);
BENCHMARK(FetchFrame_Reflect2_TwoAreas);

// A camera sample of each size measured where it arrives, nothing copied
// out: above 640 x 480 the picture is copied whole and the level measured on
// the motion grid; *_LevelOnly is the same while nobody wants the picture
// (window hidden, no recording, no client), when only the grid's lines are
// kept. Against Measure_Rotate0 (the same at 640 x 480).
void MeasureSize(benchmark::State& state, int32_t width, int32_t height, bool pictureWanted = true) {
    Registry registry(false);
    FrameExchange exchange(registry);
    exchange.SetSourceSize(width, height);
    exchange.SetDifferenceWanted(false);
    exchange.SetPictureWanted(pictureWanted);
    AlternatingSamples samples(width, height);
    double time = 0.0;
    int32_t length = 0;
    for (auto _ : state) {
        samples.PutNext(exchange);
        benchmark::DoNotOptimize(exchange.FetchFrame(time, exchange.Display(), length, 0));
        benchmark::ClobberMemory();
    }
    if (length != samples.Length()) state.SkipWithError("no frame was fetched");
    state.SetBytesProcessed(state.iterations() * samples.Length());
}
void Measure_1280x720(benchmark::State& state) { MeasureSize(state, 1280, 720); }
void Measure_1920x1080(benchmark::State& state) { MeasureSize(state, 1920, 1080); }
BENCHMARK(Measure_1280x720);
BENCHMARK(Measure_1920x1080);
void Measure_1280x720_LevelOnly(benchmark::State& state) { MeasureSize(state, 1280, 720, false); }
void Measure_1920x1080_LevelOnly(benchmark::State& state) { MeasureSize(state, 1920, 1080, false); }
BENCHMARK(Measure_1280x720_LevelOnly);
BENCHMARK(Measure_1920x1080_LevelOnly);

// The plain copy of a 1920 x 1080 picture, which its measurement makes
// anyway: what Measure_1920x1080 costs beyond it is its motion level's cost,
// to set against Measure_Rotate0 beyond Memcpy921600 at 640 x 480.
void Memcpy_1920x1080(benchmark::State& state) {
    const std::vector<uint8_t> from[2] = {NoisePicture(2, kFrameCapacityBytes), NoisePicture(3, kFrameCapacityBytes)};
    std::vector<uint8_t> to(kFrameCapacityBytes);
    int turn = 0;
    for (auto _ : state) {
        std::memcpy(to.data(), from[turn++ & 1].data(), kFrameCapacityBytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * int64_t{kFrameCapacityBytes});
}
BENCHMARK(Memcpy_1920x1080);

// The window's turn for each picture it shows: the sample measured where it
// arrives; the picture copied out and stamped (Fetched), or only the rows the
// date goes into copied out and stamped and the rest read where it lies
// (Lent); then turned into screen pixels at the window's size. Against the
// same at 640 x 480, shown at its own size.
void Shown(benchmark::State& state, bool lend) {
    const auto width = static_cast<int32_t>(state.range(0));
    const auto height = static_cast<int32_t>(state.range(1));
    const auto shownWidth = static_cast<int32_t>(state.range(2));
    const auto shownHeight = static_cast<int32_t>(state.range(3));
    Registry registry(false);
    FrameExchange exchange(registry);
    exchange.SetSourceSize(width, height);
    exchange.SetDifferenceWanted(false);
    DateStamp stamp;
    stamp.LoadFont();
    ScreenScaler scaler;
    scaler.Prepare(width, height, shownWidth, shownHeight);
    std::vector<uint8_t> screen(static_cast<std::size_t>(shownWidth) * shownHeight * 4);
    AlternatingSamples samples(width, height);
    const int32_t band = stamp.Rows(width, height);
    double time = 0.0;
    int32_t length = 0;
    for (auto _ : state) {
        samples.PutNext(exchange);
        FrameRows rows{exchange.Display()};
        if (lend) {
            rows = {exchange.LendFrame(time, exchange.Display(), band, length, 0), exchange.Display(), band};
        } else {
            exchange.FetchFrame(time, exchange.Display(), length, kWriteOut);
        }
        stamp.DrawStamp(exchange.Display(), width, height);
        if (shownWidth == width && shownHeight == height) {
            FrameToScreenPixels(rows, width, height, screen.data(), std::ptrdiff_t{shownWidth} * 4);
        } else {
            scaler.Scale(rows, screen.data(), std::ptrdiff_t{shownWidth} * 4);
        }
        if (lend) exchange.ReturnLent();
        benchmark::ClobberMemory();
    }
    if (length != samples.Length()) state.SkipWithError("no frame was fetched");
}
void Shown_Fetched(benchmark::State& state) { Shown(state, false); }
void Shown_Lent(benchmark::State& state) { Shown(state, true); }
BENCHMARK(Shown_Fetched)->Args({640, 480, 640, 480})->Args({1280, 720, 1280, 720})->Args({1920, 1080, 1280, 720});
BENCHMARK(Shown_Lent)->Args({640, 480, 640, 480})->Args({1280, 720, 1280, 720})->Args({1920, 1080, 1280, 720});

void DrawStamp(benchmark::State& state) {
    DateStamp stamp;
    stamp.LoadFont();
    std::vector<uint8_t> picture = NoisePicture(4);
    for (auto _ : state) {
        stamp.DrawStamp(picture.data(), 640, 480);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(DrawStamp);

// The window's per-frame turn of a 640 x 480 frame into upright screen
// pixels (3 bytes read, 4 written per pixel), against Memcpy921600, with
// 32-byte vectors (the default where the processor has them) and 16-byte ones.
void ScreenPixels(benchmark::State& state, int vectors) {
    const std::vector<uint8_t> frame = NoisePicture(5);
    std::vector<uint8_t> screen(640 * 480 * 4);
    LimitFrameVectorsForTest(vectors);
    for (auto _ : state) {
        FrameToScreenPixels(frame.data(), 640, 480, screen.data(), 640 * 4);
        benchmark::DoNotOptimize(screen.data());
        benchmark::ClobberMemory();
    }
    LimitFrameVectorsForTest(2);
    state.SetBytesProcessed(state.iterations() * int64_t{kFrameBytes});
}
void ScreenPixels_640x480(benchmark::State& state) { ScreenPixels(state, 2); }
void ScreenPixels_640x480_16Byte(benchmark::State& state) { ScreenPixels(state, 1); }
BENCHMARK(ScreenPixels_640x480);
BENCHMARK(ScreenPixels_640x480_16Byte);

// The window's per-frame scaling of a 1920 x 1080 frame into screen pixels
// at the shown size (the window's, up to 90 % of the screen), against
// ScreenPixels_640x480 (today's unscaled paint).
void ScreenScale_1920x1080(benchmark::State& state) {
    const std::vector<uint8_t> frame = NoisePicture(5, kFrameCapacityBytes);
    const auto width = static_cast<int32_t>(state.range(0));
    const auto height = static_cast<int32_t>(state.range(1));
    std::vector<uint8_t> screen(static_cast<std::size_t>(width) * height * 4);
    ScreenScaler scaler;
    scaler.Prepare(1920, 1080, width, height);
    for (auto _ : state) {
        scaler.Scale(frame.data(), screen.data(), std::ptrdiff_t{width} * 4);
        benchmark::DoNotOptimize(screen.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(ScreenScale_1920x1080)->Args({640, 360})->Args({960, 540})->Args({1280, 720})->Args({1600, 900});

}  // namespace
