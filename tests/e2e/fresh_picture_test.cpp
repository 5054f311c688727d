// The real program fed by a source whose every frame carries its number, so
// the age of a served picture can be read from the picture itself.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "e2e/program_run.h"

namespace {

using SteadyClock = std::chrono::steady_clock;
constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kBits = 16;
constexpr int kStripe = kWidth / kBits;

// Writes numbered 320 x 240 BGR frames into a pipe at 30 a second: bit i of
// the number is stripe i, white or black, over the whole height.
class NumberedFrames {
public:
    explicit NumberedFrames(const std::string& fifo) {
        // Read and write, so opening never waits for the program's reader;
        // not blocking, so the writer can see the stop flag.
        fd_ = open(fifo.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
        if (fd_ >= 0) thread_ = std::thread([this] { Run(); });
    }
    ~NumberedFrames() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) close(fd_);
    }
    bool Open() const { return fd_ >= 0; }
    // When the program had taken frame number (its write ended); epoch when unknown.
    SteadyClock::time_point TakenAt(int number) {
        std::lock_guard guard(mutex_);
        return number >= 0 && number < static_cast<int>(taken_.size()) ? taken_[number]
                                                                       : SteadyClock::time_point{};
    }

private:
    void Run() {
        std::vector<uint8_t> frame(static_cast<std::size_t>(kWidth) * kHeight * 3);
        const auto start = SteadyClock::now();
        for (int number = 0; !stop_ && number < (1 << kBits); ++number) {
            for (int x = 0; x < kWidth; ++x) {
                const bool one = (number >> (kBits - 1 - x / kStripe)) & 1;
                for (int y = 0; y < kHeight; ++y) std::memset(&frame[(y * kWidth + x) * 3], one ? 255 : 0, 3);
            }
            std::this_thread::sleep_until(start + std::chrono::microseconds(33333LL * number));
            for (std::size_t done = 0; done < frame.size();) {
                if (stop_) return;
                const ssize_t n = write(fd_, frame.data() + done, frame.size() - done);
                if (n > 0) {
                    done += static_cast<std::size_t>(n);
                } else if (n < 0 && errno == EAGAIN) {
                    pollfd ready{fd_, POLLOUT, 0};
                    poll(&ready, 1, 100);
                } else {
                    return;
                }
            }
            std::lock_guard guard(mutex_);
            taken_.push_back(SteadyClock::now());
        }
    }

    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<SteadyClock::time_point> taken_;
};

// The frame number a served JPEG shows, -1 when it cannot be read.
int NumberShown(const std::string& jpeg, const std::filesystem::path& folder) {
    const auto file = folder / "served.jpg";
    std::ofstream(file, std::ios::binary) << jpeg;
    const std::string gray =
        Shell("ffmpeg -v error -i '" + file.string() + "' -f rawvideo -pix_fmt gray - 2>/dev/null");
    if (gray.size() != static_cast<std::size_t>(kWidth) * kHeight) return -1;
    int number = 0;
    for (int bit = 0; bit < kBits; ++bit) {
        const auto level =
            static_cast<unsigned char>(gray[kHeight / 2 * kWidth + bit * kStripe + kStripe / 2]);
        number = number * 2 + (level > 128 ? 1 : 0);
    }
    return number;
}

}  // namespace

TEST(FreshPicture, APictureAskedForAfterAQuietSpellIsAtMostAFewFramesOld) {
    ProgramRun run;
    const auto fifo = run.Folder() / "frames.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    NumberedFrames frames(fifo.string());
    ASSERT_TRUE(frames.Open());
    const std::string pipeline = "filesrc location=" + fifo.string() +
                                 " ! rawvideoparse width=320 height=240 format=bgr framerate=30/1";
    // The program names a configured source by the MD5 of its pipeline.
    const std::string id = Shell("printf '%s' '" + pipeline + "' | md5sum | cut -c1-32");
    const int port = FreePort();
    run.WriteSettings({{"VideoSource1", "Numbered|" + pipeline},
                       {"VideoDeviceId", id},
                       {"VideoResolution", "2"},
                       {"VideoDateTime", "0"},
                       {"ModeActivation", "0"},
                       {"WWWStartAfterLaunch", "1"},
                       {"WWWPortListener", std::to_string(port)},
                       {"Language", "English"}});
    ASSERT_TRUE(run.Start());
    ASSERT_TRUE(
        WaitUntil([&] { return NumberShown(Body(HttpGet(port, "/wwwcam.jpg")), run.Folder()) > 0; }, 30000))
        << "no numbered picture served";

    // A minute without clients, as a watcher at rest has them: nothing is
    // encoded meanwhile, so the next request must wait for a new picture.
    std::this_thread::sleep_for(std::chrono::seconds(60));
    const std::string jpeg = Body(HttpGet(port, "/wwwcam.jpg"));
    const auto received = SteadyClock::now();
    const int number = NumberShown(jpeg, run.Folder());
    ASSERT_GT(number, 0) << "the picture carries no frame number";
    const auto taken = frames.TakenAt(number);
    ASSERT_NE(taken, SteadyClock::time_point{});
    const auto ageMs = std::chrono::duration_cast<std::chrono::milliseconds>(received - taken).count();
    EXPECT_LE(ageMs, 100) << "frame " << number << " was served " << ageMs << " ms after the program took it";
    EXPECT_EQ(run.Stop(SIGTERM), 0);
}
