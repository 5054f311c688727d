#include "recording/avi_recovery.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <random>

#include "core/registry.h"
#include "recording/avi_recorder.h"
#include "recording/mjpeg_params.h"
#include "recording/rec_test_support.h"
#include "recording/shot_data.h"

namespace {

constexpr std::time_t kStart = 1773483300;  // 2026-03-14 10:15:00 UTC

// What an interrupted run leaves behind: the recorder's open file as it lies on disk.
struct CrashImage {
    std::vector<uint8_t> bytes;
    std::vector<size_t> chunkOffsets;
    std::vector<size_t> jpegSizes;
    std::vector<uint8_t> closedFile;  // the same frames closed normally
};

class AviRecoveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        registry.SetHandle("_MJPEG_PARAMS", &params);
        registry.SetText("MoveFilesPath", folder.Path().c_str());
        params.speedRec = 500;
        params.speedPlay = 3;
        params.fileMaxSize = 200;
        params.fileMaxPages = 500;
        params.fileMaxTime = 60;
    }

    CrashImage Record(int frames, int width, int height) {
        CrashImage image;
        TempFolder scratch;
        registry.SetText("MoveFilesPath", scratch.Path().c_str());
        {
            ManualClock clock(kStart);
            AviRecorder recorder(registry, clock, [](const char*) { return int64_t{1} << 40; });
            ShotData shot;
            shot.recording = 1;
            size_t offset = 2560;
            for (int i = 0; i < frames; ++i) {
                const auto jpeg = MakeJpeg(width, height, i, i % 2 == 0);
                std::memcpy(shot.jpeg.get(), jpeg.data(), jpeg.size());
                shot.jpegBytes = static_cast<int32_t>(jpeg.size());
                shot.jpegWidth = width;
                shot.jpegHeight = height;
                shot.captureTime = 1.0 + i;
                recorder.WriteFrame(shot);
                image.chunkOffsets.push_back(offset);
                image.jpegSizes.push_back(jpeg.size());
                offset += 8 + jpeg.size();
            }
            image.bytes = ReadFileBytes(recorder.TemporaryPath());
            recorder.CloseFile();
            image.closedFile = ReadFileBytes(recorder.FinalPath());
        }
        registry.SetText("MoveFilesPath", folder.Path().c_str());
        return image;
    }

    Registry registry{true};
    MjpegParams params;
    TempFolder folder;
};

std::vector<uint8_t> Prefix(const std::vector<uint8_t>& bytes, size_t size) {
    return std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
}

TEST_F(AviRecoveryTest, RebuildsFilesCutAnywhereWithEveryCompleteFrame) {
    const CrashImage image = Record(5, 48, 32);
    ASSERT_EQ(image.bytes.size(), image.chunkOffsets[4] + 8 + image.jpegSizes[4]);
    const auto& c = image.chunkOffsets;
    const auto& n = image.jpegSizes;
    struct Cut {
        size_t size;
        int frames;  // complete frames kept; under 2 the file goes
    };
    const Cut cuts[] = {
        {image.bytes.size(), 5},         // every chunk complete
        {c[4] + 4, 4},                   // inside a chunk's head
        {c[4] + 8, 4},                   // head complete, no JPEG bytes
        {c[4] + 9, 4},                   // inside the JPEG
        {c[4] + 8 + n[4] - 1, 4},        // one byte short of the end marker
        {c[3], 3},                       // exactly at a chunk boundary
        {c[2] + 8 + n[2] / 2, 2},        // in the middle of a picture
        {c[1] + 6, 1},                   // one frame: deleted
        {2560, 0},                       // no frame at all: deleted
    };
    char name[64];
    int second = 0;
    for (const Cut& cut : cuts) {
        std::snprintf(name, sizeof name, "260314_1016%02i.tmp", second++);
        WriteFileBytes(folder.Path() + name, Prefix(image.bytes, cut.size));
    }
    params.speedPlay = 3;
    AviRecorder recorder(registry);

    std::vector<std::string> expected;
    second = 0;
    for (const Cut& cut : cuts) {
        const int index = second++;
        if (cut.frames < 2) continue;
        std::snprintf(name, sizeof name, "260314_1016%02i_%04i.avi", index, cut.frames);
        expected.push_back(name);
        SCOPED_TRACE(name);
        const ProbeResult probe = Probe(folder.Path() + name);
        EXPECT_EQ(probe.codec, "mjpeg");
        EXPECT_EQ(probe.width, 48);
        EXPECT_EQ(probe.height, 32);
        EXPECT_EQ(probe.frames, cut.frames);
        EXPECT_EQ(probe.avgFrameRate, "1000000/333333");
        EXPECT_EQ(probe.decodeMessages, "");
    }
    EXPECT_EQ(folder.Files(), expected);
    // Rebuilt exactly as the normal close writes it.
    EXPECT_EQ(ReadFileBytes(folder.Path() + "260314_101600_0005.avi"), image.closedFile);
}

