#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "video/gst_holders.h"

class FrameExchange;
class MessagePoster;
class Registry;
struct CaptureSource;

typedef struct _GstAppSink GstAppSink;
typedef struct _GstBus GstBus;
typedef struct _GstCaps GstCaps;
typedef struct _GstDevice GstDevice;
typedef struct _GstDeviceMonitor GstDeviceMonitor;
typedef struct _GstElement GstElement;
typedef struct _GstMessage GstMessage;
typedef struct _GstVideoInfo GstVideoInfo;

// One line of the camera list: what the dialog shows and what is remembered.
struct DeviceEntry {
    char name[128];
    char identifier[128];
};

// Entry 0 is always "Default"; then up to four cameras, the configured
// sources "VideoSource1".."VideoSource4" and the built-in test pattern.
struct DeviceList {
    static constexpr int kCapacity = 10;
    int32_t count;
    int32_t selected;  // Kept by the camera dialog; 0 after filling.
    DeviceEntry entries[kCapacity];
};

// Connects the program to one camera through a GStreamer pipeline that ends
// in an appsink delivering packed BGR rows bottom-up, and hands every sample
// to FrameExchange::PutSample on the streaming thread. Registered as
// "_VideoCapture"; everything but the sample callback runs on the UI thread.
// A source whose picture size is not fixed settles off the UI thread: the
// streaming or bus thread posts kSettledMessage to "_MainHwnd", and the
// window then calls FinishConnect.
class VideoCapture {
public:
    static constexpr int kMaxCameras = 4;
    static constexpr int kSourceSettings = 4;
    static constexpr const char* kDefaultId = "Default";
    static constexpr const char* kTestPatternId = "TestPattern";
    static constexpr const char* kTestPatternName = "Test pattern";
    // How long Connect waits for a camera at "Default" resolution to settle
    // on a format before giving up.
    static constexpr int kNegotiateTimeoutMs = 4000;
    // Posted to "_MainHwnd" when a pending connection offered its first picture or failed.
    static constexpr uint32_t kSettledMessage = 1026;

    enum class ConnectState { Unchanged, Connected, Pending, Failed };

    explicit VideoCapture(Registry& registry);
    ~VideoCapture();
    VideoCapture(const VideoCapture&) = delete;
    VideoCapture& operator=(const VideoCapture&) = delete;

    void ListDevices(DeviceList& list);
    // True when "VideoDeviceId" names a listed entry; "Default" needs a camera.
    bool SelectedDevicePresent();
    // True when a pipeline now runs with the selected source; false when the
    // settings did not change since the last successful Connect, or on failure.
    bool Connect();
    // Connect without waiting for the first picture: Pending when the source
    // still has to offer its size; kSettledMessage then says to FinishConnect.
    ConnectState StartConnect();
    // Connected once the pending source offered a size, Failed when it ended
    // before, Pending while neither happened (or Unchanged with nothing pending).
    ConnectState FinishConnect();
    bool Connecting() const { return pending_; }
    // True when a running pipeline was stopped; the streaming thread has
    // ended when it returns.
    bool StopGraph();

    static void ResolutionSize(intptr_t value, int32_t& width, int32_t& height);
    static const char* ResolutionName(intptr_t value);
    // MD5 of text cut to 255 bytes, as 32 lowercase hex digits into out (33 bytes).
    static void DeviceIdentifier(const char* text, char* out);

    bool Connected() const { return connected_; }
    // The pipeline reported an error or its end since it was started.
    bool Ended() const { return ended_.load(std::memory_order_acquire); }
    // Samples handed to PutSample since the last Connect.
    int64_t SamplesDelivered() const { return samplesDelivered_.load(std::memory_order_acquire); }

private:
    struct Callbacks;
    enum class Failure { None, NotFound, Build, Start, Negotiate, Stream, Ended };

    GstObjectHolder<GstElement> BuildPipeline(CaptureSource& source, int32_t width, int32_t height,
                                              std::string& error);
    // Sizes the frame exchange, then lets samples of that size through.
    void Accept(int32_t width, int32_t height);
    bool WaitForFormat(int32_t& width, int32_t& height);
    std::string TakeError();
    void ReleasePipeline(bool report);
    void Report(Failure failure, const std::string& id, const char* text);
    void ReportNoPicture(const std::string& why);
    void Complete();
    // Streaming or bus thread: tells the window once that a pending connection settled.
    void PostSettled();
    void OnEnd(const char* errorText);
    void DeliverSample(GstAppSink* sink);

    Registry* registry_;
    FrameExchange* exchange_ = nullptr;
    MessagePoster* window_ = nullptr;
    GstObjectHolder<GstDeviceMonitor> monitor_;
    GstObjectHolder<GstElement> pipeline_;
    bool initialised_ = false;
    bool connected_ = false;
    bool pending_ = false;
    std::string pendingId_;
    intptr_t pendingResolution_ = 0;
    std::string connectedId_;
    intptr_t connectedResolution_ = 0;
    char sourceName_[128] = {};

    // Streaming-thread state; the UI thread touches it only while no
    // pipeline runs, or through the atomics and the mutex.
    std::atomic<bool> accepting_{false};
    std::atomic<int32_t> acceptedWidth_{0};
    std::atomic<int32_t> acceptedHeight_{0};
    std::atomic<bool> ended_{false};
    std::atomic<int64_t> samplesDelivered_{0};
    // Set while a connection waits for its first offer; cleared by whoever posts.
    std::atomic<bool> settleWanted_{false};
    GstCapsHolder cachedCaps_;
    GstVideoInfoHolder cachedInfo_;

    std::mutex mutex_;
    std::condition_variable changed_;
    int32_t offeredWidth_ = 0;  // Under mutex_: first size seen while not accepting.
    int32_t offeredHeight_ = 0;
    char errorText_[256] = {};  // Under mutex_: first error the pipeline reported.

    Failure reportedFailure_ = Failure::None;
    std::string reportedId_;
};
