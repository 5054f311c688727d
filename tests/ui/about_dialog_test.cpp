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
                     "LINK2 http://127.0.0.1:8080/ Web page: http://127.0.0.1:8080/\n"
                     "LINK3 https://example.org/only-target\n"
                     "MEMO3\nFirst memo \nline.\n\n"
                     "CprData (c) Vistrel\n");
    Modules modules;
    ASSERT_EQ(modules.language->CurrentLanguage(), 0);
    const int port = FreePort();
    modules.settings->SetInt("WWWPortListener", port);
    modules.settings->SetText("WWWBindAddress", "127.0.0.1");
    modules.web = std::make_unique<WebServer>(modules.Settings());
    ASSERT_TRUE(modules.web->Start());
    const QString page = QStringLiteral("http://127.0.0.1:%1/").arg(port);
    AboutDialog about(modules.Settings());
    WhenModal([&](QDialog* d) {
        EXPECT_EQ(d->windowTitle(), "Vistrel. v1.1");
        EXPECT_EQ(d->findChild<QLabel*>("id103")->text(), "Features:");
        EXPECT_EQ(d->findChild<QLabel*>("id104")->text(), "First memo line.");
        EXPECT_EQ(d->findChild<QLabel*>("id107")->text(), "LNG_MEMO4");
        EXPECT_EQ(d->findChild<QLabel*>("id423")->text(), "(c) Vistrel");
        auto* link2 = d->findChild<LinkLabel*>("id424");
        auto* link3 = d->findChild<LinkLabel*>("id132");
        ASSERT_NE(link2, nullptr);
        ASSERT_NE(link3, nullptr);
        // The web link names the running server, not the language file's example.
        EXPECT_EQ(link2->text(), "Web page: " + page);
        EXPECT_TRUE(link2->isVisible());
        EXPECT_EQ(link3->text(), "https://example.org/only-target");
        ClickLabel(link3);
        ClickLabel(link2);
        Click(d, "id2");
    });
    EXPECT_EQ(about.Run(nullptr), 0);
    ASSERT_EQ(OpenedUrls().size(), 2u);
    EXPECT_EQ(OpenedUrls()[0], QUrl("https://example.org/only-target"));
    EXPECT_EQ(OpenedUrls()[1], QUrl(page));

    // A stopped server has no link to show.
    modules.web->Stop();
    WhenModal([](QDialog* d) {
        EXPECT_TRUE(d->findChild<LinkLabel*>("id424")->isHidden());
        Click(d, "id2");
    });
    EXPECT_EQ(about.Run(nullptr), 0);
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
