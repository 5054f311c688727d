// "stream.mjpg" and "status.json" over real sockets.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "web/mjpeg_stream.h"
#include "web_server_fixture.h"

namespace {

using namespace webtest;

constexpr char kStreamHead[] =
    "HTTP/1.1 200 OK\r\nServer: Vistrel v" VISTREL_VERSION "\r\nCache-Control: no-cache\r\nConnection: close\r\n"
    "Content-Type: multipart/x-mixed-replace; boundary=vistrelframe\r\n\r\n--vistrelframe\r\n";

// Reads a stream from a connected socket and splits it into its parts.
class StreamReader {
public:
    explicit StreamReader(int fd) : fd_(fd) {}

    bool ReadHead(int timeoutMs) {
        if (!Fill(sizeof kStreamHead - 1, timeoutMs)) return false;
        head_ = buffer_.substr(0, sizeof kStreamHead - 1);
        buffer_.erase(0, head_.size());
        return true;
    }
    const std::string& Head() const { return head_; }

    // The next part's body; false when the stream ended or timed out first,
    // or a part was not framed as it should be.
    bool NextPart(std::string& body, int timeoutMs) {
        const std::string start = "Content-Type: image/jpeg\r\nContent-Length: ";
        std::size_t end = std::string::npos;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while ((end = buffer_.find("\r\n\r\n")) == std::string::npos) {
            if (!FillMore(deadline)) return false;
        }
        if (buffer_.compare(0, start.size(), start) != 0) {
            ADD_FAILURE() << "part head: " << buffer_.substr(0, end);
            return false;
        }
        const std::size_t bytes = std::stoul(buffer_.substr(start.size(), end - start.size()));
        const std::string boundary = "\r\n--vistrelframe\r\n";
        const std::size_t total = end + 4 + bytes + boundary.size();
        while (buffer_.size() < total) {
            if (!FillMore(deadline)) return false;
        }
        body = buffer_.substr(end + 4, bytes);
        EXPECT_EQ(buffer_.substr(end + 4 + bytes, boundary.size()), boundary);
        buffer_.erase(0, total);
        return true;
    }

private:
    bool Fill(std::size_t bytes, int timeoutMs) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (buffer_.size() < bytes) {
            if (!FillMore(deadline)) return false;
        }
        return true;
    }
    bool FillMore(std::chrono::steady_clock::time_point deadline) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count();
        if (left <= 0) return false;
        pollfd readable{fd_, POLLIN, 0};
        if (poll(&readable, 1, static_cast<int>(left)) <= 0) return false;
        char chunk[65536];
        const ssize_t got = recv(fd_, chunk, sizeof chunk, 0);
        if (got <= 0) return false;
        buffer_.append(chunk, static_cast<std::size_t>(got));
        return true;
    }

    int fd_;
    std::string buffer_;
    std::string head_;
};

std::vector<uint8_t> Filled(std::size_t bytes, int seed) {
    std::vector<uint8_t> picture(bytes);
    for (std::size_t i = 0; i < bytes; ++i) picture[i] = static_cast<uint8_t>(seed * 31 + i * 7);
    return picture;
}

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Opens a stream and reads its head; -1 when that failed.
int OpenStream(int port, int receiveBufferBytes = 0, const char* source = nullptr) {
    const int fd = source ? ConnectFrom(source, port) : ConnectTo(port, receiveBufferBytes);
    if (fd < 0) return -1;
    if (!SendRaw(fd, Get("/stream.mjpg"))) {
        close(fd);
        return -1;
    }
    return fd;
}

