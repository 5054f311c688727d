#include "recording/avi_recorder.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstring>
#include <ctime>
#include <fstream>

#include "core/registry.h"
#include "recording/mjpeg_params.h"
#include "recording/rec_test_support.h"
#include "recording/shot_data.h"

namespace {

constexpr std::time_t kStart = 1773483300;  // 2026-03-14 10:15:00 UTC
constexpr int64_t kPlentyFree = int64_t{1} << 40;

class AviRecorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        ASSERT_FALSE(folder.Path().empty());
        registry.SetHandle("_MJPEG_PARAMS", &params);
        registry.SetText("MoveFilesPath", folder.Path().c_str());
        params.quality = 50;
        params.speedRec = 500;
        params.speedPlay = 3;
        params.fileMaxSize = 200;
        params.fileMaxPages = 500;
        params.fileMaxTime = 60;
    }

    std::unique_ptr<AviRecorder> MakeRecorder() {
        return std::make_unique<AviRecorder>(registry, clock, [this](const char*) { return freeBytes; });
    }

    // Hands one encoded picture to the recorder, as the worker does.
    void Offer(AviRecorder& recorder, const std::vector<uint8_t>& jpeg, int width, int height, double time) {
        std::memcpy(shot.jpeg.get(), jpeg.data(), jpeg.size());
        shot.jpegBytes = static_cast<int32_t>(jpeg.size());
        shot.jpegWidth = width;
        shot.jpegHeight = height;
        shot.captureTime = time;
        recorder.WriteFrame(shot);
    }

    // The worker's turn: close on a limit, then write the picture.
    void Turn(AviRecorder& recorder, const std::vector<uint8_t>& jpeg, int width, int height, double time) {
        if (recorder.NeedsNewFile()) recorder.CloseFile();
        Offer(recorder, jpeg, width, height, time);
    }

    Registry registry{true};
    MjpegParams params;
    TempFolder folder;
    ManualClock clock{kStart};
    int64_t freeBytes = kPlentyFree;
    ShotData shot;
    void SetUpShot() { shot.recording = 1; }
};

void PutU32(std::vector<uint8_t>& bytes, std::size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}
void PutCode(std::vector<uint8_t>& bytes, std::size_t offset, const char* code) {
    std::memcpy(&bytes[offset], code, 4);
}

// The head of a finished file, field by field from the published layout.
std::vector<uint8_t> ExpectedHead(uint32_t fileLength, uint32_t frames, uint32_t width, uint32_t height,
                                  uint32_t microSecPerFrame, uint32_t moviEnd) {
    std::vector<uint8_t> head(2560, 0);
    PutCode(head, 0, "RIFF");
    PutU32(head, 4, fileLength - 8);
    PutCode(head, 8, "AVI ");
    PutCode(head, 12, "LIST");
    PutU32(head, 16, 228);
    PutCode(head, 20, "hdrl");
    PutCode(head, 24, "avih");
    PutU32(head, 28, 56);
    PutU32(head, 32, microSecPerFrame);
    PutU32(head, 36, 10000000);
    PutU32(head, 44, 0x00010010);
    PutU32(head, 48, frames);
    PutU32(head, 56, 1);
    PutU32(head, 64, width);
    PutU32(head, 68, height);
    PutCode(head, 88, "LIST");
    PutU32(head, 92, 152);
    PutCode(head, 96, "strl");
    PutCode(head, 100, "strh");
    PutU32(head, 104, 64);
    PutCode(head, 108, "vids");
    PutCode(head, 112, "MJPG");
    PutU32(head, 128, microSecPerFrame);
    PutU32(head, 132, 1000000);
    PutU32(head, 140, frames);
    PutU32(head, 148, 0xFFFFFFFF);
    PutCode(head, 172, "strf");
    PutU32(head, 176, 68);
    PutU32(head, 180, 68);
    PutU32(head, 184, width);
    PutU32(head, 188, height);
    head[192] = 1;
    head[194] = 24;
    PutCode(head, 196, "MJPG");
    PutU32(head, 200, width * height);
    PutU32(head, 220, 44);
    PutU32(head, 224, 24);
    PutU32(head, 232, 2);
    PutU32(head, 236, 8);
    PutU32(head, 240, 2);
    PutU32(head, 244, 1);
    PutCode(head, 248, "JUNK");
    PutU32(head, 252, 2292);
    PutCode(head, 2548, "LIST");
    PutU32(head, 2552, moviEnd - 2556);
    PutCode(head, 2556, "movi");
    return head;
}

