#include "web/web_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <random>
#include <thread>

#include "core/registry.h"
#include "recording/shot_data.h"
#include "web_server_fixture.h"

namespace {

using namespace webtest;

std::string Picture(const std::vector<uint8_t>& jpeg) {
    return PictureHead(jpeg.size()) + std::string(jpeg.begin(), jpeg.end());
}

TEST_F(WebServerTest, RoutesByTheNameAfterTheLastSlash) {
    const std::vector<uint8_t> jpeg = QuarterJpeg(64, 48);
    Publish(jpeg, 64, 48);
    for (const char* target : {"/", "/index.htm", "/a/b/", "/a/index.htm", "/?x=1", "/index.htm#top"}) {
        EXPECT_EQ(Exchange(port, Get(target)).bytes, kPageResponse) << target;
    }
    for (const char* target : {"/INDEX.HTM", "/wwwcam.jpg", "/a/b/wwwcam.jpg", "/wwwcam.jpg?x=1", "/other.png",
                               "/index.html", "/wwwcam.jpg?a=/index.htm", "/status.json.jpg",
                               "/x?/status.json", "/x#/stream.mjpg"}) {
        EXPECT_EQ(Exchange(port, Get(target)).bytes, Picture(jpeg)) << target;
    }
    // The query never chooses the answer: this is the status, not the stream.
    const std::string status = Exchange(port, Get("/status.json?a=/stream.mjpg")).bytes;
    EXPECT_NE(status.find("Content-Type: application/json\r\n"), std::string::npos) << status;
    // CR is dropped wherever it stands; only GET is answered, whatever the version.
    EXPECT_EQ(Exchange(port, "GET /ind\rex.htm\r\n\r\n").bytes, kPageResponse);
    EXPECT_EQ(Exchange(port, "GET\t/wwwcam.jpg\n\n").bytes, Picture(jpeg));
}

TEST_F(WebServerTest, IgnoresWhatIsNotAGetOfAPath) {
    for (const char* request :
         {"HEAD / HTTP/1.1\r\n\r\n", "POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\n", "get / HTTP/1.1\r\n\r\n",
          "GET wwwcam.jpg HTTP/1.1\r\n\r\n", "GET             \r\n\r\n", "GETwwwcam.jpg /x\r\n\r\n"}) {
        const Reply reply = Exchange(port, request);
        EXPECT_TRUE(reply.closed) << request;
        EXPECT_EQ(reply.bytes, "") << request;
    }
}

TEST_F(WebServerTest, RequestAndHeaderLinesAreLimitedTo1022Characters) {
    const std::string prefix = "GET /wwwcam.jpg?";
    auto requestLine = [&](std::size_t length) { return prefix + std::string(length - prefix.size(), 'a'); };
    EXPECT_EQ(Exchange(port, requestLine(1022) + "\r\n\r\n").bytes, PictureHead(0));
    EXPECT_EQ(Exchange(port, "GET /abcde\r\n\r\n").bytes, PictureHead(0));

    const Reply tooLong = Exchange(port, requestLine(1023) + "\r\n\r\n");
    EXPECT_TRUE(tooLong.closed);
    EXPECT_EQ(tooLong.bytes, "");
    const Reply tooShort = Exchange(port, "GET /abcd\r\n\r\n");
    EXPECT_TRUE(tooShort.closed);
    EXPECT_EQ(tooShort.bytes, "");

    const std::string header = "X-Pad: ";
    auto headerLine = [&](std::size_t length) { return header + std::string(length - header.size(), 'b'); };
    EXPECT_EQ(Exchange(port, "GET / HTTP/1.1\r\n" + headerLine(1022) + "\r\n\r\n").bytes, kPageResponse);
    EXPECT_EQ(Exchange(port, "GET / HTTP/1.1\r\n" + headerLine(1023) + "\r\n\r\n").bytes, "");
}

TEST_F(WebServerTest, AnswersOnlyAfterTheEmptyLine) {
    const int fd = ConnectTo(port);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SendRaw(fd, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n"));
    EXPECT_TRUE(StaysSilent(fd, 300));
    ASSERT_TRUE(SendRaw(fd, "\r\n"));
    EXPECT_EQ(ReadUntilClosed(fd, 20000).bytes, kPageResponse);
    close(fd);

    // A client that stops sending before the empty line gets nothing.
    const int early = ConnectTo(port);
    ASSERT_GE(early, 0);
    ASSERT_TRUE(SendRaw(early, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n"));
    shutdown(early, SHUT_WR);
    const Reply reply = ReadUntilClosed(early, 20000);
    EXPECT_TRUE(reply.closed);
    EXPECT_EQ(reply.bytes, "");
    close(early);
}

TEST_F(WebServerTest, ServesTheLatestPublishedPicture) {
    EXPECT_EQ(Exchange(port, Get("/wwwcam.jpg")).bytes, PictureHead(0));

    const std::vector<uint8_t> first = QuarterJpeg(64, 48);
    Publish(first, 64, 48);
    EXPECT_EQ(Exchange(port, Get("/wwwcam.jpg")).bytes, Picture(first));

    // An empty encoding leaves the published picture as it was.
    shot.jpegBytes = 0;
    shot.Publish();
    EXPECT_EQ(Exchange(port, Get("/wwwcam.jpg")).bytes, Picture(first));
    int32_t width = 0;
    int32_t height = 0;
    shot.board.NewestSize(width, height);
    EXPECT_EQ(width, 64);
    EXPECT_EQ(height, 48);

    // The largest picture the block holds goes out whole.
    std::vector<uint8_t> largest(ShotData::kBufferBytes);
    std::mt19937 random(7);
    for (uint8_t& byte : largest) byte = static_cast<uint8_t>(random());
    Publish(largest, 640, 480);
    const std::string got = Exchange(port, Get("/wwwcam.jpg")).bytes;
    EXPECT_EQ(got.size(), Picture(largest).size());
    EXPECT_TRUE(got == Picture(largest));
}

TEST_F(WebServerTest, ClientsNeverSeeAHalfUpdatedPicture) {
    const std::size_t bytes = 200000;
    std::vector<uint8_t> a(bytes, 'A');
    std::vector<uint8_t> b(bytes, 'B');
    Publish(a, 640, 480);
    std::atomic<bool> done{false};
    std::thread publisher([&] {
        bool flip = false;
        while (!done.load(std::memory_order_acquire)) {
            std::memcpy(shot.jpeg.get(), (flip ? b : a).data(), bytes);
            shot.jpegBytes = static_cast<int32_t>(bytes);
            shot.Publish();
            flip = !flip;
        }
    });
    for (int i = 0; i < 30; ++i) {
        const std::string response = Exchange(port, Get("/wwwcam.jpg")).bytes;
        ASSERT_EQ(response.compare(0, PictureHead(bytes).size(), PictureHead(bytes)), 0);
        const std::string body = response.substr(PictureHead(bytes).size());
        ASSERT_EQ(body.size(), bytes);
        EXPECT_TRUE(body == std::string(bytes, 'A') || body == std::string(bytes, 'B')) << "request " << i;
    }
    done.store(true, std::memory_order_release);
    publisher.join();
}

TEST_F(WebServerTest, HundredHeldConnectionsShutOutTheNextUntilOneEnds) {
    server->SetReceiveTimeoutMs(120000);
    std::vector<int> held;
    for (int i = 0; i < WebServer::kSlotCount; ++i) {
        // Ten from each address, below the limit of one address.
        const std::string source = "127.0.5." + std::to_string(1 + i / 10);
        const int fd = ConnectFrom(source.c_str(), port);
        ASSERT_GE(fd, 0) << i;
        ASSERT_TRUE(SendRaw(fd, "GET / HTTP/1.1\r\n"));
        held.push_back(fd);
    }
    // Accepted in order, so the 101st finds every slot taken.
    const auto before = std::chrono::steady_clock::now();
    const Reply refused = Exchange(port, Get("/"), 60000);
    EXPECT_TRUE(refused.closed);
    EXPECT_EQ(refused.bytes, "");
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(30));

    close(held.front());
    held.erase(held.begin());
    // The freed slot is taken back by the server thread shortly after the close.
    bool served = false;
    for (int attempt = 0; attempt < 200 && !served; ++attempt) {
        served = Exchange(port, Get("/")).bytes == kPageResponse;
        if (!served) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(served);
    for (const int fd : held) {
        ASSERT_TRUE(SendRaw(fd, "\r\n"));
        EXPECT_EQ(ReadUntilClosed(fd, 60000).bytes, kPageResponse);
        close(fd);
    }
}

TEST_F(WebServerTest, OneAddressHoldsAtMost16ConnectionsAndEachHasTenSecondsForItsWholeHead) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    std::vector<int> slow;
    for (int i = 0; i < 100; ++i) {
        const int fd = ConnectFrom("127.0.0.1", port);
        ASSERT_GE(fd, 0) << i;
        SendRaw(fd, "GET / HTTP/1.1\r\n");
        slow.push_back(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::vector<int> held;
    for (const int fd : slow) {
        if (ReadUntilClosed(fd, 20).closed)
            close(fd);
        else
            held.push_back(fd);
    }
    EXPECT_EQ(held.size(), static_cast<std::size_t>(WebServer::kSlotsPerAddress)) << "the rest closed at once";
    const Reply refused = Exchange(port, Get("/"), 5000);
    EXPECT_TRUE(refused.closed);
    EXPECT_EQ(refused.bytes, "");
    const auto asked = Clock::now();
    const int other = ConnectFrom("127.0.0.2", port);
    ASSERT_GE(other, 0);
    SendRaw(other, Get("/"));
    EXPECT_EQ(ReadUntilClosed(other, 5000).bytes, kPageResponse);
    EXPECT_LT(Clock::now() - asked, std::chrono::seconds(1)) << "another address is served at once";
    close(other);

    // A header line every two seconds keeps each read short, but not the head.
    while (Clock::now() - start < std::chrono::seconds(11)) {
        for (const int fd : held) SendRaw(fd, "X-Pad: a\r\n");
        std::this_thread::sleep_for(std::chrono::seconds(2) - (Clock::now() - start) % std::chrono::seconds(2));
    }
    for (const int fd : held) {
        const Reply ended = ReadUntilClosed(fd, 2000);
        EXPECT_TRUE(ended.closed);
        EXPECT_EQ(ended.bytes, "");
        close(fd);
    }
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(14));
    EXPECT_EQ(Exchange(port, Get("/")).bytes, kPageResponse) << "127.0.0.1 is served again";
}

TEST_F(WebServerTest, StopEndsOpenConnectionsAndTheSamePortOpensAgainAtOnce) {
    server->SetReceiveTimeoutMs(120000);
    const int fd = ConnectTo(port);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SendRaw(fd, "GET / HTTP/1.1\r\n"));
    EXPECT_EQ(Exchange(port, Get("/")).bytes, kPageResponse);  // The server is past the first accept.

    server->Stop();
    EXPECT_FALSE(server->Running());
    const Reply ended = ReadUntilClosed(fd, 20000);
    EXPECT_TRUE(ended.closed);
    EXPECT_EQ(ended.bytes, "");
    close(fd);
    EXPECT_LT(ConnectTo(port), 0);

    ASSERT_TRUE(server->Start());
    EXPECT_TRUE(server->Running());
    EXPECT_EQ(Exchange(port, Get("/")).bytes, kPageResponse);
}

TEST_F(WebServerTest, APictureCutShortByStopFallsShortOfItsStatedLength) {
    std::vector<uint8_t> largest(ShotData::kBufferBytes, 0x33);
    Publish(largest, 640, 480);
    int pair[2];
    std::thread serving = ServeOverSmallBuffer(pair, Get("/wwwcam.jpg"));
    ASSERT_TRUE(serving.joinable());
    server->Stop();
    const Reply reply = ReadUntilClosed(pair[1], 20000);
    serving.join();
    close(pair[1]);
    EXPECT_TRUE(reply.closed);
    const std::string head = PictureHead(largest.size());
    ASSERT_EQ(reply.bytes.compare(0, head.size(), head), 0);
    EXPECT_LT(reply.bytes.size() - head.size(), largest.size());
}

TEST_F(WebServerTest, ASilentClientIsClosedAfterTheReceiveTimeout) {
    server->SetReceiveTimeoutMs(300);
    const int fd = ConnectTo(port);
    ASSERT_GE(fd, 0);
    const auto before = std::chrono::steady_clock::now();
    const Reply reply = ReadUntilClosed(fd, 30000);
    EXPECT_TRUE(reply.closed);
    EXPECT_EQ(reply.bytes, "");
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(250));
    close(fd);
    EXPECT_EQ(Exchange(port, Get("/")).bytes, kPageResponse);
}

TEST_F(WebServerTest, AClientLeavingMidResponseDoesNotEndTheProcess) {
    std::vector<uint8_t> largest(ShotData::kBufferBytes, 0x5a);
    Publish(largest, 640, 480);
    for (int i = 0; i < 5; ++i) {
        // A small window keeps most of the picture in the server's send call.
        const int fd = ConnectTo(port, 4096);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(SendRaw(fd, Get("/wwwcam.jpg")));
        char some[100];
        ASSERT_GT(recv(fd, some, sizeof some, 0), 0);
        const linger reset{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        close(fd);
    }
    // A local stream socket reports the peer's close as EPIPE.
    int pair[2];
    std::thread serving = ServeOverSmallBuffer(pair, Get("/wwwcam.jpg"));
    ASSERT_TRUE(serving.joinable());
    close(pair[1]);
    serving.join();
    const std::string got = Exchange(port, Get("/wwwcam.jpg")).bytes;
    EXPECT_EQ(got.size(), Picture(largest).size());
    EXPECT_TRUE(got == Picture(largest));
}

TEST_F(WebServerTest, ConnectionsCanBeHandedInDirectly) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    ASSERT_TRUE(SendRaw(pair[1], Get("/index.htm")));
    std::thread serving([&] { server->HandleConnection(pair[0]); });
    EXPECT_EQ(ReadUntilClosed(pair[1], 20000).bytes, kPageResponse);
    close(pair[1]);
    serving.join();
}

TEST(WebServerState, StartFailureStaysStoppedAndSaysWhy) {
    Registry registry(true);
    const int port = FreePort();
    const int blocker = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(port));
    ASSERT_EQ(bind(blocker, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(blocker, 1), 0);

    registry.SetInt("WWWPortListener", port);
    WebServer server(registry);
    int shown = 0;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(server.Start());
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said.rfind("web: cannot listen on port " + std::to_string(port), 0), 0u) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1);
    EXPECT_FALSE(server.Running());
    EXPECT_EQ(server.PollStateChange(shown), 0);
    close(blocker);

    ASSERT_TRUE(server.Start());
    EXPECT_EQ(server.PollStateChange(shown), 1);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(server.PollStateChange(shown), 0);
    EXPECT_TRUE(server.Start());  // Already listening on the stored port: stays as it is.
    server.Stop();
    EXPECT_EQ(server.PollStateChange(shown), 1);
    EXPECT_EQ(shown, 0);
}

}  // namespace