TEST_F(WebServerTest, AStreamSendsEachNewPictureAsAPartWithItsTypeAndLength) {
    const std::vector<uint8_t> first = QuarterJpeg(64, 48);
    Publish(first, 64, 48);
    const int fd = OpenStream(port);
    ASSERT_GE(fd, 0);
    StreamReader reader(fd);
    ASSERT_TRUE(reader.ReadHead(20000));
    EXPECT_EQ(reader.Head(), kStreamHead);
    std::string body;
    ASSERT_TRUE(reader.NextPart(body, 20000));
    EXPECT_TRUE(body == Text(first)) << "the newest picture comes at once";

    for (int i = 1; i <= 5; ++i) {
        const std::vector<uint8_t> next = Filled(1000u * static_cast<unsigned>(i), i);
        Publish(next, 64, 48);
        ASSERT_TRUE(reader.NextPart(body, 20000)) << i;
        EXPECT_TRUE(body == Text(next)) << i;
    }
    // With no new picture the last one comes once more, so a browser shows it, then nothing.
    ASSERT_TRUE(reader.NextPart(body, 20000));
    EXPECT_TRUE(body == Text(Filled(5000, 5)));
    EXPECT_TRUE(StaysSilent(fd, 1500));
    close(fd);
}

TEST_F(WebServerTest, AStreamOpenedBeforeAnyPictureWaitsForTheFirst) {
    const int fd = OpenStream(port);
    ASSERT_GE(fd, 0);
    StreamReader reader(fd);
    ASSERT_TRUE(reader.ReadHead(20000));
    EXPECT_TRUE(StaysSilent(fd, 300));
    const std::vector<uint8_t> picture = Filled(5000, 9);
    Publish(picture, 64, 48);
    std::string body;
    ASSERT_TRUE(reader.NextPart(body, 20000));
    EXPECT_TRUE(body == Text(picture));
    close(fd);
}

TEST_F(WebServerTest, ASlowViewerSkipsToTheNewestAndNeverHoldsUpTheWorker) {
    // The viewer takes nothing at first while large pictures keep coming.
    const int fd = OpenStream(port, 4096);
    ASSERT_GE(fd, 0);
    StreamReader reader(fd);
    ASSERT_TRUE(reader.ReadHead(20000));
    const int published = 200;  // Each picture is marked by its number in one byte.
    auto publishing = std::async(std::launch::async, [&] {
        for (int i = 0; i < published; ++i) {
            std::vector<uint8_t> picture(200000, static_cast<uint8_t>(i));
            Publish(picture, 640, 480);
        }
    });
    ASSERT_EQ(publishing.wait_for(std::chrono::seconds(60)), std::future_status::ready)
        << "publishing waited for the viewer";
    publishing.get();

    // Whatever was on its way, the viewer ends on the newest picture, having skipped most.
    std::string body;
    int parts = 0;
    uint8_t last = 0;
    while (reader.NextPart(body, 1500)) {
        ASSERT_EQ(body.size(), 200000u);
        EXPECT_GE(static_cast<uint8_t>(body[0]), last) << "an older picture after a newer one";
        last = static_cast<uint8_t>(body[0]);
        ++parts;
    }
    EXPECT_EQ(last, static_cast<uint8_t>(published - 1));
    EXPECT_LT(parts, published / 2);
    close(fd);
}

TEST_F(WebServerTest, AViewerThatCannotTakeAPartInTimeIsDroppedWhileOthersGoOn) {
    server->SetReceiveTimeoutMs(500);
    const int stalled = OpenStream(port, 4096);
    const int watching = OpenStream(port);
    ASSERT_GE(stalled, 0);
    ASSERT_GE(watching, 0);
    StreamReader reader(watching);
    ASSERT_TRUE(reader.ReadHead(20000));

    std::atomic<bool> done{false};
    std::thread publisher([&] {
        for (int i = 0; !done.load(std::memory_order_acquire); ++i) {
            std::vector<uint8_t> picture(ShotData::kBufferBytes, static_cast<uint8_t>(i));
            Publish(picture, 640, 480);
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
    });
    // The watching viewer keeps getting pictures while the other one takes nothing.
    std::string body;
    int parts = 0;
    const auto before = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - before < std::chrono::seconds(3)) {
        ASSERT_TRUE(reader.NextPart(body, 5000)) << "the watching viewer was held up";
        ++parts;
    }
    EXPECT_GT(parts, 10);
    done.store(true, std::memory_order_release);
    publisher.join();
    // Dropped: what was in flight arrives, then the end; a stream still open would stay open.
    const Reply rest = ReadUntilClosed(stalled, 10000);
    EXPECT_TRUE(rest.closed);
    EXPECT_LT(rest.bytes.size(), 4 * ShotData::kBufferBytes);
    close(stalled);
    close(watching);
}