TEST_F(AviRecorderTest, FileIsByteExactAndReadableByFfmpeg) {
    SetUpShot();
    auto recorder = MakeRecorder();
    // Odd total JPEG bytes, so the pad byte must appear.
    std::vector<std::vector<uint8_t>> jpegs = {MakeJpeg(64, 48, 1, true), MakeJpeg(64, 48, 2, false),
                                               MakeJpeg(64, 48, 3, false), MakeJpeg(64, 48, 4, false)};
    for (size_t i = 0; i < jpegs.size(); ++i) Offer(*recorder, jpegs[i], 64, 48, 1.0 + i);
    EXPECT_EQ(recorder->Frames(), 4);
    EXPECT_EQ(recorder->TemporaryPath(), folder.Path() + "260314_101500.tmp");
    recorder->CloseFile();
    EXPECT_FALSE(recorder->IsOpen());

    const std::string path = folder.Path() + "260314_101500_0004.avi";
    ASSERT_EQ(folder.Files(), std::vector<std::string>{"260314_101500_0004.avi"});
    EXPECT_EQ(recorder->FinalPath(), path);
    const std::vector<uint8_t> file = ReadFileBytes(path);

    uint32_t offset = 2560;
    uint32_t dataBytes = 0;
    std::vector<uint32_t> offsets;
    for (const auto& jpeg : jpegs) {
        offsets.push_back(offset);
        ASSERT_EQ(CodeAt(file, offset), "00db");
        ASSERT_EQ(U32At(file, offset + 4), jpeg.size());
        ASSERT_EQ(std::vector<uint8_t>(file.begin() + offset + 8, file.begin() + offset + 8 + jpeg.size()), jpeg);
        offset += 8 + static_cast<uint32_t>(jpeg.size());
        dataBytes += static_cast<uint32_t>(jpeg.size());
    }
    ASSERT_EQ(dataBytes % 2, 1u);
    EXPECT_EQ(file[offset], 1) << "pad byte";
    const uint32_t moviEnd = offset + 1;
    ASSERT_EQ(CodeAt(file, moviEnd), "idx1");
    EXPECT_EQ(U32At(file, moviEnd + 4), 16u * jpegs.size());
    for (size_t i = 0; i < jpegs.size(); ++i) {
        const size_t entry = moviEnd + 8 + 16 * i;
        EXPECT_EQ(CodeAt(file, entry), "00db");
        EXPECT_EQ(U32At(file, entry + 4), 0x10u);
        EXPECT_EQ(U32At(file, entry + 8), offsets[i]);
        EXPECT_EQ(U32At(file, entry + 12), jpegs[i].size());
    }
    ASSERT_EQ(file.size(), moviEnd + 8 + 16 * jpegs.size());

    const std::vector<uint8_t> head(file.begin(), file.begin() + 2560);
    const auto expected = ExpectedHead(static_cast<uint32_t>(file.size()), 4, 64, 48, 333333, moviEnd);
    for (size_t i = 0; i < head.size(); ++i) ASSERT_EQ(head[i], expected[i]) << "head byte " << i;

    const ProbeResult probe = Probe(path);
    EXPECT_EQ(probe.codec, "mjpeg");
    EXPECT_EQ(probe.width, 64);
    EXPECT_EQ(probe.height, 48);
    EXPECT_EQ(probe.frames, 4);
    EXPECT_EQ(probe.avgFrameRate, "1000000/333333");
    EXPECT_EQ(probe.frameRate, "3/1");
    EXPECT_EQ(probe.decodeMessages, "");
}

