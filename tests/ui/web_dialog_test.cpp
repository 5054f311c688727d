#include "ui/web_dialog.h"

#include <arpa/inet.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QTest>

#include "menu_fixture.h"
#include "ui/link_label.h"
#include "ui/web_start_failure.h"

using namespace menu_test;

namespace {

// Connects to 127.0.0.1:port; -1 when nothing listens there.
int Connect(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Sends a page request on fd and returns the whole answer.
std::string Ask(int fd) {
    const std::string request = "GET / HTTP/1.0\r\n\r\n";
    EXPECT_EQ(send(fd, request.data(), request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(request.size()));
    std::string answer;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, static_cast<std::size_t>(n));
    close(fd);
    return answer;
}

bool Answers(int port) {
    const int fd = Connect(port);
    return fd >= 0 && Ask(fd).rfind("HTTP/1.", 0) == 0;
}

}  // namespace

class WebDialogTest : public ::testing::Test {
protected:
    void StartOn(int port) {
        modules.settings->SetInt("WWWPortListener", port);
        modules.web = std::make_unique<WebServer>(modules.Settings());
        ASSERT_TRUE(modules.web->Start());
    }
    int Run() {
        WebDialog dialog(modules.Settings(), *modules.web);
        return dialog.Run(nullptr);
    }

