// What makes the window hand a picture to the worker, and what the web
// server learns from it about the camera.
#include "recording/picture_demand.h"

#include <gtest/gtest.h>

#include "recording/avi_recorder.h"
#include "recording/shot_data.h"

namespace {

constexpr int64_t kNow = 1000000;

TEST(PictureDemand, NothingWantsAPictureUntilAPhotoAWebClientOrAStreamDoes) {
    ShotData shot;
    PictureDemand& demand = shot.demand;
    EXPECT_FALSE(demand.Wanted(shot, 5.0, 0, 200));

    shot.photoRequest.store(1);
    EXPECT_TRUE(demand.Wanted(shot, 5.0, 0, 200));
    shot.photoRequest.store(0);

    demand.NoteWebRequest();
    demand.NoteWebRequest();
    EXPECT_TRUE(demand.Wanted(shot, 5.0, 0, 200));
    EXPECT_TRUE(demand.Wanted(shot, 5.0, 0, 200)) << "a waiting client is served, however late";
    demand.NoteHandedOver();
    EXPECT_FALSE(demand.Wanted(shot, 5.0, 0, 200))
        << "one picture serves every client that asked before it; a served client keeps nothing busy";

    shot.board.AddStreamViewer();
    shot.board.AddStreamViewer();
    shot.board.RemoveStreamViewer();
    EXPECT_TRUE(demand.Wanted(shot, 5.0, 0, 200)) << "one viewer still holds a stream";
    shot.board.RemoveStreamViewer();
    EXPECT_FALSE(demand.Wanted(shot, 5.0, 0, 200));
}

// A due picture the seconds before motion alone want need not be encoded;
// one a photo (or a client) wants too must be.
TEST(PictureDemand, TheSecondsBeforeMotionAloneAreToldApart) {
    ShotData shot;
    bool only = false;
    EXPECT_TRUE(shot.demand.Wanted(shot, 5.0, 0, 200, true, &only));
    EXPECT_TRUE(only);
    shot.photoRequest.store(1);
    EXPECT_TRUE(shot.demand.Wanted(shot, 5.0, 0, 200, true, &only));
    EXPECT_FALSE(only);
}

TEST(PictureDemand, WhileRecordingOnlyPicturesDueByTheRecordersOwnRuleAreWanted) {
    ShotData shot;
    shot.recording.store(1);
    shot.lastWrittenTime = 10.0;
    for (const int32_t speedRec : {0, 200, 500, 1000, 3000}) {
        for (const double time : {9.0, 10.0, 10.1, 10.5, 10.99, 11.0, 11.5, 12.0, 13.0}) {
            EXPECT_EQ(shot.demand.Wanted(shot, time, 1, speedRec),
                      AviRecorder::IsDue(shot.lastWrittenTime, time, speedRec))
                << "SpeedRec " << speedRec << ", picture at " << time;
        }
    }
    EXPECT_FALSE(shot.demand.Wanted(shot, 10.5, 1, 1000));
    EXPECT_TRUE(shot.demand.Wanted(shot, 11.0, 1, 1000));
    shot.recording.store(0);
    EXPECT_FALSE(shot.demand.Wanted(shot, 13.0, 0, 200))
        << "a due picture is wanted only while recording";
}

TEST(PictureDemand, AChangeOfTheRecordingStateIsAlwaysHandedOver) {
    ShotData shot;
    shot.recording.store(1);
    shot.lastWrittenTime = 10.0;
    EXPECT_TRUE(shot.demand.Wanted(shot, 10.1, 0, 1000)) << "the worker must see recording stop";
    shot.recording.store(0);
    EXPECT_FALSE(shot.demand.Wanted(shot, 10.2, 0, 1000));
    shot.lastWrittenTime = 10.2;
    EXPECT_TRUE(shot.demand.Wanted(shot, 10.3, 1, 1000)) << "and start, though not due";
}

TEST(PictureDemand, TheFrameIntervalFollowsTheCameraAndVanishesWhenItFallsSilent) {
    PictureBoard demand(1);
    EXPECT_EQ(demand.FrameIntervalMs(kNow), 0) << "no frame yet";
    for (int i = 0; i < 5; ++i) demand.NoteFrame(100.0 + i / 30.0, kNow + i * 33);
    EXPECT_EQ(demand.FrameIntervalMs(kNow + 140), 33);
    demand.NoteFrame(100.0 + 4 / 30.0 + 0.2, kNow + 365);
    EXPECT_EQ(demand.FrameIntervalMs(kNow + 365), 200) << "a camera that slowed down";
    demand.NoteFrame(500.0, kNow + 400);
    EXPECT_EQ(demand.FrameIntervalMs(kNow + 400), 200) << "a jump of the capture clock is no interval";
    EXPECT_EQ(demand.FrameIntervalMs(kNow + 400 + PictureBoard::kSilentCameraMs + 1), 0);
}

}  // namespace