TEST_F(AviRecorderTest, EvenDataHasNoPadAndBiSizeImageIsWidthTimesHeight) {
    SetUpShot();
    params.speedPlay = 10;
    auto recorder = MakeRecorder();
    const auto a = MakeJpeg(640, 480, 1, false);
    const auto b = MakeJpeg(640, 480, 2, false);
    Offer(*recorder, a, 640, 480, 1);
    Offer(*recorder, b, 640, 480, 2);
    recorder->CloseFile();
    const auto file = ReadFileBytes(folder.Path() + "260314_101500_0002.avi");
    const uint32_t moviEnd = 2560 + 16 + static_cast<uint32_t>(a.size() + b.size());
    EXPECT_EQ(CodeAt(file, moviEnd), "idx1");
    EXPECT_EQ(U32At(file, 2552), moviEnd - 2556);
    EXPECT_EQ(U32At(file, 200), 307200u);
    EXPECT_EQ(U32At(file, 32), 100000u);
    const ProbeResult probe = Probe(folder.Path() + "260314_101500_0002.avi");
    EXPECT_EQ(probe.frames, 2);
    EXPECT_EQ(probe.frameRate, "10/1");
    EXPECT_EQ(probe.decodeMessages, "");
}

TEST_F(AviRecorderTest, FilesUnderTwoFramesAreDeletedWithoutTouchingOthers) {
    SetUpShot();
    auto recorder = MakeRecorder();
    const auto jpeg = MakeJpeg(32, 24, 1);
    // An unrelated file that carries the name a one-frame file would get.
    WriteFileBytes(folder.Path() + "260314_101500_0001.avi", {'k', 'e', 'e', 'p'});
    recorder->CloseFile();  // nothing open: nothing happens
    Offer(*recorder, jpeg, 32, 24, 1);
    ASSERT_TRUE(recorder->IsOpen());
    recorder->CloseFile();
    EXPECT_EQ(folder.Files(), std::vector<std::string>{"260314_101500_0001.avi"});
    EXPECT_EQ(ReadFileBytes(folder.Path() + "260314_101500_0001.avi").size(), 4u);

    clock.Advance(1);
    Offer(*recorder, jpeg, 32, 24, 2);
    Offer(*recorder, jpeg, 32, 24, 3);
    recorder->CloseFile();
    EXPECT_EQ(folder.Files(), (std::vector<std::string>{"260314_101500_0001.avi", "260314_101501_0002.avi"}));
}

TEST_F(AviRecorderTest, ExistingFinalNameLeavesTheTemporaryFile) {
    SetUpShot();
    auto recorder = MakeRecorder();
    const auto jpeg = MakeJpeg(32, 24, 1);
    WriteFileBytes(folder.Path() + "260314_101500_0002.avi", {'o', 'l', 'd'});
    Offer(*recorder, jpeg, 32, 24, 1);
    Offer(*recorder, jpeg, 32, 24, 2);
    recorder->CloseFile();
    EXPECT_EQ(folder.Files(), (std::vector<std::string>{"260314_101500.tmp", "260314_101500_0002.avi"}));
    EXPECT_EQ(ReadFileBytes(folder.Path() + "260314_101500_0002.avi").size(), 3u);
    // The kept file is finished: its header is in place.
    EXPECT_EQ(CodeAt(ReadFileBytes(folder.Path() + "260314_101500.tmp"), 0), "RIFF");

    // A new file in the same second does not truncate the kept one.
    Offer(*recorder, jpeg, 32, 24, 3);
    EXPECT_FALSE(recorder->IsOpen());
    clock.Advance(1);
    Offer(*recorder, jpeg, 32, 24, 4);
    EXPECT_TRUE(recorder->IsOpen());
}

