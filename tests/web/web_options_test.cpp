#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/program_paths.h"
#include "core/settings_file.h"
#include "web/web_server.h"
#include "web_test_support.h"

namespace {

using namespace webtest;

TEST(WebServerSettings, PortAndStartFlagAreReadWithinTheirRanges) {
    struct Case {
        const char* stored;
        int32_t port;
    };
    // Absent or out of range: 8080, which an ordinary user may open; a stored 80 stays.
    for (const Case& c : {Case{nullptr, 8080}, Case{"79", 8080}, Case{"80", 80}, Case{"65000", 65000},
                          Case{"65001", 8080}, Case{"8080", 8080}, Case{"abc", 8080}}) {
        Registry registry(true);
        if (c.stored) registry.SetText("WWWPortListener", c.stored);
        registry.SetText("WWWStartAfterLaunch", "2");
        WebServer server(registry);
        EXPECT_EQ(server.Port(), c.port) << (c.stored ? c.stored : "absent");
        EXPECT_EQ(registry.GetString("WWWPortListener"), std::to_string(c.port));
        EXPECT_EQ(server.StartAfterLaunch(), 0);
        EXPECT_EQ(registry.GetString("WWWStartAfterLaunch"), "0");
        EXPECT_EQ(registry.Find<WebServer>("_CL_WWWServer"), &server);
        EXPECT_FALSE(server.Running());
    }
}

TEST(WebServerSettings, PortFieldIsHeldWithinRange) {
    EXPECT_EQ(WebServer::ValidatePort(""), 80);
    EXPECT_EQ(WebServer::ValidatePort(nullptr), 80);
    EXPECT_EQ(WebServer::ValidatePort("0"), 80);
    EXPECT_EQ(WebServer::ValidatePort("79"), 80);
    EXPECT_EQ(WebServer::ValidatePort("80"), 80);
    EXPECT_EQ(WebServer::ValidatePort("8080"), 8080);
    EXPECT_EQ(WebServer::ValidatePort("65000"), 65000);
    EXPECT_EQ(WebServer::ValidatePort("65001"), 65000);
    EXPECT_EQ(WebServer::ValidatePort("99999999999999999999"), 65000);
}

TEST(WebServerSettings, StartsAfterLaunchOnlyWhenConfigured) {
    for (const int flag : {0, 1}) {
        Registry registry(true);
        registry.SetInt("WWWPortListener", FreePort());
        registry.SetInt("WWWStartAfterLaunch", flag);
        WebServer server(registry);
        server.StartIfConfigured();
        EXPECT_EQ(server.Running(), flag == 1);
    }
}

// A settings file in a fresh folder, so saves can be seen.
class WebOptionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        start_ = std::filesystem::current_path();
        folder_ = std::filesystem::temp_directory_path() /
                  ("vistrel_web_" + std::to_string(getpid()) + "_" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        SetProgramFileForTest((folder_ / "vistrel").string());
        settings_ = std::make_unique<SettingsFile>();
        oldPort_ = FreePort();
        settings_->SetInt("WWWPortListener", oldPort_);
        server_ = std::make_unique<WebServer>(*settings_);
    }
    void TearDown() override {
        server_.reset();
        settings_.reset();
        SetProgramFileForTest("");
        // The settings file made the program folder current.
        std::filesystem::current_path(start_);
        std::filesystem::remove_all(folder_);
    }
    bool Saved() const { return std::filesystem::exists(folder_ / "vistrel.ini"); }
    std::string SavedText() const {
        std::ifstream in(folder_ / "vistrel.ini");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::filesystem::path start_;
    std::filesystem::path folder_;
    std::unique_ptr<SettingsFile> settings_;
    std::unique_ptr<WebServer> server_;
    int oldPort_ = 0;
};

TEST_F(WebOptionsTest, UnchangedValuesStoreNothingAndKeepTheServer) {
    ASSERT_TRUE(server_->Start());
    const WebServer::Options shown = server_->CurrentOptions();
    EXPECT_EQ(shown.port, oldPort_);
    EXPECT_EQ(shown.startAfterLaunch, 0);
    const int client = ConnectTo(oldPort_);
    ASSERT_GE(client, 0);
    ASSERT_TRUE(SendRaw(client, "GET / HTTP/1.1\r\n"));

    EXPECT_FALSE(server_->ApplyOptions(std::to_string(oldPort_).c_str(), 0));
    EXPECT_FALSE(Saved());
    // A restart would have ended the open connection.
    ASSERT_TRUE(SendRaw(client, "\r\n"));
    EXPECT_EQ(ReadUntilClosed(client, 20000).bytes, kPageResponse);
    close(client);
}

TEST_F(WebOptionsTest, ANewPortMovesARunningServerAndIsSaved) {
    ASSERT_TRUE(server_->Start());
    int newPort = FreePort();
    while (newPort == oldPort_) newPort = FreePort();
    EXPECT_TRUE(server_->ApplyOptions(std::to_string(newPort).c_str(), 0));
    EXPECT_TRUE(server_->Running());
    EXPECT_EQ(server_->Port(), newPort);
    EXPECT_EQ(Exchange(newPort, Get("/")).bytes, kPageResponse);
    EXPECT_LT(ConnectTo(oldPort_), 0);
    EXPECT_NE(SavedText().find("WWWPortListener " + std::to_string(newPort) + "\n"), std::string::npos);
}

TEST_F(WebOptionsTest, ANewPortOnAStoppedServerIsOnlyStored) {
    const int newPort = FreePort();
    EXPECT_TRUE(server_->ApplyOptions(std::to_string(newPort).c_str(), 0));
    EXPECT_FALSE(server_->Running());
    EXPECT_EQ(settings_->GetString("WWWPortListener"), std::to_string(newPort));
    EXPECT_TRUE(Saved());
}

TEST_F(WebOptionsTest, TheStartFlagIsSavedWithoutTouchingTheServer) {
    ASSERT_TRUE(server_->Start());
    const int client = ConnectTo(oldPort_);
    ASSERT_GE(client, 0);
    ASSERT_TRUE(SendRaw(client, "GET / HTTP/1.1\r\n"));

    EXPECT_TRUE(server_->ApplyOptions(std::to_string(oldPort_).c_str(), 1));
    EXPECT_EQ(server_->StartAfterLaunch(), 1);
    EXPECT_NE(SavedText().find("WWWStartAfterLaunch 1\n"), std::string::npos);
    ASSERT_TRUE(SendRaw(client, "\r\n"));
    EXPECT_EQ(ReadUntilClosed(client, 20000).bytes, kPageResponse);
    close(client);
}

}  // namespace
