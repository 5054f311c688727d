// The camera settings dialog: what each change returns, stores and saves.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "core/language_table.h"
#include "core/message_poster.h"
#include "core/settings_file.h"
#include "recording/mjpeg_params.h"
#include "ui/camera_dialog.h"
#include "ui/ui_test_support.h"
#include "video/frame_exchange.h"
#include "video/video_capture.h"

namespace {

class NoWindow final : public MessagePoster {
public:
    void Post(uint32_t, uintptr_t, intptr_t) override {}
};

class CameraDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        settings_ = std::make_unique<SettingsFile>();
        settings_->SetHandle("_MainHwnd", static_cast<MessagePoster*>(&window_));
        language_ = std::make_unique<LanguageTable>(*settings_);
        settings_->SetHandle("_MJPEG_PARAMS", &params_);
        settings_->SetInt("_VideoDataMsg", static_cast<int32_t>(kVideoDataMessage));
        frames_ = std::make_unique<FrameExchange>(*settings_);
        capture_ = std::make_unique<VideoCapture>(*settings_);
        camera_ = std::make_unique<CameraDialog>(*settings_);
        // Whatever construction stored is not what the dialog saves.
        std::filesystem::remove(folder_.SettingsPath());
    }

    // Opens the dialog, lets act change it, and returns the dialog's result.
    int Run(const std::function<void(QDialog&)>& act) {
        WhenDialogOpens(act);
        return camera_->Run(nullptr);
    }

    static void Accept(QDialog& dialog) { Control<QPushButton>(dialog, "id1")->click(); }
    static void Select(QDialog& dialog, const char* list, int row) {
        Control<QListWidget>(dialog, list)->setCurrentRow(row);
    }
    static int RowNamed(QDialog& dialog, const char* list, const QString& name) {
        auto* widget = Control<QListWidget>(dialog, list);
        for (int row = 0; row < widget->count(); ++row)
            if (widget->item(row)->text() == name) return row;
        return -1;
    }
    // Types text into the quality field and leaves it, as the user does.
    static void EnterQuality(QDialog& dialog, const QString& text) {
        // Focus moves only inside the active window.
        EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog));
        auto* field = Control<QLineEdit>(dialog, "id409");
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, text);
        if (text.isEmpty()) QTest::keyClick(field, Qt::Key_Delete);
        Control<QListWidget>(dialog, "id201")->setFocus();
    }

    TestProgramFolder folder_;
    NoWindow window_;
    MjpegParams params_;
    std::unique_ptr<SettingsFile> settings_;
    std::unique_ptr<LanguageTable> language_;
    std::unique_ptr<FrameExchange> frames_;
    std::unique_ptr<VideoCapture> capture_;
    std::unique_ptr<CameraDialog> camera_;
};

TEST_F(CameraDialogTest, ConstructionEstablishesTheCameraDefaults) {
    EXPECT_EQ(settings_->GetString("VideoDeviceId"), "Default");
    EXPECT_EQ(settings_->GetString("VideoDateTime"), "1");
    EXPECT_EQ(settings_->GetString("JpegQuality"), "50");
    EXPECT_EQ(params_.quality.load(), 50);
    EXPECT_EQ(camera_->StampSwitch(), 1);
}

TEST_F(CameraDialogTest, AcceptingWithoutChangesReturnsNothingAndSavesNothing) {
    QStringList cameras;
    EXPECT_EQ(Run([&](QDialog& dialog) {
                  auto* list = Control<QListWidget>(dialog, "id201");
                  for (int row = 0; row < list->count(); ++row) cameras << list->item(row)->text();
                  EXPECT_EQ(list->currentRow(), 0);
                  EXPECT_EQ(Control<QListWidget>(dialog, "id204")->count(), 6);
                  EXPECT_EQ(Control<QListWidget>(dialog, "id130")->count(), 3);
                  EXPECT_EQ(Control<QListWidget>(dialog, "id131")->count(), 4);
                  EXPECT_EQ(Control<QLineEdit>(dialog, "id409")->text(), "50");
                  EXPECT_TRUE(Control<QCheckBox>(dialog, "id217")->isChecked());
                  Accept(dialog);
              }),
              0);
    EXPECT_FALSE(std::filesystem::exists(folder_.SettingsPath()));
    ASSERT_GE(cameras.size(), 2);
    EXPECT_EQ(cameras.front(), "Default");
    EXPECT_TRUE(cameras.contains("Test pattern"));
}

