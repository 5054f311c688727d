// A picture request finds the published picture stale when nothing wanted
// pictures encoded lately; it then waits, briefly, for the next one.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "recording/picture_demand.h"
#include "web_server_fixture.h"

namespace {

using namespace webtest;
using std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

std::string Picture(const std::vector<uint8_t>& jpeg) {
    return PictureHead(jpeg.size()) + std::string(jpeg.begin(), jpeg.end());
}

// Frames at 30 a second as the window notes them.
void CameraDelivers(ShotData& shot, double& time) {
    for (int i = 0; i < 3; ++i) shot.demand.NoteFrame(time += 1.0 / 30.0, PictureDemand::NowMs());
}

TEST_F(WebServerTest, AStalePictureWaitsForTheNextPublishAtMost250Ms) {
    const std::vector<uint8_t> first = QuarterJpeg(64, 48);
    const std::vector<uint8_t> second = QuarterJpeg(32, 24);
    Publish(first, 64, 48);
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_EQ(Exchange(port, Get("/wwwcam.jpg")).bytes, Picture(first))
        << "no camera: the old picture at once";
    EXPECT_FALSE(shot.demand.Wanted(shot, 1.0, 0, 200)) << "no camera: nothing to wait for, nothing asked";

    double time = 0.0;
    CameraDelivers(shot, time);
    bool wantedWhileWaiting = false;
    std::thread worker([&] {
        std::this_thread::sleep_for(milliseconds(60));
        wantedWhileWaiting = shot.demand.Wanted(shot, time, 0, 200);
        shot.demand.NoteHandedOver();
        Publish(second, 32, 24);
    });
    EXPECT_EQ(Exchange(port, Get("/wwwcam.jpg")).bytes, Picture(second))
        << "the fresh picture, not the stale one";
    worker.join();
    EXPECT_TRUE(wantedWhileWaiting) << "the waiting client asks for the next picture to be encoded";
    EXPECT_FALSE(shot.demand.Wanted(shot, time, 0, 200)) << "and once served, nothing more";

    // Nothing more is published: the newest picture, after the bounded wait.
    std::this_thread::sleep_for(milliseconds(100));
    CameraDelivers(shot, time);
    const auto asked = SteadyClock::now();
    EXPECT_EQ(Exchange(port, Get("/wwwcam.jpg")).bytes, Picture(second));
    const auto waited = std::chrono::duration_cast<milliseconds>(SteadyClock::now() - asked).count();
    EXPECT_GE(waited, WebServer::kFreshPictureWaitMs - 10);
    EXPECT_LT(waited, 5000);
}

}  // namespace