TEST_F(AviRecorderTest, FrameLimitGivesElevenFrames) {
    SetUpShot();
    params.enableFileMaxPages = 1;
    params.fileMaxPages = 10;
    auto recorder = MakeRecorder();
    const auto jpeg = MakeJpeg(32, 24, 1);
    for (int i = 1; i <= 25; ++i) {
        clock.Advance(1);
        Turn(*recorder, jpeg, 32, 24, i);
    }
    recorder->CloseFile();
    const auto files = folder.Files();
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0], "260314_101501_0011.avi");
    EXPECT_EQ(files[1], "260314_101512_0011.avi");
    EXPECT_EQ(files[2], "260314_101523_0003.avi");
    EXPECT_EQ(Probe(folder.Path() + files[1]).frames, 11);
}

TEST_F(AviRecorderTest, SizeLimitIsPassedByAtMostOnePicture) {
    SetUpShot();
    params.enableFileMaxSize = 1;
    params.fileMaxSize = 10;
    auto recorder = MakeRecorder();
    std::vector<uint8_t> big(921600, 0x55);  // the recorder does not look inside the bytes
    for (int i = 1; i <= 11; ++i) Offer(*recorder, big, 640, 480, i);
    EXPECT_FALSE(recorder->NeedsNewFile()) << "11 x 921600 is below 10 MiB";
    Offer(*recorder, big, 640, 480, 12);
    EXPECT_TRUE(recorder->NeedsNewFile());

    params.enableFileMaxSize = 0;  // the 1500 MiB ceiling applies instead
    EXPECT_FALSE(recorder->NeedsNewFile());
}

TEST_F(AviRecorderTest, TimeLimitCountsFromTheOpening) {
    SetUpShot();
    params.enableFileMaxTime = 1;
    params.fileMaxTime = 10;
    auto recorder = MakeRecorder();
    const auto jpeg = MakeJpeg(32, 24, 1);
    Offer(*recorder, jpeg, 32, 24, 1);
    clock.Advance(600);
    EXPECT_FALSE(recorder->NeedsNewFile());
    clock.Advance(1);
    EXPECT_TRUE(recorder->NeedsNewFile());
    params.enableFileMaxTime = 0;
    EXPECT_FALSE(recorder->NeedsNewFile());
}

TEST_F(AviRecorderTest, LowDiskSpaceClosesOnlyAnOpenFile) {
    SetUpShot();
    auto recorder = MakeRecorder();
    freeBytes = 0;
    EXPECT_FALSE(recorder->NeedsNewFile()) << "no file open";
    freeBytes = 100 * 1048576;
    Offer(*recorder, MakeJpeg(32, 24, 1), 32, 24, 1);
    EXPECT_FALSE(recorder->NeedsNewFile());
    freeBytes = 100 * 1048576 - 1;
    EXPECT_TRUE(recorder->NeedsNewFile());
    freeBytes = -1;  // the query failed: recording goes on
    EXPECT_FALSE(recorder->NeedsNewFile());

    // The real query answers for a real folder and fails for a missing one.
    EXPECT_GT(AvailableSpace(folder.Path().c_str()), 0);
    EXPECT_EQ(AvailableSpace((folder.Path() + "missing/").c_str()), -1);
}

TEST_F(AviRecorderTest, SpeedRecCountsMillisecondsInEitherDirection) {
    SetUpShot();
    auto recorder = MakeRecorder();
    const auto jpeg = MakeJpeg(32, 24, 1);
    // Pictures every 0.2 s for 5 s with SpeedRec 500: two per second.
    for (int k = 0; k <= 25; ++k) Offer(*recorder, jpeg, 32, 24, k / 5.0);
    EXPECT_EQ(recorder->Frames(), 10);
    EXPECT_DOUBLE_EQ(shot.lastWrittenTime, 5.0);

    // The capture clock restarted: the gap is taken as its absolute value.
    Offer(*recorder, jpeg, 32, 24, 4.6);
    EXPECT_EQ(recorder->Frames(), 10);
    Offer(*recorder, jpeg, 32, 24, 4.4);
    EXPECT_EQ(recorder->Frames(), 11);
    EXPECT_DOUBLE_EQ(shot.lastWrittenTime, 4.4);

    // 1500 ms is not rounded to whole seconds.
    params.speedRec = 1500;
    Offer(*recorder, jpeg, 32, 24, 5.8);
    EXPECT_EQ(recorder->Frames(), 11);
    Offer(*recorder, jpeg, 32, 24, 6.0);
    EXPECT_EQ(recorder->Frames(), 12);

    // Nothing encoded yet: nothing is written.
    Offer(*recorder, jpeg, 0, 0, 200);
    EXPECT_EQ(recorder->Frames(), 12);
}