TEST_F(AviRecoveryTest, KeepsOnlyTheFramesBeforeABrokenPicture) {
    CrashImage image = Record(4, 32, 24);
    // The third picture lost its end marker (a torn write inside the file).
    image.bytes[image.chunkOffsets[2] + 8 + image.jpegSizes[2] - 1] = 0x00;
    WriteFileBytes(folder.Path() + "260314_101700.tmp", image.bytes);
    const RecoveryOutcome outcome = RecoverTemporaryFile(folder.Path() + "260314_101700.tmp", 5);
    EXPECT_EQ(outcome.result, RecoveryResult::kRecovered);
    EXPECT_EQ(outcome.frames, 2);
    EXPECT_EQ(outcome.finalPath, folder.Path() + "260314_101700_0002.avi");
    const auto file = ReadFileBytes(outcome.finalPath);
    EXPECT_EQ(file.size(), image.chunkOffsets[2] + 1 /* pad */ + 8 + 2 * 16);
    EXPECT_EQ(U32At(file, 32), 200000u);
    const ProbeResult probe = Probe(outcome.finalPath);
    EXPECT_EQ(probe.frames, 2);
    EXPECT_EQ(probe.frameRate, "5/1");
    EXPECT_EQ(probe.decodeMessages, "");
}

TEST_F(AviRecoveryTest, LeavesFilesThatAreNotOursUntouched) {
    const CrashImage image = Record(3, 32, 24);
    std::vector<uint8_t> foreign(5000, 'x');
    std::vector<uint8_t> wrongChunk = image.bytes;
    std::memcpy(&wrongChunk[2560], "01wb", 4);
    std::vector<uint8_t> noSize = Prefix(image.bytes, 2560);
    const uint8_t bareJpeg[] = {'0', '0', 'd', 'b', 4, 0, 0, 0, 0xFF, 0xD8, 0xFF, 0xD9};
    noSize.insert(noSize.end(), bareJpeg, bareJpeg + sizeof bareJpeg);
    noSize.insert(noSize.end(), bareJpeg, bareJpeg + sizeof bareJpeg);
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> files = {
        {"notes.tmp", foreign},
        {"260314_101800.tmp", Prefix(image.bytes, 2000)},  // cut inside the header area
        {"260314_101801.tmp", Prefix(image.bytes, 2552)},  // cut inside the "movi" head
        {"260314_101802.tmp", wrongChunk},
        {"260314_101803.tmp", noSize},
        {"empty.tmp", {}},
    };
    for (const auto& [name, bytes] : files) WriteFileBytes(folder.Path() + name, bytes);
    // A link to a real recording elsewhere is not followed.
    TempFolder elsewhere;
    WriteFileBytes(elsewhere.Path() + "target.bin", image.bytes);
    ASSERT_EQ(symlink((elsewhere.Path() + "target.bin").c_str(), (folder.Path() + "link.tmp").c_str()), 0);
    AviRecorder recorder(registry);
    for (const auto& [name, bytes] : files) EXPECT_EQ(ReadFileBytes(folder.Path() + name), bytes) << name;
    EXPECT_EQ(folder.Files().size(), files.size() + 1);
    EXPECT_EQ(ReadFileBytes(elsewhere.Path() + "target.bin"), image.bytes);
}

TEST_F(AviRecoveryTest, ExistingFinalNameKeepsTheRebuiltTemporaryFile) {
    const CrashImage image = Record(3, 32, 24);
    WriteFileBytes(folder.Path() + "260314_101900.tmp", image.bytes);
    WriteFileBytes(folder.Path() + "260314_101900_0003.avi", {'o', 'l', 'd'});
    const RecoveryOutcome outcome = RecoverTemporaryFile(folder.Path() + "260314_101900.tmp", 3);
    EXPECT_EQ(outcome.result, RecoveryResult::kMoveFailed);
    EXPECT_EQ(ReadFileBytes(folder.Path() + "260314_101900_0003.avi").size(), 3u);
    EXPECT_EQ(ReadFileBytes(folder.Path() + "260314_101900.tmp"), image.closedFile);
    // A second pass is harmless: same bytes, still not moved.
    EXPECT_EQ(RecoverTemporaryFile(folder.Path() + "260314_101900.tmp", 3).result, RecoveryResult::kMoveFailed);
    EXPECT_EQ(ReadFileBytes(folder.Path() + "260314_101900.tmp"), image.closedFile);
}

TEST_F(AviRecoveryTest, ScannerSurvivesDamagedInput) {
    const CrashImage image = Record(4, 32, 24);
    std::mt19937 random(7);
    std::vector<uint8_t> index(8 + 16 * 8);
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bytes = image.bytes;
        bytes.resize(2500 + random() % (bytes.size() - 2500 + 1));
        const int flips = 1 + static_cast<int>(random() % 8);
        for (int i = 0; i < flips && !bytes.empty(); ++i) {
            // Mostly hit the chunk heads and JPEG markers, where lengths live.
            const size_t at = random() % 2 ? 2548 + random() % 64 : random() % bytes.size();
            if (at < bytes.size()) bytes[at] = static_cast<uint8_t>(random());
        }
        const MemoryByteSource source(bytes.data(), bytes.size());
        const RecordingScan scan = ScanRecording(source, index.data(), 8);
        ASSERT_LE(scan.endOfFrames, static_cast<int64_t>(bytes.size()));
        ASSERT_LE(scan.frames, 8);
        if (scan.frames > 0) {
            ASSERT_TRUE(scan.ours);
        }
    }
}

}  // namespace
