#include "ui/about_dialog.h"

#include <QEnterEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QTest>

#include "menu_fixture.h"

using namespace menu_test;

namespace {

void ClickLabel(QLabel* label) { QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(2, 2)); }

}  // namespace

class AboutDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        OpenedUrls().clear();
        LinkLabel::SetOpenerForTest(&RecordUrl);
    }
    void TearDown() override { LinkLabel::SetOpenerForTest(nullptr); }

    ProgramFolder folder;
};

TEST_F(AboutDialogTest, LinksShowTheirTextsAndOpenTheirTargets) {
    folder.WriteFile("Lang/English.lng",
                     "LINK2 https://example.org/maker The maker's page\n"
                     "LINK3 https://example.org/only-target\n"
                     "MEMO3\nFirst memo \nline.\n\n"
                     "CprData (c) Vistrel\n");
    Modules modules;
    ASSERT_EQ(modules.language->CurrentLanguage(), 0);
    AboutDialog about(modules.Settings());
    WhenModal([](QDialog* d) {
        EXPECT_EQ(d->windowTitle(), "Vistrel. v1.1");
        EXPECT_EQ(d->findChild<QLabel*>("id103")->text(), "Features:");
        EXPECT_EQ(d->findChild<QLabel*>("id104")->text(), "First memo line.");
        EXPECT_EQ(d->findChild<QLabel*>("id107")->text(), "LNG_MEMO4");
        EXPECT_EQ(d->findChild<QLabel*>("id423")->text(), "(c) Vistrel");
        auto* link2 = d->findChild<LinkLabel*>("id424");
        auto* link3 = d->findChild<LinkLabel*>("id132");
        ASSERT_NE(link2, nullptr);
        ASSERT_NE(link3, nullptr);
        EXPECT_EQ(link2->text(), "The maker's page");
        EXPECT_EQ(link3->text(), "https://example.org/only-target");
        ClickLabel(link3);
        ClickLabel(link2);
        Click(d, "id2");
    });
    EXPECT_EQ(about.Run(nullptr), 0);
    ASSERT_EQ(OpenedUrls().size(), 2u);
    EXPECT_EQ(OpenedUrls()[0], QUrl("https://example.org/only-target"));
    EXPECT_EQ(OpenedUrls()[1], QUrl("https://example.org/maker"));
}

TEST_F(AboutDialogTest, WithoutLanguageFileLinksAreEmptyAndOpenNothing) {
    Modules modules;
    AboutDialog about(modules.Settings());
    WhenModal([](QDialog* d) {
        auto* link2 = d->findChild<LinkLabel*>("id424");
        EXPECT_EQ(link2->text(), "");
        EXPECT_EQ(d->findChild<QLabel*>("id104")->text(), "LNG_MEMO3");
        ClickLabel(link2);
        ClickLabel(d->findChild<LinkLabel*>("id132"));
        // Esc ends the dialog as Close does.
        QTest::keyClick(d, Qt::Key_Escape);
    });
    EXPECT_EQ(about.Run(nullptr), 0);
    EXPECT_TRUE(OpenedUrls().empty());
}

TEST_F(AboutDialogTest, ShortTargetsAreNeverOpened) {
    LinkLabel::OpenLink("");
    LinkLabel::OpenLink(" ");
    LinkLabel::OpenLink("ab");
    EXPECT_TRUE(OpenedUrls().empty());
    LinkLabel::OpenLink("abc");
    EXPECT_EQ(OpenedUrls().size(), 1u);
}

TEST_F(AboutDialogTest, LinkLabelUnderlinesAfterHoverAndRestoresOnLeave) {
    LinkLabel label;
    label.setText("link");
    label.show();
    EXPECT_TRUE(label.font().bold());
    EXPECT_FALSE(label.font().underline());
    EXPECT_EQ(label.cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(label.palette().color(QPalette::WindowText), label.palette().color(QPalette::Highlight));
    EXPECT_EQ(label.palette().color(QPalette::Window), label.palette().color(QPalette::Button));

    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QApplication::sendEvent(&label, &enter);
    // Underlined only after the hover time, not at once.
    EXPECT_FALSE(label.font().underline());
    EXPECT_TRUE(QTest::qWaitFor([&] { return label.Hovered(); }, 5000));
    EXPECT_TRUE(label.font().underline());
    EXPECT_TRUE(label.font().bold());

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&label, &leave);
    EXPECT_FALSE(label.font().underline());
    EXPECT_TRUE(label.font().bold());
}
