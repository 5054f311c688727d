#include "ui/options_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QSlider>

#include <array>

#include "menu_fixture.h"
#include "recording/avi_recorder.h"
#include "recording/h264_file_encoder.h"

using namespace menu_test;

class OptionsDialogTest : public ::testing::Test {
protected:
    int Run(std::function<void(QDialog*)> step) {
        WhenModal(std::move(step));
        OptionsDialog dialog(modules.Settings(), *modules.options);
        return dialog.Run();
    }

    ProgramFolder folder;
    ManualClock clock{1700000000};
    Modules modules{clock};
};

TEST_F(OptionsDialogTest, LimitsAreClampedOnLeavingAField) {
    const int result = Run([](QDialog* d) {
        EXPECT_EQ(Edit(d, "id410")->text(), "500");
        EXPECT_EQ(Edit(d, "id411")->text(), "2");
        TypeAndLeave(Edit(d, "id410"), "100");
        EXPECT_EQ(Edit(d, "id410")->text(), "200");
        TypeAndLeave(Edit(d, "id410"), "99999");
        EXPECT_EQ(Edit(d, "id410")->text(), "60000");
        TypeAndLeave(Edit(d, "id411"), "12");
        EXPECT_EQ(Edit(d, "id411")->text(), "10");
        TypeAndLeave(Edit(d, "id406"), "");
        EXPECT_EQ(Edit(d, "id406")->text(), "10");
        TypeAndLeave(Edit(d, "id407"), "1501");
        EXPECT_EQ(Edit(d, "id407")->text(), "1500");
        TypeAndLeave(Edit(d, "id408"), "30");
        EXPECT_EQ(Edit(d, "id408")->text(), "30");
        Click(d, "id2");
    });
    EXPECT_EQ(result, 0);
    // Cancel drops the working copy.
    EXPECT_EQ(modules.params.Get(kMjpegSpeedRec), 500);
    EXPECT_EQ(modules.params.Get(kMjpegFileMaxTime), 60);
    EXPECT_EQ(modules.settings->GetString("SpeedRec"), "500");
}

TEST_F(OptionsDialogTest, FileLimitAloneGivesOneAndIsSaved) {
    const int result = Run([](QDialog* d) {
        TypeAndLeave(Edit(d, "id406"), "700");
        d->findChild<QCheckBox*>("id403")->click();
        Click(d, "id1");
    });
    EXPECT_EQ(result, OptionsDialog::kAccepted);
    EXPECT_EQ(modules.params.Get(kMjpegFileMaxSize), 700);
    EXPECT_EQ(modules.params.Get(kMjpegEnableFileMaxSize), 1);
    const std::string saved = folder.ReadFile("vistrel.ini");
    EXPECT_NE(saved.find("FileMaxSize 700"), std::string::npos);
    EXPECT_NE(saved.find("EnableFileMaxSize 1"), std::string::npos);
}

TEST_F(OptionsDialogTest, EditStillFocusedAtAcceptIsReadAndSpeedChangeGivesThree) {
    modules.params.Set(kMjpegQuality, 77);
    const int result = Run([](QDialog* d) {
        // Typed, but never left: Accept still reads and clamps it.
        Edit(d, "id411")->setText("50");
        Click(d, "id1");
    });
    EXPECT_EQ(result, OptionsDialog::kAccepted + OptionsDialog::kSpeedChanged);
    EXPECT_EQ(modules.params.Get(kMjpegSpeedPlay), 10);
    EXPECT_EQ(modules.params.Get(kMjpegQuality), 77);
}

