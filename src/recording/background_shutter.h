#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "recording/shutter_sound.h"

// Sounds the shutter on a thread of its own, so the output worker goes on
// with the next picture while the sound plays (about 0.4 s). Photos taken
// while a sound plays get one more sound after it, not a queue of them.
class BackgroundShutter : public ShutterPlayer {
public:
    explicit BackgroundShutter(std::unique_ptr<ShutterPlayer> player);
    // Lets a sound that is playing end, then ends the thread.
    ~BackgroundShutter() override;
    BackgroundShutter(const BackgroundShutter&) = delete;
    BackgroundShutter& operator=(const BackgroundShutter&) = delete;

    // Returns at once; the sound starts on the player's thread.
    void PlayShutter() override;

private:
    void Run();

    std::unique_ptr<ShutterPlayer> player_;
    std::mutex mutex_;
    std::condition_variable asked_;
    bool due_ = false;
    bool closing_ = false;
    std::thread thread_;
};
