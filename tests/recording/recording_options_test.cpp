#include "recording/recording_options.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "core/event_commands.h"
#include "core/registry.h"
#include "recording/mjpeg_params.h"
#include "recording/rec_test_support.h"

namespace {

constexpr std::time_t kMidnight = 1773446400;  // 2026-03-14 00:00:00 UTC

struct ViewLog : RecordingOptionsView {
    std::vector<int32_t> holds;
    std::vector<int32_t> levels;
    std::vector<int32_t> times;
    std::vector<std::pair<int, int32_t>> indicators;
    void HoldChanged(int32_t hold) override { holds.push_back(hold); }
    void LevelChanged(int32_t level) override { levels.push_back(level); }
    void TimeOfDayChanged(int32_t seconds) override { times.push_back(seconds); }
    void IndicatorChanged(Indicator which, int32_t state) override { indicators.emplace_back(which, state); }
};

class RecordingOptionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        registry.SetHandle("_MJPEG_PARAMS", &params);
    }
    // Four timer ticks per clock second.
    void TickSeconds(RecordingOptions& options, int seconds) {
        for (int s = 0; s < seconds; ++s) {
            clock.Advance(1);
            for (int t = 0; t < 4; ++t) options.Tick();
        }
    }
    // Recording active at a time of day, with or without a detector hit just before.
    int32_t ActiveAt(RecordingOptions& options, int32_t timeOfDay, bool detector) {
        clock.Set(kMidnight + timeOfDay);
        if (detector) options.SetLevel(100);
        options.Tick();
        const int32_t active = options.RecordingActive();
        // Let the hold run out for the next question.
        for (int s = 1; s <= 11; ++s) {
            clock.Set(kMidnight + timeOfDay + 100 * s);
            options.Tick();
        }
        return active;
    }

    Registry registry{true};
    MjpegParams params;
    ManualClock clock{kMidnight};
};

TEST_F(RecordingOptionsTest, LoadsSettingsWithTheirRangesIntoTheSharedBlock) {
    registry.SetText("SpeedRec", "100");      // below range: default
    registry.SetText("SpeedPlay", "10");      // at the top edge: kept
    registry.SetText("FileMaxPages", "abc");  // reads as 0: default
    registry.SetText("GoDetector", "101");
    registry.SetText("ModeActivation", "5");
    params.quality = 77;
    RecordingOptions options(registry, clock);
    EXPECT_EQ(registry.Find<RecordingOptions>("_CL_Options"), &options);
    EXPECT_EQ(params.quality.load(), 77) << "the camera's field is left alone";
    EXPECT_EQ(params.speedRec.load(), 500);
    EXPECT_EQ(params.speedPlay.load(), 10);
    EXPECT_EQ(params.fileMaxSize.load(), 200);
    EXPECT_EQ(params.fileMaxPages.load(), 500);
    EXPECT_EQ(params.fileMaxTime.load(), 60);
    EXPECT_EQ(params.enableFileMaxSize.load() + params.enableFileMaxPages.load() + params.enableFileMaxTime.load(), 0);
    EXPECT_EQ(registry.GetString("SpeedRec"), "500");
    EXPECT_EQ(registry.GetString("FileMaxPages"), "500");
    EXPECT_EQ(registry.GetString("TimerStart"), "0");
    EXPECT_EQ(options.Threshold(), 20);
    EXPECT_EQ(options.Mode(), 5);
    EXPECT_EQ(options.RecordingActive(), 0) << "nothing until the first tick";
}

TEST_F(RecordingOptionsTest, DetectorHoldsNineToTenSecondsAfterTheLastHit) {
    registry.SetInt("ModeActivation", RecordingOptions::kModeDetector);
    RecordingOptions options(registry, clock);
    ViewLog view;
    options.SetView(&view);
    TickSeconds(options, 1);
    EXPECT_EQ(options.RecordingActive(), 0);

    options.Tick();
    options.SetLevel(19);
    options.Tick();
    EXPECT_EQ(options.RecordingActive(), 0) << "below the threshold of 20";

    options.SetLevel(20);  // late in the second: 9 seconds and a bit remain
    EXPECT_EQ(options.Hold(), 10);
    int activeSeconds = 0;
    for (int s = 0; s < 12; ++s) {
        options.Tick();
        if (options.RecordingActive()) ++activeSeconds;
        TickSeconds(options, 1);
    }
    EXPECT_EQ(activeSeconds, 10) << "active in the hit's second and the nine after it";
    EXPECT_EQ(options.Hold(), 0);
    EXPECT_EQ(view.holds, (std::vector<int32_t>{10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0}));
    EXPECT_EQ(view.levels, (std::vector<int32_t>{19, 20}));

    // A new hit restarts the hold.
    options.SetLevel(50);
    TickSeconds(options, 5);
    options.SetLevel(50);
    TickSeconds(options, 9);
    EXPECT_EQ(options.RecordingActive(), 1);
    TickSeconds(options, 1);
    EXPECT_EQ(options.RecordingActive(), 0);
}