TEST_F(OptionsDialogTest, ThresholdAndModeStayAfterCancel) {
    modules.options->SetMode(2);
    const int result = Run([](QDialog* d) {
        auto* slider = d->findChild<QSlider*>("id214");
        EXPECT_EQ(slider->value(), 20);
        EXPECT_EQ(d->findChild<QLabel*>("id402")->text(), "Sensitivity: 20");
        slider->setValue(35);
        EXPECT_EQ(d->findChild<QLabel*>("id402")->text(), "Sensitivity: 35");
        auto* modes = d->findChild<QComboBox*>("id215");
        ASSERT_EQ(modes->count(), 6);
        EXPECT_EQ(modes->currentIndex(), 2);
        EXPECT_EQ(modes->itemText(5), "Timer OR DetectorGo");
        modes->setCurrentIndex(4);
        TypeAndLeave(Edit(d, "id410"), "1000");
        Click(d, "id2");
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(modules.options->Threshold(), 35);
    EXPECT_EQ(modules.settings->GetString("GoDetector"), "35");
    EXPECT_EQ(modules.options->Mode(), 4);
    EXPECT_EQ(modules.settings->GetString("ModeActivation"), "4");
    EXPECT_EQ(modules.params.Get(kMjpegSpeedRec), 500);
}

TEST_F(OptionsDialogTest, ChosenModeAddsFourOnAccept) {
    const int result = Run([](QDialog* d) {
        d->findChild<QComboBox*>("id215")->setCurrentIndex(1);
        Click(d, "id1");
    });
    EXPECT_EQ(result, OptionsDialog::kAccepted + OptionsDialog::kModeChanged);
    EXPECT_EQ(modules.options->Mode(), 1);
}

TEST_F(OptionsDialogTest, WindowIsEditedThroughTheTimeDialog) {
    modules.options->SetWindowStop(3600);
    const int result = Run([](QDialog* d) {
        EXPECT_EQ(d->findChild<QLabel*>("id120")->text(), "01:00:00");
        WhenModal([](QDialog* time) {
            EXPECT_EQ(time->findChild<QLabel*>("id103")->text(), "Input time begin recording.");
            Edit(time, "id112")->setText("23");
            Edit(time, "id113")->setText("59");
            Edit(time, "id114")->setText("59");
            Click(time, "id1");
        });
        Click(d, "id202");
        EXPECT_EQ(d->findChild<QLabel*>("id119")->text(), "23:59:59");
        WhenModal([](QDialog* time) {
            EXPECT_EQ(Edit(time, "id112")->text(), "01");
            Edit(time, "id112")->setText("7");
            Click(time, "id2");
        });
        Click(d, "id203");
        EXPECT_EQ(d->findChild<QLabel*>("id120")->text(), "01:00:00");
        Click(d, "id2");
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(modules.options->WindowStart(), 86399);
    EXPECT_EQ(modules.settings->GetString("TimerStart"), "86399");
    EXPECT_EQ(modules.options->WindowStop(), 3600);
}

TEST_F(OptionsDialogTest, LiveLevelHoldClockAndIndicators) {
    std::array<QPixmap, 3> images;
    const QColor colours[3] = {Qt::black, Qt::red, Qt::darkRed};
    for (int i = 0; i < 3; ++i) {
        images[i] = QPixmap(12, 12);
        images[i].fill(colours[i]);
    }
    modules.settings->SetHandle("_HBITMAPIMAGESTATE", images.data());
    modules.options->SetMode(1);
    const int result = Run([this, &colours](QDialog* d) {
        auto* indicator = d->findChild<QLabel*>("id127");
        EXPECT_TRUE(indicator->pixmap().isNull() ||
                    indicator->pixmap().toImage().pixelColor(5, 5) == colours[0]);
        modules.options->SetLevel(55);
        EXPECT_EQ(d->findChild<QProgressBar*>("id216")->value(), 55);
        EXPECT_EQ(d->findChild<QLabel*>("id401")->text(), "Detector: 55");
        EXPECT_EQ(d->findChild<QLabel*>("id400")->text(), "Hold: 10");
        clock.Advance(1);
        modules.options->Tick();
        EXPECT_EQ(d->findChild<QLabel*>("id400")->text(), "Hold: 9");
        const int t = modules.options->TimeOfDay();
        EXPECT_EQ(d->findChild<QLabel*>("id118")->text(),
                  QString::asprintf("%02i:%02i:%02i", t / 3600, t / 60 % 60, t % 60));
        // Mode 1 records: the lamp is lit, bright or dark by the blink.
        const int state = modules.options->IndicatorState(RecordingOptionsView::kRecordingIndicator);
        ASSERT_GE(state, 1);
        EXPECT_EQ(indicator->pixmap().toImage().pixelColor(5, 5), colours[state]);
        EXPECT_EQ(d->findChild<QLabel*>("id125")->pixmap().toImage().pixelColor(5, 5), colours[state]);
        Click(d, "id2");
    });
    EXPECT_EQ(result, 0);
    // The closed dialog is no longer called.
    modules.options->SetLevel(60);
    clock.Advance(1);
    modules.options->Tick();
}

TEST_F(OptionsDialogTest, IndicatorsStayEmptyWithoutStatusImages) {
    modules.options->SetMode(1);
    Run([this](QDialog* d) {
        clock.Advance(1);
        modules.options->Tick();
        EXPECT_TRUE(d->findChild<QLabel*>("id127")->pixmap().isNull());
        Click(d, "id2");
    });
}

namespace {

// Frames per second of an AVI file, from the main header's microseconds per frame.
uint32_t StreamRate(const std::string& bytes) {
    const std::size_t avih = bytes.find("avih");
    if (avih == std::string::npos || avih + 12 > bytes.size()) return 0;
    uint32_t microSecPerFrame = 0;
    std::memcpy(&microSecPerFrame, bytes.data() + avih + 8, 4);
    return microSecPerFrame ? 1000000 / microSecPerFrame : 0;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

TEST_F(OptionsDialogTest, ChangedSpeedPlaySplitsAndTheNextFileCarriesTheNewRate) {
    AviRecorder recorder(modules.Settings(), clock);
    ShotData& shot = modules.shot;
    // The writer stores the bytes it is given; a real picture is not needed.
    const char jpeg[] = "\xFF\xD8\xFF\xD9";
    std::memcpy(shot.jpeg.get(), jpeg, 4);
    shot.jpegBytes = 4;
    shot.jpegWidth = 16;
    shot.jpegHeight = 16;
    shot.recording.store(1);
    // Files of fewer than two frames are dropped at closing.
    for (double time : {100.0, 101.0}) {
        shot.captureTime = time;
        recorder.WriteFrame(shot);
    }
    ASSERT_EQ(recorder.Frames(), 2);

    FakeHost host;
    host.onSplit = [&recorder] { recorder.CloseFile(); };
    MainMenu menu(modules.Settings(), host);
    WhenModal([](QDialog* d) {
        TypeAndLeave(Edit(d, "id411"), "5");
        Click(d, "id1");
    });
    menu.Command(menu_id::kRecordingOptions);
    ASSERT_FALSE(recorder.IsOpen());
    EXPECT_EQ(StreamRate(ReadAll(recorder.FinalPath())), 2u);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"split", "wake"}));

    clock.Advance(2);
    for (double time : {200.0, 201.0}) {
        shot.captureTime = time;
        recorder.WriteFrame(shot);
    }
    ASSERT_EQ(recorder.Frames(), 2);
    recorder.CloseFile();
    EXPECT_EQ(StreamRate(ReadAll(recorder.FinalPath())), 5u);
}

TEST_F(OptionsDialogTest, WatchSettingsAreClampedAndStoredOnAccept) {
    modules.options->SetMode(RecordingOptions::kModeDetector);
    const int result = Run([](QDialog* d) {
        EXPECT_EQ(Edit(d, "PreRecordSeconds")->text(), "3");
        EXPECT_EQ(Edit(d, "KeepFreeMB")->text(), "0");
        TypeAndLeave(Edit(d, "PreRecordSeconds"), "45");
        EXPECT_EQ(Edit(d, "PreRecordSeconds")->text(), "30");
        TypeAndLeave(Edit(d, "KeepFreeMB"), "50");
        EXPECT_EQ(Edit(d, "KeepFreeMB")->text(), "100");
        TypeAndLeave(Edit(d, "KeepDays"), "9999");
        EXPECT_EQ(Edit(d, "KeepDays")->text(), "3650");
        TypeAndLeave(Edit(d, "KeepDays"), "0");
        EXPECT_EQ(Edit(d, "KeepDays")->text(), "0");
        Edit(d, "OnFileClosed")->setText("  notify-send Vistrel \"$VISTREL_FILE\"  ");
        Click(d, "id1");
    });
    EXPECT_EQ(result, OptionsDialog::kAccepted);
    EXPECT_EQ(modules.options->PreRecordSeconds(), 30);
    EXPECT_EQ(modules.settings->GetString("KeepFreeMB"), "100");
    EXPECT_EQ(modules.settings->GetString("KeepDays"), "0");
    const std::string saved = folder.ReadFile("vistrel.ini");
    EXPECT_NE(saved.find("PreRecordSeconds 30"), std::string::npos);
    EXPECT_NE(saved.find("OnFileClosed notify-send Vistrel \"$VISTREL_FILE\"\n"), std::string::npos);
}

TEST_F(OptionsDialogTest, WatchSettingsAreDroppedOnCancel) {
    Run([](QDialog* d) {
        TypeAndLeave(Edit(d, "PreRecordSeconds"), "10");
        Edit(d, "OnEventStart")->setText("touch started");
        Click(d, "id2");
    });
    EXPECT_EQ(modules.settings->GetString("PreRecordSeconds"), "3");
    EXPECT_EQ(modules.settings->GetString("OnEventStart"), "");
}

TEST_F(OptionsDialogTest, LightGuardBoxActsAtOnceAndIsStored) {
    EXPECT_FALSE(modules.options->Guard().Enabled());
    Run([](QDialog* d) {
        auto* box = d->findChild<QCheckBox*>("lightGuard");
        ASSERT_NE(box, nullptr);
        EXPECT_FALSE(box->isChecked());
        EXPECT_EQ(box->text(), "Ignore changes of lighting");
        box->click();
        Click(d, "id2");
    });
    EXPECT_TRUE(modules.options->Guard().Enabled());
    EXPECT_EQ(modules.settings->GetString("DetectorLightGuard"), "1");
    Run([](QDialog* d) {
        EXPECT_TRUE(d->findChild<QCheckBox*>("lightGuard")->isChecked());
        Click(d, "id2");
    });
}

namespace {
class NamedEncoder final : public H264FileEncoder {
public:
    const char* Name() const override { return "x264enc"; }
    bool Open(const std::string&, int32_t, int32_t, int32_t, std::string&) override { return false; }
    bool Push(const uint8_t*, int32_t, int32_t, double, bool) override { return false; }
    bool Failed(std::string&) override { return false; }
    int64_t Bytes() const override { return 0; }
    bool Close() override { return false; }
};
}  // namespace

TEST_F(OptionsDialogTest, TheFileFormatIsChosenOnAcceptAndTheEncoderIsNamedOrItsLackSaid) {
    NamedEncoder encoder;
    for (const bool installed : {false, true}) {
        if (installed) modules.Settings().SetHandle("_CL_H264Encoder", static_cast<H264FileEncoder*>(&encoder));
        Run([installed](QDialog* d) {
            auto* format = d->findChild<QComboBox*>("RecordingFormat");
            ASSERT_NE(format, nullptr);
            EXPECT_EQ(format->currentIndex(), installed ? 1 : 0);
            const QString note = d->findChild<QLabel*>("RecordingEncoder")->text();
            EXPECT_TRUE(installed ? note.contains("x264enc") : note.contains("AVI is recorded")) << note.toStdString();
            format->setCurrentIndex(1);
            Click(d, "id1");
        });
        EXPECT_EQ(modules.options->RecordingFormat(), 1);
        EXPECT_NE(folder.ReadFile("vistrel.ini").find("RecordingFormat 1"), std::string::npos);
    }
}