TEST_F(CameraDialogTest, OrientationAloneReturns2AndCameraWithRotationReturns3) {
    EXPECT_EQ(Run([](QDialog& dialog) {
                  Select(dialog, "id131", 1);
                  Accept(dialog);
              }),
              CameraDialog::kOrientationChanged);
    EXPECT_EQ(folder_.ReadSettings()["VideoRotate"], "1");

    EXPECT_EQ(Run([](QDialog& dialog) {
                  Select(dialog, "id130", 2);
                  Accept(dialog);
              }),
              CameraDialog::kOrientationChanged);
    EXPECT_EQ(settings_->GetString("VideoReflect"), "2");

    EXPECT_EQ(Run([](QDialog& dialog) {
                  Select(dialog, "id201", RowNamed(dialog, "id201", "Test pattern"));
                  Select(dialog, "id131", 3);
                  Accept(dialog);
              }),
              CameraDialog::kDeviceChanged | CameraDialog::kOrientationChanged);
    const auto saved = folder_.ReadSettings();
    EXPECT_EQ(saved.at("VideoDeviceId"), "TestPattern");
    EXPECT_EQ(saved.at("VideoRotate"), "3");

    // The next opening starts from the stored values.
    EXPECT_EQ(Run([](QDialog& dialog) {
                  EXPECT_EQ(Control<QListWidget>(dialog, "id201")->currentRow(),
                            RowNamed(dialog, "id201", "Test pattern"));
                  EXPECT_EQ(Control<QListWidget>(dialog, "id131")->currentRow(), 3);
                  Select(dialog, "id204", 2);
                  Accept(dialog);
              }),
              CameraDialog::kDeviceChanged);
    EXPECT_EQ(settings_->GetString("VideoResolution"), "2");
}

TEST_F(CameraDialogTest, AnAbsentStoredCameraHighlightsDefaultButKeepsItsIdentifier) {
    settings_->SetText("VideoDeviceId", "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(Run([](QDialog& dialog) {
                  EXPECT_EQ(Control<QListWidget>(dialog, "id201")->currentRow(), 0);
                  Accept(dialog);
              }),
              0);
    EXPECT_EQ(settings_->GetString("VideoDeviceId"), "0123456789abcdef0123456789abcdef");
    // Clicking Default is a change of camera.
    EXPECT_EQ(Run([](QDialog& dialog) {
                  Select(dialog, "id201", 1);
                  Select(dialog, "id201", 0);
                  Accept(dialog);
              }),
              CameraDialog::kDeviceChanged);
    EXPECT_EQ(settings_->GetString("VideoDeviceId"), "Default");
}

TEST_F(CameraDialogTest, QualityCountsWhenTheFieldIsLeftAndAtOnce) {
    EXPECT_EQ(Run([](QDialog& dialog) {
                  EnterQuality(dialog, "75");
                  Accept(dialog);
              }),
              CameraDialog::kQualityChanged);
    EXPECT_EQ(params_.quality.load(), 75);
    EXPECT_EQ(folder_.ReadSettings()["JpegQuality"], "75");
}

TEST_F(CameraDialogTest, QualityOutsideOneToHundredShowsTheDefault) {
    params_.quality.store(60);
    QStringList shown;
    EXPECT_EQ(Run([&](QDialog& dialog) {
                  auto* field = Control<QLineEdit>(dialog, "id409");
                  EXPECT_EQ(field->text(), "60");
                  for (const QString& typed : {QString("0"), QString("101"), QString()}) {
                      EnterQuality(dialog, typed);
                      shown << field->text();
                  }
                  // Letters never reach the field.
                  field->setFocus();
                  field->selectAll();
                  QTest::keyClicks(field, "x7");
                  shown << field->text();
                  Control<QPushButton>(dialog, "id2")->click();
              }),
              0);
    EXPECT_EQ(shown, QStringList({"50", "50", "50", "7"}));
    EXPECT_EQ(params_.quality.load(), 60);
}

TEST_F(CameraDialogTest, ANumberStillBeingTypedDoesNotCountOnEnter) {
    EXPECT_EQ(Run([](QDialog& dialog) {
                  auto* field = Control<QLineEdit>(dialog, "id409");
                  field->setFocus();
                  field->selectAll();
                  QTest::keyClicks(field, "75");
                  QTest::keyClick(field, Qt::Key_Return);
              }),
              0);
    EXPECT_EQ(params_.quality.load(), 50);
    EXPECT_FALSE(std::filesystem::exists(folder_.SettingsPath()));
}

TEST_F(CameraDialogTest, StampOffReturns8AndSwitchesAtOnce) {
    EXPECT_EQ(Run([](QDialog& dialog) {
                  Control<QCheckBox>(dialog, "id217")->click();
                  Accept(dialog);
              }),
              CameraDialog::kStampChanged);
    EXPECT_EQ(camera_->StampSwitch(), 0);
    EXPECT_EQ(folder_.ReadSettings()["VideoDateTime"], "0");
}

TEST_F(CameraDialogTest, CancelStoresNothing) {
    EXPECT_EQ(Run([](QDialog& dialog) {
                  Select(dialog, "id131", 2);
                  Control<QCheckBox>(dialog, "id217")->click();
                  EnterQuality(dialog, "90");
                  QTest::keyClick(&dialog, Qt::Key_Escape);
              }),
              0);
    EXPECT_EQ(settings_->GetString("VideoRotate"), "0");
    EXPECT_EQ(camera_->StampSwitch(), 1);
    EXPECT_EQ(params_.quality.load(), 50);
    EXPECT_FALSE(std::filesystem::exists(folder_.SettingsPath()));
}

}  // namespace