TEST_F(RecordingOptionsTest, ThresholdEdges) {
    RecordingOptions options(registry, clock);
    options.SetThreshold(0);
    EXPECT_EQ(registry.GetString("GoDetector"), "0");
    options.SetLevel(0);
    EXPECT_EQ(options.Hold(), 10) << "threshold 0: every picture fires";

    options.SetThreshold(100);
    TickSeconds(options, 10);
    options.SetLevel(99);
    EXPECT_EQ(options.Hold(), 0);
    options.SetLevel(100);
    EXPECT_EQ(options.Hold(), 10);
}

TEST_F(RecordingOptionsTest, DayWindowOpensAfterItsStartAndIncludesItsStop) {
    registry.SetInt("ModeActivation", RecordingOptions::kModeTimer);
    registry.SetInt("TimerStart", 28800);
    registry.SetInt("TimerStop", 61200);
    RecordingOptions options(registry, clock);
    const std::pair<int32_t, int32_t> day[] = {{0, 0},         {28799, 0}, {28800, 0}, {28801, 1},
                                               {45000, 1},     {61200, 1}, {61201, 0}, {86399, 0}};
    for (const auto& [time, open] : day) {
        clock.Set(kMidnight + time);
        options.Tick();
        EXPECT_EQ(options.TimeOfDay(), time);
        EXPECT_EQ(options.InWindow(), open) << time;
        EXPECT_EQ(options.RecordingActive(), open) << time;
    }

    options.SetWindowStart(79200);  // 22:00 to 06:00, across midnight
    options.SetWindowStop(21600);
    EXPECT_EQ(registry.GetString("TimerStart"), "79200");
    const std::pair<int32_t, int32_t> night[] = {{79199, 0}, {79200, 0}, {79201, 1}, {86399, 1}, {0, 1},
                                                 {21599, 1}, {21600, 1}, {21601, 0}, {50000, 0}};
    for (const auto& [time, open] : night) {
        clock.Set(kMidnight + 86400 + time);
        options.Tick();
        EXPECT_EQ(options.InWindow(), open) << time;
    }
}

TEST_F(RecordingOptionsTest, EveryModeCombinesDetectorAndWindowAsDocumented) {
    registry.SetInt("TimerStart", 28800);
    registry.SetInt("TimerStop", 61200);
    RecordingOptions options(registry, clock);
    const int32_t inside = 40000, outside = 70000;
    // Expected for {no detector outside, detector outside, no detector inside, detector inside}.
    const int32_t table[6][4] = {{0, 0, 0, 0}, {1, 1, 1, 1}, {0, 1, 0, 1},
                                 {0, 0, 1, 1}, {0, 0, 0, 1}, {0, 1, 1, 1}};
    for (int32_t mode = 0; mode < 6; ++mode) {
        options.SetMode(mode);
        EXPECT_EQ(registry.GetString("ModeActivation"), std::to_string(mode));
        EXPECT_EQ(ActiveAt(options, outside, false), table[mode][0]) << "mode " << mode;
        EXPECT_EQ(ActiveAt(options, outside, true), table[mode][1]) << "mode " << mode;
        EXPECT_EQ(ActiveAt(options, inside, false), table[mode][2]) << "mode " << mode;
        EXPECT_EQ(ActiveAt(options, inside, true), table[mode][3]) << "mode " << mode;
    }

    // Equal start and stop: an empty window, so only the detector can record.
    options.SetWindowStart(0);
    options.SetWindowStop(0);
    for (int32_t time : {0, 1, 43200, 86399}) {
        options.SetMode(RecordingOptions::kModeTimer);
        EXPECT_EQ(ActiveAt(options, time, true), 0);
        options.SetMode(RecordingOptions::kModeTimerAndDetector);
        EXPECT_EQ(ActiveAt(options, time, true), 0);
        options.SetMode(RecordingOptions::kModeTimerOrDetector);
        EXPECT_EQ(ActiveAt(options, time, false), 0);
        EXPECT_EQ(ActiveAt(options, time, true), 1);
    }

    // The menu switching activation off clears the output at once.
    options.SetMode(RecordingOptions::kModeAlways);
    options.Tick();
    ASSERT_EQ(options.RecordingActive(), 1);
    options.SetMode(RecordingOptions::kModeOff);
    options.ClearRecordingActive();
    EXPECT_EQ(options.RecordingActive(), 0);
}