    ProgramFolder folder;
    Modules modules;
};

TEST_F(WebDialogTest, PortIsHeldInRangeOnLeavingTheField) {
    WhenModal([](QDialog* d) {
        EXPECT_EQ(Edit(d, "id112")->text(), "8080");
        EXPECT_EQ(d->windowTitle(), "WWW Server");
        EXPECT_EQ(d->findChild<QLabel*>("id104")->text(), "LNG_MEMO7");
        TypeAndLeave(Edit(d, "id112"), "79");
        EXPECT_EQ(Edit(d, "id112")->text(), "80");
        TypeAndLeave(Edit(d, "id112"), "65001");
        EXPECT_EQ(Edit(d, "id112")->text(), "65000");
        TypeAndLeave(Edit(d, "id112"), "");
        EXPECT_EQ(Edit(d, "id112")->text(), "80");
        TypeAndLeave(Edit(d, "id112"), "99999999999999");
        EXPECT_EQ(Edit(d, "id112")->text(), "65000");
        TypeAndLeave(Edit(d, "id112"), "8080");
        EXPECT_EQ(Edit(d, "id112")->text(), "8080");
        Click(d, "id2");
    });
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(modules.web->Port(), 8080);
    EXPECT_EQ(modules.settings->GetString("WWWPortListener"), "8080");
}

TEST_F(WebDialogTest, UnchangedOkStoresNothingAndKeepsConnections) {
    const int port = FreePort();
    StartOn(port);
    // An open connection would be cut by a restart.
    const int waiting = Connect(port);
    ASSERT_GE(waiting, 0);
    WhenModal([](QDialog* d) { Click(d, "id1"); });
    EXPECT_EQ(Run(), 1);
    EXPECT_FALSE(folder.Exists("vistrel.ini"));
    EXPECT_TRUE(modules.web->Running());
    EXPECT_EQ(Ask(waiting).rfind("HTTP/1.", 0), 0u);
}

TEST_F(WebDialogTest, ChangedPortMovesARunningServerAndIsSaved) {
    const int oldPort = FreePort();
    StartOn(oldPort);
    const int newPort = FreePort();
    ASSERT_NE(newPort, oldPort);
    WhenModal([newPort](QDialog* d) {
        Edit(d, "id112")->setText(QString::number(newPort));
        // Enter in the field works as the OK button.
        QTest::keyClick(Edit(d, "id112"), Qt::Key_Return);
    });
    EXPECT_EQ(Run(), 1);
    EXPECT_TRUE(modules.web->Running());
    EXPECT_TRUE(Answers(newPort));
    EXPECT_EQ(Connect(oldPort), -1);
    EXPECT_NE(folder.ReadFile("vistrel.ini").find("WWWPortListener " + std::to_string(newPort)),
              std::string::npos);
}

TEST_F(WebDialogTest, ChangedPortLeavesAStoppedServerStopped) {
    const int newPort = FreePort();
    WhenModal([newPort](QDialog* d) {
        TypeAndLeave(Edit(d, "id112"), QString::number(newPort));
        d->findChild<QCheckBox*>("id217")->click();
        Click(d, "id1");
    });
    EXPECT_EQ(Run(), 1);
    EXPECT_FALSE(modules.web->Running());
    EXPECT_EQ(modules.web->Port(), newPort);
    EXPECT_EQ(modules.web->StartAfterLaunch(), 1);
    const std::string saved = folder.ReadFile("vistrel.ini");
    EXPECT_NE(saved.find("WWWStartAfterLaunch 1"), std::string::npos);
}

TEST_F(WebDialogTest, CancelAfterEditingChangesNothing) {
    const int port = FreePort();
    StartOn(port);
    WhenModal([](QDialog* d) {
        TypeAndLeave(Edit(d, "id112"), "8081");
        d->findChild<QCheckBox*>("id217")->click();
        Click(d, "id2");
    });
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(modules.web->Port(), port);
    EXPECT_EQ(modules.web->StartAfterLaunch(), 0);
    EXPECT_EQ(modules.settings->GetString("WWWStartAfterLaunch"), "0");
    EXPECT_FALSE(folder.Exists("vistrel.ini"));
    EXPECT_TRUE(Answers(port));
}

TEST_F(WebDialogTest, UserPasswordAndAddressAreStoredAsAHashInAPrivateFile) {
    const int port = FreePort();
    StartOn(port);
    OpenedUrls().clear();
    LinkLabel::SetOpenerForTest(&RecordUrl);
    WhenModal([port](QDialog* d) {
        auto* live = d->findChild<LinkLabel*>("wwwLivePage");
        ASSERT_NE(live, nullptr);
        EXPECT_EQ(live->text(), QString("http://localhost:%1/live.htm").arg(port));
        TypeAndLeave(Edit(d, "wwwBindAddress"), "127.0.0.1");
        EXPECT_EQ(live->text(), QString("http://127.0.0.1:%1/live.htm").arg(port));
        emit live->clicked();
        Edit(d, "wwwUser")->setText("viewer");
        Edit(d, "wwwPassword")->setText("s3cret");
        Click(d, "id1");
    });
    EXPECT_EQ(Run(), 1);
    LinkLabel::SetOpenerForTest(nullptr);
    ASSERT_EQ(OpenedUrls().size(), 1u);
    EXPECT_EQ(OpenedUrls()[0].toString(), QString("http://127.0.0.1:%1/live.htm").arg(port));

    const std::string saved = folder.ReadFile("vistrel.ini");
    EXPECT_NE(saved.find("WWWUser viewer\n"), std::string::npos);
    EXPECT_NE(saved.find("WWWPasswordHash $y$"), std::string::npos);
    EXPECT_NE(saved.find("WWWBindAddress 127.0.0.1\n"), std::string::npos);
    EXPECT_EQ(saved.find("s3cret"), std::string::npos);
    struct stat info {};
    ASSERT_EQ(stat(folder.SettingsPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_TRUE(modules.web->Running());
    const int fd = Connect(port);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Ask(fd).rfind("HTTP/1.1 401 Unauthorized\r\n", 0), 0u);

    // Opened again, the password field stays empty and an OK keeps the hash.
    const std::string hash = modules.settings->GetString("WWWPasswordHash");
    WhenModal([](QDialog* d) {
        EXPECT_EQ(Edit(d, "wwwUser")->text(), "viewer");
        EXPECT_EQ(Edit(d, "wwwPassword")->text(), "");
        EXPECT_EQ(Edit(d, "wwwPassword")->placeholderText(), "(unchanged)");
        Click(d, "id1");
    });
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(modules.settings->GetString("WWWPasswordHash"), hash);
}

TEST_F(WebDialogTest, AnUnusablePasswordIsShownAndAUserWithoutOneOrWithTooLongTextsIsRefused) {
    const int port = FreePort();
    modules.settings->SetInt("WWWPortListener", port);
    modules.settings->SetText("WWWUser", "viewer");
    modules.settings->SetText("WWWPasswordHash", "$y$");
    modules.web = std::make_unique<WebServer>(modules.Settings());
    EXPECT_FALSE(modules.web->Start());
    const QString reason = "The web server cannot start: the stored password cannot be used; set it again.";
    EXPECT_EQ(web_start_failure::Text(modules.Settings(), port, modules.web->StartError()), reason);

    QStringList refusals;
    auto okRefused = [&refusals](QDialog* d) {
        WhenModal([&refusals](QDialog* box) {
            refusals << qobject_cast<QMessageBox*>(box)->text();
            box->done(0);
        });
        Click(d, "id1");
        EXPECT_TRUE(d->isVisible()) << "the dialog stays open";
    };
    WhenModal([&](QDialog* d) {
        auto* unusable = d->findChild<QLabel*>("wwwPasswordUnusable");
        ASSERT_NE(unusable, nullptr);
        EXPECT_EQ(unusable->text(), reason);
        EXPECT_EQ(Edit(d, "wwwPassword")->placeholderText(), "");
        okRefused(d);
        Edit(d, "wwwPassword")->setText(QString(256, 'p'));
        okRefused(d);
        Edit(d, "wwwUser")->setText(QString(256, 'u'));
        Edit(d, "wwwPassword")->setText(QString(254, 'p') + QChar(0x44f));  // 256 bytes in UTF-8
        okRefused(d);
        Edit(d, "wwwUser")->setText(QString(255, 'u'));
        Edit(d, "wwwPassword")->setText(QString(253, 'p') + QChar(0x44f));
        Click(d, "id1");
    });
    EXPECT_EQ(Run(), 1);
    const QString tooLong = "The user name and the password may hold at most 255 bytes each.";
    EXPECT_EQ(refusals, (QStringList{"A user needs a password. Type one, or clear the user to let everybody look.",
                                     tooLong, tooLong}));
    EXPECT_TRUE(modules.web->Start());
    EXPECT_EQ(modules.settings->GetString("WWWUser"), std::string(255, 'u'));
}
