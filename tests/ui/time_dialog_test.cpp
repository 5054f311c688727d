#include "ui/time_dialog.h"

#include "menu_fixture.h"

using namespace menu_test;

class TimeDialogTest : public ::testing::Test {
protected:
    ProgramFolder folder;
    Modules modules;
};

TEST_F(TimeDialogTest, FieldsAreClampedAsTyped) {
    TimeDialog dialog(modules.Settings());
    int32_t target = 3600;
    WhenModal([](QDialog* d) {
        QLineEdit* minutes = Edit(d, "id113");
        minutes->setText("75");
        EXPECT_EQ(minutes->text(), "59");
        QLineEdit* hours = Edit(d, "id112");
        hours->setText("24");
        EXPECT_EQ(hours->text(), "23");
        QLineEdit* seconds = Edit(d, "id114");
        seconds->setText("");
        EXPECT_EQ(seconds->maxLength(), 2);
        Click(d, "id1");
    });
    EXPECT_EQ(dialog.Run(target, "prompt"), 1);
    EXPECT_EQ(target, 23 * 3600 + 59 * 60);
}

TEST_F(TimeDialogTest, OpensLastSecondAndStoresItBack) {
    TimeDialog dialog(modules.Settings());
    int32_t target = 86399;
    WhenModal([](QDialog* d) {
        EXPECT_EQ(Edit(d, "id112")->text(), "23");
        EXPECT_EQ(Edit(d, "id113")->text(), "59");
        EXPECT_EQ(Edit(d, "id114")->text(), "59");
        EXPECT_EQ(d->findChild<QLabel*>("id103")->text(), "Input time begin recording.");
        EXPECT_TRUE(d->findChild<QLabel*>("id103")->font().bold());
        EXPECT_EQ(d->findChild<QLabel*>("id104")->text(), "HH : MM : SS");
        EXPECT_EQ(d->windowTitle(), "Setting Timer");
        Click(d, "id1");
    });
    EXPECT_EQ(dialog.Run(target, UiText(modules.Settings(), "TimerCaptionStart")), 1);
    EXPECT_EQ(target, 86399);

    TimeDialog early(modules.Settings());
    int32_t zero = 0;
    WhenModal([](QDialog* d) {
        EXPECT_EQ(Edit(d, "id112")->text(), "00");
        Edit(d, "id112")->setText("23");
        Edit(d, "id113")->setText("59");
        Edit(d, "id114")->setText("59");
        Click(d, "id1");
    });
    EXPECT_EQ(early.Run(zero, "prompt"), 1);
    EXPECT_EQ(zero, 86399);
}

TEST_F(TimeDialogTest, CancelKeepsTheClampedTarget) {
    TimeDialog dialog(modules.Settings());
    int32_t target = 100000;
    WhenModal([](QDialog* d) {
        Edit(d, "id112")->setText("1");
        Click(d, "id2");
    });
    EXPECT_EQ(dialog.Run(target, "prompt"), 0);
    EXPECT_EQ(target, 86399);
}
