#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/registry.h"
#include "recording/shot_data.h"
#include "web/web_server.h"
#include "web_test_support.h"

// A running server on a free port with a registered picture block.
class WebServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        shot.Register(registry);
        for (int attempt = 0; attempt < 20; ++attempt) {
            port = webtest::FreePort();
            registry.SetInt("WWWPortListener", port);
            server = std::make_unique<WebServer>(registry);
            if (server->Start()) return;
        }
        FAIL() << "no free port";
    }

    void Publish(const std::vector<uint8_t>& jpeg, int width, int height) {
        std::memcpy(shot.jpeg.get(), jpeg.data(), jpeg.size());
        shot.jpegBytes = static_cast<int32_t>(jpeg.size());
        shot.jpegWidth = width;
        shot.jpegHeight = height;
        shot.Publish();
    }

    // Serves request on a thread over a local stream socket whose small send
    // buffer keeps most of a large picture inside the server's send call.
    // Returns once the first bytes arrived; pair[1] is the client's end.
    std::thread ServeOverSmallBuffer(int pair[2], const std::string& request) {
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) {
            ADD_FAILURE() << "socketpair";
            return {};
        }
        const int small = 4096;
        setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        EXPECT_TRUE(webtest::SendRaw(pair[1], request));
        std::thread serving([this, fd = pair[0]] { server->HandleConnection(fd); });
        char first[1];
        EXPECT_GT(recv(pair[1], first, sizeof first, MSG_PEEK), 0);
        return serving;
    }

    Registry registry{true};
    ShotData shot;
    std::unique_ptr<WebServer> server;
    int port = 0;
};