// ffprobe's duration of a file, in seconds; -1 when it does not say.
double ProbeDuration(const std::string& path) {
    const std::string out =
        RunCommand("ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 '" + path + "'");
    return out.empty() ? -1.0 : std::atof(out.c_str());
}

TEST_F(AviRecorderTest, SpeedRecGivesItsRateOverAMinuteOfPictures) {
    SetUpShot();
    params.speedPlay = 2;
    auto recorder = MakeRecorder();
    const auto jpeg = MakeJpeg(32, 24, 1);
    for (const int speedRec : {200, 500, 1500}) {
        SCOPED_TRACE(speedRec);
        params.speedRec = speedRec;
        shot.lastWrittenTime = 0;
        // A camera at 30 pictures per second for 60 s.
        for (int k = 0; k < 1800; ++k) Offer(*recorder, jpeg, 32, 24, 10.0 + k / 30.0);
        const double expected = 60000.0 / speedRec;
        EXPECT_NEAR(recorder->Frames(), expected, 1.0);
        const int frames = recorder->Frames();
        recorder->CloseFile();
        const ProbeResult probe = Probe(recorder->FinalPath());
        EXPECT_EQ(probe.frames, frames);
        if (speedRec == 500) {
            // The default interval at the default playback rate plays in real time.
            EXPECT_NEAR(ProbeDuration(recorder->FinalPath()), 60.0, 0.5);
        }
        clock.Advance(1);
    }
}

TEST_F(AviRecorderTest, APauseFinishesTheFileAndTheNextActivePeriodStartsAnother) {
    SetUpShot();
    auto recorder = MakeRecorder();
    const auto jpeg = MakeJpeg(32, 24, 1);
    for (int k = 1; k <= 3; ++k) Offer(*recorder, jpeg, 32, 24, k);
    // The detector's hold ended: the very next picture closes the file.
    shot.recording = 0;
    Offer(*recorder, jpeg, 32, 24, 4);
    EXPECT_FALSE(recorder->IsOpen());
    EXPECT_EQ(folder.Files(), std::vector<std::string>{"260314_101500_0003.avi"});
    EXPECT_EQ(Probe(folder.Path() + "260314_101500_0003.avi").frames, 3);

    clock.Advance(3600);
    shot.recording = 1;
    for (int k = 5; k <= 6; ++k) Offer(*recorder, jpeg, 32, 24, 3600 + k);
    shot.recording = 0;
    Offer(*recorder, jpeg, 32, 24, 3607);
    EXPECT_EQ(folder.Files(), (std::vector<std::string>{"260314_101500_0003.avi", "260314_111500_0002.avi"}));
}

TEST_F(AviRecorderTest, SizeChangeClosesTheFile) {
    SetUpShot();
    auto recorder = MakeRecorder();
    const auto large = MakeJpeg(64, 48, 1);
    const auto small = MakeJpeg(32, 24, 2);
    for (int i = 1; i <= 3; ++i) Offer(*recorder, large, 64, 48, i);
    clock.Advance(5);
    Offer(*recorder, small, 32, 24, 4);
    Offer(*recorder, small, 32, 24, 5);
    EXPECT_EQ(recorder->Width(), 32);
    EXPECT_EQ(recorder->Frames(), 2);
    recorder->CloseFile();
    EXPECT_EQ(folder.Files(), (std::vector<std::string>{"260314_101500_0003.avi", "260314_101505_0002.avi"}));
    const ProbeResult first = Probe(folder.Path() + "260314_101500_0003.avi");
    EXPECT_EQ(first.width, 64);
    EXPECT_EQ(first.frames, 3);
    const ProbeResult second = Probe(folder.Path() + "260314_101505_0002.avi");
    EXPECT_EQ(second.width, 32);
    EXPECT_EQ(second.height, 24);
    EXPECT_EQ(second.decodeMessages, "");
}

