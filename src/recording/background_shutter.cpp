#include "recording/background_shutter.h"

#include <pthread.h>

BackgroundShutter::BackgroundShutter(std::unique_ptr<ShutterPlayer> player)
    : player_(std::move(player)), thread_([this] { Run(); }) {}

BackgroundShutter::~BackgroundShutter() {
    {
        std::lock_guard guard(mutex_);
        closing_ = true;
    }
    asked_.notify_all();
    thread_.join();
}

void BackgroundShutter::PlayShutter() {
    {
        std::lock_guard guard(mutex_);
        due_ = true;
    }
    asked_.notify_one();
}

void BackgroundShutter::Run() {
    pthread_setname_np(pthread_self(), "vistrel-shutter");
    std::unique_lock lock(mutex_);
    for (;;) {
        asked_.wait(lock, [this] { return due_ || closing_; });
        if (closing_) return;
        due_ = false;
        lock.unlock();
        if (player_) player_->PlayShutter();
        lock.lock();
    }
}
