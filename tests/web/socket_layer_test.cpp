#include "web/socket_layer.h"

#include <gtest/gtest.h>

#include <thread>

#include "web_test_support.h"

namespace {

using namespace webtest;

// Both ends of a loopback TCP connection.
struct TcpPair {
    int server = -1;
    int client = -1;

    explicit TcpPair(int clientReceiveBuffer = 0) {
        const int listener = OpenListener(0);
        sockaddr_in address{};
        socklen_t length = sizeof address;
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        client = ConnectTo(ntohs(address.sin_port), clientReceiveBuffer);
        server = accept(listener, nullptr, nullptr);
        close(listener);
    }
    ~TcpPair() {
        CloseSocket(server);
        CloseSocket(client);
    }
};

TEST(SocketLayer, SendingToAClosedPeerFailsWithoutASignal) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    close(pair[1]);
    EXPECT_EQ(SendText(pair[0], "lost"), -1);
    CloseSocket(pair[0]);
    EXPECT_EQ(pair[0], kNoSocket);

    TcpPair tcp;
    ASSERT_GE(tcp.server, 0);
    const linger reset{1, 0};
    setsockopt(tcp.client, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    CloseSocket(tcp.client);
    std::vector<char> data(1 << 20, 'x');
    // The first send may still be taken before the reset arrives; later ones fail.
    int result = 0;
    for (int i = 0; i < 10 && result >= 0; ++i) result = SendAll(tcp.server, data.data(), data.size());
    EXPECT_EQ(result, -1);
}

TEST(SocketLayer, SendAllKeepsSendingToASlowReader) {
    TcpPair tcp(4096);
    ASSERT_GE(tcp.server, 0);
    const int small = 4096;
    setsockopt(tcp.server, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    // With a send timeout one send call returns early with part of the data.
    SetSocketTimeouts(tcp.server, 100);
    const std::size_t total = 921600;
    std::vector<char> data(total);
    for (std::size_t i = 0; i < total; ++i) data[i] = static_cast<char>(i * 7);
    std::string received;
    std::thread reader([&] {
        char chunk[65536];
        while (received.size() < total) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            const ssize_t got = recv(tcp.client, chunk, sizeof chunk, 0);
            if (got <= 0) break;
            received.append(chunk, static_cast<std::size_t>(got));
        }
    });
    EXPECT_EQ(SendAll(tcp.server, data.data(), total), static_cast<int>(total));
    shutdown(tcp.server, SHUT_WR);
    reader.join();
    EXPECT_EQ(received.size(), total);
    EXPECT_TRUE(received == std::string(data.begin(), data.end()));
}

TEST(SocketLayer, ReadLineDropsCarriageReturnsAndBoundsTheLine) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    ASSERT_TRUE(SendRaw(pair[1], "a\rb\r\n\nxyz\nwxyz\nvwxyz"));
    char buffer[6];
    EXPECT_EQ(ReadLine(pair[0], buffer, sizeof buffer), 2);
    EXPECT_STREQ(buffer, "ab");
    EXPECT_EQ(ReadLine(pair[0], buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(ReadLine(pair[0], buffer, sizeof buffer), 3);
    EXPECT_STREQ(buffer, "xyz");
    EXPECT_EQ(ReadLine(pair[0], buffer, sizeof buffer), 4);
    EXPECT_EQ(ReadLine(pair[0], buffer, sizeof buffer), -1);  // Five characters do not fit size 6.
    close(pair[1]);
    EXPECT_EQ(ReadLine(pair[0], buffer, sizeof buffer), -1);  // Closed by the peer.
    EXPECT_EQ(ReceiveByte(pair[0]), -1);
    close(pair[0]);
}

TEST(SocketLayer, ReceiveExactGathersPiecesAndFailsOnAnEarlyClose) {
    TcpPair tcp;
    ASSERT_GE(tcp.server, 0);
    std::thread writer([&] {
        for (const char* piece : {"ab", "cde", "f"}) {
            SendText(tcp.client, piece);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        shutdown(tcp.client, SHUT_WR);
    });
    char buffer[8] = {};
    EXPECT_EQ(ReceiveExact(tcp.server, buffer, 5), 5);
    EXPECT_EQ(std::string(buffer, 5), "abcde");
    EXPECT_EQ(ReceiveExact(tcp.server, buffer, 2), -1);
    writer.join();
}

TEST(SocketLayer, FinishSendingDeliversEverythingBeforeTheClose) {
    TcpPair tcp;
    ASSERT_GE(tcp.server, 0);
    // Unread input at close time would otherwise turn the close into a reset.
    ASSERT_TRUE(SendRaw(tcp.client, "extra bytes the server never reads"));
    std::vector<char> data(300000, 'r');
    std::thread server([&] {
        SendAll(tcp.server, data.data(), data.size());
        FinishSending(tcp.server, 5000);
        CloseSocket(tcp.server);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const Reply reply = ReadUntilClosed(tcp.client, 20000);
    CloseSocket(tcp.client);
    server.join();
    EXPECT_TRUE(reply.closed);
    EXPECT_EQ(reply.bytes.size(), data.size());
}

}  // namespace