TEST_F(AviRecorderTest, FullIndexDropsFurtherFrames) {
    SetUpShot();
    params.speedRec = 200;
    auto recorder = MakeRecorder();
    const auto jpeg = MakeJpeg(16, 16, 1);
    for (int i = 1; i <= AviRecorder::kMaxFrames + 2; ++i) Offer(*recorder, jpeg, 16, 16, i);
    EXPECT_EQ(recorder->Frames(), AviRecorder::kMaxFrames);
    recorder->CloseFile();
    const auto path = folder.Path() + "260314_101500_200000.avi";
    const auto file = ReadFileBytes(path);
    const size_t moviEnd = 2560 + static_cast<size_t>(AviRecorder::kMaxFrames) * (8 + jpeg.size()) + jpeg.size() % 2;
    ASSERT_EQ(CodeAt(file, moviEnd), "idx1");
    EXPECT_EQ(U32At(file, moviEnd + 4), 16u * AviRecorder::kMaxFrames);
    EXPECT_EQ(file.size(), moviEnd + 8 + 16 * static_cast<size_t>(AviRecorder::kMaxFrames));
    EXPECT_EQ(U32At(file, 48), static_cast<uint32_t>(AviRecorder::kMaxFrames));
    const std::string count = RunCommand("ffprobe -v error -select_streams v:0 -count_packets -show_entries "
                                         "stream=nb_read_packets -of csv=p=0 '" + path + "'");
    EXPECT_EQ(count, "200000\n");
}

// Lowers the file-size limit of the process, so writes past it fail as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit lowered = previous_;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }

private:
    rlimit previous_{};
    void (*previousHandler_)(int);
};

TEST_F(AviRecorderTest, ShortIndexWriteKeepsTheTemporaryFileAndGoesOn) {
    SetUpShot();
    auto recorder = MakeRecorder();
    const auto jpeg = MakeJpeg(32, 24, 1, false);
    for (int i = 1; i <= 3; ++i) Offer(*recorder, jpeg, 32, 24, i);
    const std::string tmp = recorder->TemporaryPath();
    {
        const FileSizeLimit limit(2560 + 3 * (8 + jpeg.size()) + 10);
        recorder->CloseFile();
    }
    EXPECT_FALSE(recorder->IsOpen());
    EXPECT_EQ(folder.Files(), std::vector<std::string>{"260314_101500.tmp"});

    // The next due picture opens a new file.
    clock.Advance(1);
    Offer(*recorder, jpeg, 32, 24, 4);
    Offer(*recorder, jpeg, 32, 24, 5);
    recorder->CloseFile();
    EXPECT_EQ(folder.Files(), (std::vector<std::string>{"260314_101500.tmp", "260314_101501_0002.avi"}));

    // The next start rebuilds the kept file with all three frames.
    recorder.reset();
    recorder = MakeRecorder();
    EXPECT_EQ(folder.Files(), (std::vector<std::string>{"260314_101500_0003.avi", "260314_101501_0002.avi"}));
    const ProbeResult probe = Probe(folder.Path() + "260314_101500_0003.avi");
    EXPECT_EQ(probe.frames, 3);
    EXPECT_EQ(probe.decodeMessages, "");
}

