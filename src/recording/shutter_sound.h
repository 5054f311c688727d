#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// What the output worker calls to sound the shutter. A player may return when
// the sound has ended; BackgroundShutter puts such a one off the worker's thread.
class ShutterPlayer {
public:
    virtual ~ShutterPlayer() = default;
    virtual void PlayShutter() = 0;
};

// The program's shutter sound as a RIFF WAVE image: PCM, 1 channel, 22,255
// samples per second, 8 bits, one "data" chunk of 9,220 bytes. Made once.
constexpr std::size_t kShutterWaveBytes = 9264;
const std::array<uint8_t, kShutterWaveBytes>& ShutterWaveImage();

// Plays the shutter sound through ALSA on the calling thread. With no sound
// device the sound is skipped silently.
class ShutterSound : public ShutterPlayer {
public:
    explicit ShutterSound(const char* device = "default");
    ShutterSound(const ShutterSound&) = delete;
    ShutterSound& operator=(const ShutterSound&) = delete;

    void PlayShutter() override;
    // Plays a PCM WAVE image to its end; false when it could not be played.
    bool Play(const uint8_t* wave, std::size_t bytes);

private:
    const char* device_;
};
