#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "core/registry.h"
#include "recording/shot_data.h"
#include "web/web_server.h"
#include "web_test_support.h"

// A running server on a free port with a registered picture block.
class WebServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        registry.SetHandle("_MYSHOTDATA", &shot);
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
        server->PublishPicture(shot);
    }

    Registry registry{true};
    ShotData shot;
    std::unique_ptr<WebServer> server;
    int port = 0;
};