TEST_F(WebServerTest, StreamsHoldSlotsAndStopEndsThem) {
    Publish(QuarterJpeg(64, 48), 64, 48);
    std::vector<int> streams;
    // 200 viewers from 20 addresses: the first 100 are served, the rest closed at once.
    for (int i = 0; i < 2 * WebServer::kSlotCount; ++i) {
        const std::string source = "127.0.6." + std::to_string(1 + i % 20);
        const int fd = OpenStream(port, 0, source.c_str());
        ASSERT_GE(fd, 0);
        if (i >= WebServer::kSlotCount) {
            const Reply refused = ReadUntilClosed(fd, 2000);
            EXPECT_TRUE(refused.closed) << i;
            EXPECT_EQ(refused.bytes, "") << i;
            close(fd);
            continue;
        }
        StreamReader reader(fd);
        ASSERT_TRUE(reader.ReadHead(20000)) << i;
        streams.push_back(fd);
    }
    const Reply refused = Exchange(port, Get("/wwwcam.jpg"), 20000);
    EXPECT_TRUE(refused.closed);
    EXPECT_EQ(refused.bytes, "");

    const auto before = std::chrono::steady_clock::now();
    server->Stop();
    for (const int fd : streams) {
        EXPECT_TRUE(ReadUntilClosed(fd, 10000).closed);
        close(fd);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
}

TEST_F(WebServerTest, StatusJsonReportsTheLatestStatus) {
    const std::string unfilled = Exchange(port, Get("/status.json")).bytes;
    EXPECT_NE(unfilled.find("\"reason\":\"unknown\""), std::string::npos) << unfilled;

    WebStatus status;
    status.cameraConnected = true;
    std::strcpy(status.camera, "Front \"door\"");
    status.recording = true;
    status.mode = 2;
    status.detectorHolding = true;
    status.level = 42;
    status.threshold = 35;
    std::strcpy(status.file, "/video/move/a.avi");
    status.frames = 120;
    status.freeBytes = 1234567890123;
    status.dropped = 3;
    server->Status().Update(status);
    const std::string body =
        "{\"recording\":true,\"reason\":\"motion\",\"mode\":\"detector\",\"motion_level\":42,\"threshold\":"
        "35,"
        "\"file\":\"/video/move/"
        "a.avi\",\"frames\":120,\"free_bytes\":1234567890123,\"problem\":null,\"dropped\":3,\"camera_connected\":true,"
        "\"camera\":\"Front \\\"door\\\"\"}\n";
    EXPECT_EQ(Exchange(port, Get("/status.json?t=5")).bytes,
              "HTTP/1.1 200 OK\r\nServer: Vistrel v" VISTREL_VERSION "\r\nCache-Control: no-cache\r\nConnection: close\r\n"
              "Content-Type: application/json\r\nContent-Length: " +
                  std::to_string(body.size()) + "\r\n\r\n" + body);

    status.recording = false;
    status.mode = 3;
    status.file[0] = '\0';
    status.frames = -1;
    status.freeBytes = -1;
    status.camera[0] = '\1';
    status.camera[1] = '\0';
    server->Status().Update(status);
    const std::string off = Exchange(port, Get("/status.json")).bytes;
    EXPECT_NE(off.find("\"recording\":false,\"reason\":\"outside time window\",\"mode\":\"timer\""),
              std::string::npos)
        << off;
    EXPECT_NE(off.find("\"file\":null,\"frames\":null,\"free_bytes\":null"), std::string::npos) << off;
    EXPECT_NE(off.find("\"camera\":\"\\u0001\""), std::string::npos) << off;

    char small[40];
    EXPECT_EQ(WebStatusBoard::FormatJson(status, small, sizeof small), -1);
}

}  // namespace