TEST_F(RecordingOptionsTest, BlinkFlipsEveryThirdTickAndDrivesTheIndicators) {
    registry.SetInt("ModeActivation", RecordingOptions::kModeAlways);
    RecordingOptions options(registry, clock);
    ViewLog view;
    options.SetView(&view);
    std::vector<int32_t> blinks;
    for (int i = 0; i < 9; ++i) {
        options.Tick();
        blinks.push_back(options.Blink());
    }
    EXPECT_EQ(blinks, (std::vector<int32_t>{0, 0, 1, 1, 1, 0, 0, 0, 1}));
    EXPECT_EQ(options.IndicatorState(RecordingOptionsView::kRecordingIndicator), 2);
    EXPECT_EQ(options.IndicatorState(RecordingOptionsView::kDetectorIndicator), 0);
    EXPECT_EQ(options.IndicatorState(RecordingOptionsView::kTimerIndicator), 0);
    // Only changes reach the dialog.
    using Entry = std::pair<int, int32_t>;
    const int rec = RecordingOptionsView::kRecordingIndicator;
    EXPECT_EQ(view.indicators, (std::vector<Entry>{{rec, 1}, {rec, 2}, {rec, 1}, {rec, 2}}));
    EXPECT_EQ(view.times.size(), 1u) << "the clock label changes once per second, not per tick";
}

TEST_F(RecordingOptionsTest, WorkingCopyIsClampedAndAppliedOnAccept) {
    RecordingOptions options(registry, clock);
    params.quality = 60;
    options.OpenDialog();
    EXPECT_EQ(options.Working(kMjpegSpeedRec), 500);
    EXPECT_EQ(options.SetWorking(kMjpegSpeedRec, 100), 200);
    EXPECT_EQ(options.SetWorking(kMjpegSpeedRec, 99999), 60000);
    EXPECT_EQ(options.SetWorking(kMjpegSpeedPlay, 12), 10);
    EXPECT_EQ(options.SetWorking(kMjpegEnableFileMaxPages, 1), 1);
    EXPECT_EQ(options.AcceptWorkingCopy(), RecordingOptions::kAccepted | RecordingOptions::kSpeedChanged);
    EXPECT_EQ(params.speedRec.load(), 60000);
    EXPECT_EQ(params.speedPlay.load(), 10);
    EXPECT_EQ(params.enableFileMaxPages.load(), 1);
    EXPECT_EQ(params.quality.load(), 60);
    EXPECT_EQ(registry.GetString("SpeedRec"), "60000");
    EXPECT_EQ(registry.GetString("EnableFileMaxPages"), "1");

    options.OpenDialog();
    options.SetWorking(kMjpegFileMaxTime, 30);
    EXPECT_EQ(options.AcceptWorkingCopy(), RecordingOptions::kAccepted) << "a limit alone needs no new file";

    options.OpenDialog();
    options.SetMode(RecordingOptions::kModeTimer);
    EXPECT_EQ(options.AcceptWorkingCopy(), RecordingOptions::kAccepted | RecordingOptions::kModeChanged);
}

// An event is recording active in a detector mode: its start carries the level, its end follows the hold.
TEST_F(RecordingOptionsTest, DetectorRecordingStartsAndEndsAnEventForTheCommands) {
    TempFolder folder;
    const std::string out = folder.Path() + "events.txt";
    registry.SetText("OnEventStart", ("echo \"$VISTREL_EVENT $VISTREL_LEVEL\" >> " + out).c_str());
    registry.SetText("OnEventEnd", ("echo \"$VISTREL_EVENT\" >> " + out).c_str());
    registry.SetInt("ModeActivation", RecordingOptions::kModeDetector);
    EventCommands events(registry);
    RecordingOptions options(registry, clock);
    TickSeconds(options, 2);
    options.SetLevel(77);
    TickSeconds(options, 1);
    ASSERT_TRUE(events.WaitIdle(10000));  // the two commands one after the other, as real events are
    TickSeconds(options, 11);
    ASSERT_TRUE(events.WaitIdle(10000));
    options.SetMode(RecordingOptions::kModeAlways);  // recording, but no detector event
    TickSeconds(options, 2);
    ASSERT_TRUE(events.WaitIdle(10000));
    std::ifstream in(out);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "EventStart 77\nEventEnd\n");
}

}  // namespace
