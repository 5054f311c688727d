// The window's hand-over of pictures to the worker through the picture block.
#include "recording/picture_handover.h"

#include <gtest/gtest.h>

#include <vector>

#include "recording/avi_recorder.h"
#include "recording/mjpeg_params.h"
#include "recording/shot_data.h"

namespace {

TEST(PictureHandover, AHandOverNeedsAFreeBlockAndAMatchingSize) {
    ShotData shot;
    const std::vector<uint8_t> picture(160 * 120 * 3, 7);
    EXPECT_FALSE(HandOverPicture(shot, picture.data(), 160 * 120 * 3 - 3, 160, 120, 1.5, 60, 1));
    EXPECT_EQ(shot.pending.load(), 0) << "a size that disagrees with width x height x 3 is not handed over";
    EXPECT_EQ(shot.frameBytes, 160 * 120 * 3 - 3) << "but it is copied";
    EXPECT_EQ(shot.picture[0], 7);
    EXPECT_EQ(shot.captureTime, 1.5);

    EXPECT_TRUE(HandOverPicture(shot, picture.data(), 160 * 120 * 3, 160, 120, 2.5, 60, 1));
    EXPECT_EQ(shot.pending.load(), 1);
    EXPECT_EQ(shot.quality, 60);
    EXPECT_EQ(shot.recording.load(), 1);
    EXPECT_EQ(shot.frameWidth, 160);
    EXPECT_EQ(shot.frameHeight, 120);

    // While the worker holds the block nothing is written into it.
    const std::vector<uint8_t> other(320 * 240 * 3, 9);
    EXPECT_FALSE(HandOverPicture(shot, other.data(), 320 * 240 * 3, 320, 240, 3.5, 70, 0));
    EXPECT_EQ(shot.frameWidth, 160);
    EXPECT_EQ(shot.picture[0], 7);
    EXPECT_EQ(shot.captureTime, 2.5);
}

// Eight frames a second while recording at SpeedRec 250, a worker that records
// each picture it gets, and a web client asking once in the middle.
TEST(PictureHandover, RecordingHandsOverEveryDuePictureAndAWebClientGetsTheNextFree) {
    ShotData shot;
    MjpegParams params;
    params.quality.store(75);
    params.speedRec.store(250);
    PictureHandover handover(shot, params);
    const std::vector<uint8_t> picture(64 * 48 * 3, 1);
    std::vector<double> given;
    for (int frame = 0; frame < 10; ++frame) {
        const double time = 1.0 + frame * 0.125;
        if (frame == 5) shot.demand.NoteWebRequest();
        if (!handover.Wanted(time, 1, false)) continue;
        ASSERT_TRUE(handover.Give(picture.data(), 64 * 48 * 3, 64, 48, time, 1));
        EXPECT_EQ(shot.quality, 75);
        given.push_back(time);
        // The worker records a due picture and frees the block.
        if (AviRecorder::IsDue(shot.lastWrittenTime, time, 250)) shot.lastWrittenTime = time;
        shot.recording.store(1);
        shot.pending.store(0, std::memory_order_release);
    }
    // 1.0 starts recording, then every 0.25 s; the client asking at 1.625 gets that picture.
    const std::vector<double> expected = {1.0, 1.25, 1.5, 1.625, 1.75, 2.0};
    ASSERT_EQ(given.size(), expected.size()) << ::testing::PrintToString(given);
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_DOUBLE_EQ(given[i], expected[i]);
    EXPECT_EQ(handover.HandedOver(), 6);

    shot.demand.NoteWebRequest();
    ASSERT_TRUE(handover.Wanted(2.25, 1, false));
    ASSERT_TRUE(handover.Give(picture.data(), 64 * 48 * 3, 64, 48, 2.25, 1));
    EXPECT_FALSE(handover.Wanted(2.375, 1, false)) << "the worker still holds the block";
    shot.pending.store(0, std::memory_order_release);
    shot.lastWrittenTime = 2.25;
    EXPECT_FALSE(handover.Wanted(2.375, 1, false)) << "the client was served, the picture is not due";
}

}  // namespace
