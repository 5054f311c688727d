#include "recording/shutter_sound.h"
#include "core/little_endian.h"

#include <alsa/asoundlib.h>

#include <cmath>
#include <cstring>

namespace {

constexpr uint32_t kSampleRate = 22255;
constexpr uint32_t kDataBytes = 9220;

// One blade of the shutter: a short burst of filtered noise over a damped ring.
double Blade(double t, double amplitude, double ringHz, uint32_t& noise, double& smoothed) {
    if (t < 0.0) return 0.0;
    noise ^= noise << 13;
    noise ^= noise >> 17;
    noise ^= noise << 5;
    const double white = static_cast<double>(noise) / 2147483648.0 - 1.0;
    smoothed += 0.45 * (white - smoothed);
    const double burst = smoothed * std::exp(-t / 0.007);
    const double ring = 0.6 * std::sin(2.0 * M_PI * ringHz * t) * std::exp(-t / 0.018);
    return amplitude * (burst + ring);
}

std::array<uint8_t, kShutterWaveBytes> MakeShutterWave() {
    std::array<uint8_t, kShutterWaveBytes> image{};
    uint8_t* p = image.data();
    std::memcpy(p, "RIFF", 4);
    Put32(p + 4, kShutterWaveBytes - 8);
    std::memcpy(p + 8, "WAVEfmt ", 8);
    Put32(p + 16, 16);
    Put16(p + 20, 1);            // PCM
    Put16(p + 22, 1);            // channels
    Put32(p + 24, kSampleRate);  // samples per second
    Put32(p + 28, kSampleRate);  // bytes per second
    Put16(p + 32, 1);            // block align
    Put16(p + 34, 8);            // bits per sample
    std::memcpy(p + 36, "data", 4);
    Put32(p + 40, kDataBytes);
    uint8_t* samples = p + 44;
    uint32_t noiseOpen = 0x2545F491u;
    uint32_t noiseClose = 0x9E3779B9u;
    double smoothOpen = 0.0;
    double smoothClose = 0.0;
    for (uint32_t i = 0; i < kDataBytes; ++i) {
        const double t = static_cast<double>(i) / kSampleRate;
        double v = Blade(t - 0.002, 0.85, 1900.0, noiseOpen, smoothOpen) +
                   Blade(t - 0.095, 0.65, 1400.0, noiseClose, smoothClose);
        // Fade the last milliseconds so the sound ends without a click of its own.
        const double left = static_cast<double>(kDataBytes - i) / kSampleRate;
        if (left < 0.01) v *= left / 0.01;
        long level = std::lround(128.0 + 127.0 * v);
        if (level < 1) level = 1;
        if (level > 255) level = 255;
        samples[i] = static_cast<uint8_t>(level);
    }
    return image;
}

struct WaveFormat {
    uint32_t channels = 0;
    uint32_t rate = 0;
    uint32_t bits = 0;
    const uint8_t* data = nullptr;
    uint32_t dataBytes = 0;
};

// Walks the RIFF chunks for the PCM format and the samples.
bool ParseWave(const uint8_t* wave, std::size_t bytes, WaveFormat& out) {
    if (bytes < 12 || std::memcmp(wave, "RIFF", 4) != 0 || std::memcmp(wave + 8, "WAVE", 4) != 0) return false;
    bool haveFormat = false;
    std::size_t at = 12;
    while (at + 8 <= bytes) {
        const uint8_t* chunk = wave + at;
        const std::size_t size = Get32(chunk + 4);
        if (size > bytes - at - 8) return false;
        if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= 16) {
            if (Get16(chunk + 8) != 1) return false;
            out.channels = Get16(chunk + 10);
            out.rate = Get32(chunk + 12);
            out.bits = Get16(chunk + 22);
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            out.data = chunk + 8;
            out.dataBytes = static_cast<uint32_t>(size);
        }
        at += 8 + size + (size & 1);
    }
    return haveFormat && out.data != nullptr && out.channels > 0 && out.rate > 0 &&
           (out.bits == 8 || out.bits == 16);
}

// ALSA would otherwise print its own complaints about a missing device.
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

const std::array<uint8_t, kShutterWaveBytes>& ShutterWaveImage() {
    static const std::array<uint8_t, kShutterWaveBytes> image = MakeShutterWave();
    return image;
}

ShutterSound::ShutterSound(const char* device) : device_(device) { snd_lib_error_set_handler(QuietAlsa); }

void ShutterSound::PlayShutter() { Play(ShutterWaveImage().data(), ShutterWaveImage().size()); }

bool ShutterSound::Play(const uint8_t* wave, std::size_t bytes) {
    WaveFormat format;
    if (!ParseWave(wave, bytes, format)) return false;
    snd_pcm_t* pcm = nullptr;
    // A blocking open would wait for a busy device and stall the worker; writes may block.
    if (snd_pcm_open(&pcm, device_, SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) return false;
    if (snd_pcm_nonblock(pcm, 0) < 0) {
        snd_pcm_close(pcm);
        return false;
    }
    const snd_pcm_format_t sampleFormat = format.bits == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
    const unsigned frameBytes = format.channels * (format.bits / 8);
    bool ok = snd_pcm_set_params(pcm, sampleFormat, SND_PCM_ACCESS_RW_INTERLEAVED, format.channels, format.rate,
                                 1, 200000) >= 0;
    const uint8_t* next = format.data;
    snd_pcm_uframes_t left = format.dataBytes / frameBytes;
    while (ok && left > 0) {
        const snd_pcm_sframes_t written = snd_pcm_writei(pcm, next, left);
        if (written < 0) {
            ok = snd_pcm_recover(pcm, static_cast<int>(written), 1) >= 0;
            continue;
        }
        next += static_cast<std::size_t>(written) * frameBytes;
        left -= static_cast<snd_pcm_uframes_t>(written);
    }
    if (ok) snd_pcm_drain(pcm);
    snd_pcm_close(pcm);
    return ok;
}