TEST_F(AviRecorderTest, FailedFrameWriteFinishesWhatWasWritten) {
    SetUpShot();
    auto recorder = MakeRecorder();
    const auto jpeg = MakeJpeg(32, 24, 1, false);
    Offer(*recorder, jpeg, 32, 24, 1);
    Offer(*recorder, jpeg, 32, 24, 2);
    {
        // Room for a partial third chunk, and for the index after cutting it off.
        const FileSizeLimit limit(2560 + 2 * (8 + jpeg.size()) + 8 + 2 * 16 + 20);
        Offer(*recorder, jpeg, 32, 24, 3);
    }
    EXPECT_FALSE(recorder->IsOpen());
    EXPECT_EQ(folder.Files(), std::vector<std::string>{"260314_101500_0002.avi"});
    const ProbeResult probe = Probe(folder.Path() + "260314_101500_0002.avi");
    EXPECT_EQ(probe.frames, 2);
    EXPECT_EQ(probe.decodeMessages, "");
}

TEST_F(AviRecorderTest, UncreatableFileDropsThePictureAndRetries) {
    SetUpShot();
    registry.SetText("MoveFilesPath", (folder.Path() + "missing/").c_str());
    auto recorder = MakeRecorder();
    const auto jpeg = MakeJpeg(32, 24, 1);
    Offer(*recorder, jpeg, 32, 24, 1);
    EXPECT_FALSE(recorder->IsOpen());
    EXPECT_EQ(recorder->Width(), 0);
    ASSERT_EQ(mkdir((folder.Path() + "missing").c_str(), 0700), 0);
    Offer(*recorder, jpeg, 32, 24, 2);
    EXPECT_TRUE(recorder->IsOpen());
    EXPECT_EQ(recorder->TemporaryPath(), folder.Path() + "missing/260314_101500.tmp");
}

}  // namespace

namespace {

TEST_F(AviRecorderTest, StatusNamesTheCauseWhilePicturesCannotBeStoredAndClearsWhenItGoes) {
    SetUpShot();
    auto recorder = MakeRecorder();
    RecordingStatus& status = recorder->Status();
    const auto jpeg = MakeJpeg(32, 24, 1);
    Offer(*recorder, jpeg, 32, 24, 1);
    Offer(*recorder, jpeg, 32, 24, 2);
    EXPECT_EQ(status.Read().fileName, "260314_101500.tmp");
    EXPECT_EQ(status.Read().frames, 2);

    // Under the limit: the open file is finished whole and no new one is begun.
    freeBytes = 50 * 1048576;
    EXPECT_TRUE(recorder->NeedsNewFile());
    recorder->CloseFile();
    clock.Advance(1);
    Offer(*recorder, jpeg, 32, 24, 3);
    EXPECT_FALSE(recorder->IsOpen());
    RecordingStatus::Snapshot seen = status.Read();
    EXPECT_EQ(seen.failure, RecordingFailure::kNoSpace);
    EXPECT_EQ(seen.failureFolder, folder.Path());
    EXPECT_EQ(seen.freeBytes, 50 * 1048576);
    EXPECT_EQ(seen.fileName, "");
    EXPECT_EQ(folder.Files(), std::vector<std::string>{"260314_101500_0002.avi"});

    // Space freed: the next due picture records again and the cause clears.
    freeBytes = kPlentyFree;
    Offer(*recorder, jpeg, 32, 24, 4);
    EXPECT_TRUE(recorder->IsOpen());
    EXPECT_EQ(status.Read().failure, RecordingFailure::kNone);

    // A folder where no file can be made.
    recorder->CloseFile();
    registry.SetText("MoveFilesPath", (folder.Path() + "missing/").c_str());
    Offer(*recorder, jpeg, 32, 24, 5);
    seen = status.Read();
    EXPECT_EQ(seen.failure, RecordingFailure::kNotWritable);
    EXPECT_EQ(seen.failureFolder, folder.Path() + "missing/");
    status.SetActivity(true, RecordingIdle::kRecording);
    EXPECT_TRUE(status.Blocked());
    // Recording turned inactive: nothing is in the way any more.
    shot.recording = 0;
    Offer(*recorder, jpeg, 32, 24, 6);
    EXPECT_EQ(status.Read().failure, RecordingFailure::kNone);
    EXPECT_FALSE(status.Blocked());
}

}  // namespace
