// Who may look (Basic authentication and the per-address back-off) and where
// the server listens, with curl and raw sockets on the loopback addresses.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "web/http_response.h"
#include "web/web_auth.h"
#include "web_server_fixture.h"

namespace {

using namespace webtest;

struct CurlResult {
    int exitCode = -1;
    std::string output;
};

// Runs curl with arguments; its exit code and what it wrote to stdout.
CurlResult Curl(const std::string& arguments) {
    CurlResult result;
    FILE* pipe = popen(("curl -sS --max-time 20 " + arguments + " 2>/dev/null").c_str(), "r");
    if (!pipe) return result;
    char buffer[65536];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

sockaddr_storage Peer(const char* ipv4) {
    sockaddr_storage peer{};
    auto& v4 = reinterpret_cast<sockaddr_in&>(peer);
    v4.sin_family = AF_INET;
    inet_pton(AF_INET, ipv4, &v4.sin_addr);
    return peer;
}

class WebAccessTest : public WebServerTest {
protected:
    std::string Url(const std::string& target) const {
        return "http://127.0.0.1:" + std::to_string(port) + target;
    }
};

TEST_F(WebAccessTest, CurlNeedsTheRightCredentialsAndWrongOnesEndInSilence) {
    const std::vector<uint8_t> jpeg = QuarterJpeg(64, 48);
    Publish(jpeg, 64, 48);
    ASSERT_TRUE(server->ApplyAccess("viewer", "s3cret pass", ""));

    const CurlResult none = Curl("-D - -o /dev/null " + Url("/wwwcam.jpg"));
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_EQ(none.output.rfind("HTTP/1.1 401 Unauthorized\r\n", 0), 0u) << none.output;
    EXPECT_NE(none.output.find("\r\nWWW-Authenticate: Basic realm=\"Vistrel\"\r\n"), std::string::npos);
    EXPECT_EQ(Exchange(port, Get("/")).bytes, http_response::kUnauthorized) << "every name is guarded";

    // Requests without credentials do not count; five wrong ones are answered.
    for (int i = 0; i < 8; ++i) EXPECT_EQ(Curl("-o /dev/null -w '%{http_code}' " + Url("/")).output, "401");
    for (int i = 0; i < WebAuth::kFreeFailures; ++i) {
        EXPECT_EQ(Curl("-u viewer:wrong -o /dev/null -w '%{http_code}' " + Url("/")).output, "401") << i;
    }
    // Then this address gets no answer at all, even with the right credentials...
    const CurlResult silence = Curl("-u 'viewer:s3cret pass' " + Url("/wwwcam.jpg"));
    EXPECT_TRUE(silence.exitCode == 52 || silence.exitCode == 56)
        << silence.exitCode;  // Empty reply or reset.
    EXPECT_EQ(silence.output, "");
    // ...while another address is served.
    const std::string other = "--interface 127.0.0.2 -u 'viewer:s3cret pass' ";
    const CurlResult picture = Curl(other + Url("/wwwcam.jpg"));
    EXPECT_EQ(picture.exitCode, 0);
    EXPECT_TRUE(picture.output == std::string(jpeg.begin(), jpeg.end()));
    const CurlResult status = Curl(other + Url("/status.json"));
    EXPECT_EQ(status.exitCode, 0);
    EXPECT_EQ(status.output.rfind("{\"recording\":", 0), 0u) << status.output;
    // A stream runs until curl gives up on it.
    const CurlResult stream = Curl(other + "--max-time 2 " + Url("/stream.mjpg"));
    EXPECT_EQ(stream.exitCode, 28);
    const std::string part =
        "--vistrelframe\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(jpeg.size()) +
        "\r\n\r\n" + std::string(jpeg.begin(), jpeg.end()) + "\r\n--vistrelframe\r\n";
    EXPECT_EQ(stream.output.rfind(part, 0), 0u);

    // After the first block (1 s) the right credentials are served and clear the count.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    const CurlResult again = Curl("-u 'viewer:s3cret pass' " + Url("/wwwcam.jpg"));
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_TRUE(again.output == std::string(jpeg.begin(), jpeg.end()));
    EXPECT_EQ(Curl("-u viewer:wrong -o /dev/null -w '%{http_code}' " + Url("/")).output, "401");
}

TEST(WebAuth, BackOffDoublesFromOneSecondToAMinuteForTheFailingAddressOnly) {
    WebAuth auth;
    const sockaddr_storage bad = Peer("192.0.2.7");
    const sockaddr_storage good = Peer("192.0.2.8");
    const auto start = WebAuth::Clock::time_point{} + std::chrono::hours(1);
    for (int i = 0; i < WebAuth::kFreeFailures - 1; ++i) auth.RecordFailure(bad, start);
    EXPECT_FALSE(auth.Blocked(bad, start));
    auth.RecordFailure(bad, start);
    EXPECT_TRUE(auth.Blocked(bad, start + std::chrono::milliseconds(999)));
    EXPECT_FALSE(auth.Blocked(bad, start + std::chrono::milliseconds(1000)));
    EXPECT_FALSE(auth.Blocked(good, start));

    auto now = start + std::chrono::seconds(1);
    for (const int seconds : {2, 4, 8, 16, 32, 60, 60}) {
        auth.RecordFailure(bad, now);
        EXPECT_TRUE(auth.Blocked(bad, now + std::chrono::seconds(seconds) - std::chrono::milliseconds(1)))
            << seconds;
        EXPECT_FALSE(auth.Blocked(bad, now + std::chrono::seconds(seconds))) << seconds;
        now += std::chrono::seconds(seconds);
    }
    auth.RecordSuccess(bad);
    auth.RecordFailure(bad, now);
    EXPECT_FALSE(auth.Blocked(bad, now)) << "a success starts the count again";

    // Many other addresses failing once do not free a blocked one early.
    for (int i = 0; i < WebAuth::kFreeFailures; ++i) auth.RecordFailure(good, now);
    EXPECT_TRUE(auth.Blocked(good, now));
}

TEST(WebAuth, BasicCredentialsAreParsedStrictly) {
    char user[WebAuth::kFieldSize];
    char password[WebAuth::kFieldSize];
    ASSERT_TRUE(WebAuth::ParseBasic("Basic dmlld2VyOnMzY3JldDpwYXNz", user, password));  // viewer:s3cret:pass
    EXPECT_STREQ(user, "viewer");
    EXPECT_STREQ(password, "s3cret:pass");
    ASSERT_TRUE(WebAuth::ParseBasic("basic   OnA=  ", user, password));  // ":p", unpadded blanks around
    EXPECT_STREQ(user, "");
    EXPECT_STREQ(password, "p");
    for (const char* bad :
         {"", "Basic", "Basic ", "Bearer dmlld2VyOnM=", "Basicdmlld2VyOnM=", "Basic dmlld2Vy",
          "Basic dmlld2VyOnM*", "Basic d", "Basic dXNlcgBhOmI=" /* zero byte */}) {
        EXPECT_FALSE(WebAuth::ParseBasic(bad, user, password)) << bad;
    }
    const std::string tooLong = "Basic " + std::string(400, 'Q');
    EXPECT_FALSE(WebAuth::ParseBasic(tooLong.c_str(), user, password));
}

TEST(WebAuth, OnlyASaltedHashIsKeptAndAChangeForgetsTheAcceptedCredentials) {
    const std::string first = WebAuth::HashPassword("s3cret");
    const std::string second = WebAuth::HashPassword("s3cret");
    EXPECT_EQ(first.rfind("$y$", 0), 0u) << first;
    EXPECT_NE(first, second) << "each hash has its own salt";
    EXPECT_EQ(first.find("s3cret"), std::string::npos);

    WebAuth auth;
    EXPECT_TRUE(auth.Accepts("")) << "no hash, no authentication";
    auth.SetCredentials("viewer", first.c_str());
    EXPECT_TRUE(auth.Enabled());
    const char* right = "Basic dmlld2VyOnMzY3JldA==";  // viewer:s3cret
    EXPECT_FALSE(auth.Accepts(""));
    EXPECT_FALSE(auth.Accepts("Basic dmlld2VyOnMzY3JldEE="));  // viewer:s3cretA
    EXPECT_FALSE(auth.Accepts("Basic Vmlld2VyOnMzY3JldA=="));  // Viewer:s3cret
    EXPECT_TRUE(auth.Accepts(right));
    EXPECT_TRUE(auth.Accepts(right)) << "from the cache";
    auth.SetCredentials("viewer", WebAuth::HashPassword("other").c_str());
    EXPECT_FALSE(auth.Accepts(right)) << "the cache outlived a password change";
}

TEST(WebAuth, TheDialogStoresTheHashAndAnEmptyUserSwitchesItOff) {
    Registry registry(true);
    WebServer server(registry);
    bool changed = false;
    ASSERT_TRUE(server.ApplyAccess("viewer", "s3cret", "127.0.0.1", &changed));
    EXPECT_TRUE(changed);
    const std::string hash = registry.GetString("WWWPasswordHash");
    EXPECT_EQ(hash.rfind("$y$", 0), 0u);
    EXPECT_EQ(registry.GetString("WWWUser"), "viewer");
    EXPECT_EQ(registry.GetString("WWWBindAddress"), "127.0.0.1");
    EXPECT_TRUE(server.Auth().Enabled());

    ASSERT_TRUE(server.ApplyAccess("viewer", "", "127.0.0.1", &changed));
    EXPECT_FALSE(changed) << "an empty password keeps the stored one";
    EXPECT_EQ(registry.GetString("WWWPasswordHash"), hash);
    const WebServer::Access access = server.CurrentAccess();
    EXPECT_EQ(access.user, "viewer");
    EXPECT_TRUE(access.hasPassword);

    ASSERT_TRUE(server.ApplyAccess("", "", "127.0.0.1", &changed));
    EXPECT_TRUE(changed);
    EXPECT_EQ(registry.GetString("WWWPasswordHash"), "");
    EXPECT_FALSE(server.Auth().Enabled());
}

TEST(WebBind, ListensOnlyWhereToldAndABadAddressKeepsTheServerStopped) {
    Registry registry(true);
    registry.SetInt("WWWPortListener", FreePort());
    registry.SetText("WWWBindAddress", "127.0.0.1");
    WebServer server(registry);
    ASSERT_TRUE(server.Start());
    const int port = server.Port();
    EXPECT_EQ(Exchange(port, Get("/")).bytes, kPageResponse);
    EXPECT_NE(Curl("-o /dev/null http://127.0.0.2:" + std::to_string(port) + "/").exitCode, 0);

    ASSERT_TRUE(server.ApplyAccess("", "", "::"));
    EXPECT_TRUE(server.Running()) << "a running server moves to the new address";
    EXPECT_EQ(Exchange(port, Get("/")).bytes, kPageResponse) << "IPv4 on the dual-stack listener";
    const CurlResult v6 = Curl("-g http://[::1]:" + std::to_string(port) + "/");
    if (v6.exitCode != 7) {  // 7: this machine has no IPv6 loopback.
        EXPECT_EQ(v6.output, kPageResponse.substr(kPageResponse.find("<html>")));
    }

    server.Stop();
    registry.SetText("WWWBindAddress", "camera.local");
    WebServer named(registry);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(named.Start());
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said, "web: cannot listen on port " + std::to_string(port) +
                        " at \"camera.local\" (address): not an IP address\n");
    EXPECT_FALSE(named.Running());
}

TEST(WebBind, TheLivePageAddressNamesAHostABrowserHereReaches) {
    EXPECT_EQ(WebServer::LivePageAddress("", 8080), "http://localhost:8080/live.htm");
    EXPECT_EQ(WebServer::LivePageAddress("::", 80), "http://localhost:80/live.htm");
    EXPECT_EQ(WebServer::LivePageAddress("192.168.1.5", 81), "http://192.168.1.5:81/live.htm");
    EXPECT_EQ(WebServer::LivePageAddress("fe80::1", 81), "http://[fe80::1]:81/live.htm");
}

}  // namespace
