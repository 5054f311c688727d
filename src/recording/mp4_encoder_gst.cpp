#include "recording/mp4_encoder_gst.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "recording/still_noise.h"
#include "video/frame.h"

namespace {

constexpr int kQueuePictures = 4;  // pictures between the worker and the encoder
// Index bytes a picture takes at most: its size, time, key mark, chunk offset and chunk run.
constexpr int kIndexBytesPerPicture = 28;
constexpr guint64 kIndexUpdatePeriod = GST_SECOND / 2;
constexpr int kBitrateCapKbit = 1500;  // at 640 x 480, scaled by the picture area
constexpr auto kPushWait = std::chrono::seconds(2);
constexpr GstClockTime kCloseWait = 10 * GST_SECOND;

// An element of the factory that reaches READY (a VA encoder needs its device for that).
bool Works(const char* factory) {
    GstElement* element = gst_element_factory_make(factory, nullptr);
    if (element == nullptr) return false;
    const bool ready = gst_element_set_state(element, GST_STATE_READY) != GST_STATE_CHANGE_FAILURE;
    gst_element_set_state(element, GST_STATE_NULL);
    gst_object_unref(element);
    return ready;
}

void SetEncoderOptions(GstElement* encoder, const char* factory, int32_t width, int32_t height,
                       int32_t intervalMs) {
    const int64_t area = static_cast<int64_t>(width) * height;
    const auto capKbit = static_cast<guint>(std::max<int64_t>(200, kBitrateCapKbit * area / (640 * 480)));
    // A key picture at least every two seconds of pictures.
    const auto key = static_cast<guint>(std::max(1, 2000 / std::max(1, intervalMs)));
    if (std::strcmp(factory, "x264enc") == 0) {
        // Quality-based with a bitrate cap; no B pictures, a short look-ahead and
        // one thread (ample at a few pictures a second), so the encoder holds
        // few pictures that a crash would lose.
        gst_util_set_object_arg(G_OBJECT(encoder), "speed-preset", "veryfast");
        gst_util_set_object_arg(G_OBJECT(encoder), "pass", "qual");
        g_object_set(encoder, "quantizer", 23u, "bitrate", capKbit, "key-int-max", key, "bframes", 0u,
                     "rc-lookahead", 3, "sync-lookahead", 0, "threads", 1u, nullptr);
    } else if (std::strcmp(factory, "openh264enc") == 0) {
        gst_util_set_object_arg(G_OBJECT(encoder), "rate-control", "quality");
        g_object_set(encoder, "bitrate", capKbit * 1000, "gop-size", key, nullptr);
    } else if (std::strcmp(factory, "vah264enc") == 0) {
        g_object_set(encoder, "bitrate", capKbit, "key-int-max", key, "b-frames", 0u, nullptr);
    } else if (std::strcmp(factory, "vaapih264enc") == 0) {
        g_object_set(encoder, "bitrate", capKbit, "keyframe-period", key, nullptr);
    }
}

class GstH264Encoder final : public H264FileEncoder {
public:
    explicit GstH264Encoder(const char* factory) : factory_(factory) {}
    ~GstH264Encoder() override {
        if (pipeline_ != nullptr) Close();
    }

    const char* Name() const override { return factory_; }

    bool Open(const std::string& path, int32_t width, int32_t height, int32_t intervalMs,
              std::string& error) override {
        if (pipeline_ != nullptr) Close();
        pipeline_ = gst_pipeline_new("recording");
        GstElement* source = gst_element_factory_make("appsrc", nullptr);
        GstElement* convert = gst_element_factory_make("videoconvert", nullptr);
        GstElement* encoder = gst_element_factory_make(factory_, nullptr);
        GstElement* parse = gst_element_factory_make("h264parse", nullptr);
        GstElement* mux = gst_element_factory_make("mp4mux", nullptr);
        GstElement* sink = gst_element_factory_make("filesink", nullptr);
        GstElement* elements[] = {source, convert, encoder, parse, mux, sink};
        for (GstElement* element : elements) {
            if (element == nullptr) {
                for (GstElement* made : elements)
                    if (made != nullptr) gst_object_unref(made);
                gst_object_unref(pipeline_);
                pipeline_ = nullptr;
                error = "a GStreamer element is missing";
                return false;
            }
        }
        gst_bin_add_many(GST_BIN(pipeline_), source, convert, encoder, parse, mux, sink, nullptr);

        GstVideoInfo info;
        gst_video_info_set_format(&info, GST_VIDEO_FORMAT_BGR, static_cast<guint>(width), static_cast<guint>(height));
        // The nominal rate; the pictures' own times are what the file keeps.
        GST_VIDEO_INFO_FPS_N(&info) = 1000;
        GST_VIDEO_INFO_FPS_D(&info) = std::max(1, intervalMs);
        GstCaps* caps = gst_video_info_to_caps(&info);
        g_object_set(source, "caps", caps, "format", GST_FORMAT_TIME, "is-live", FALSE, "block", FALSE, nullptr);
        stride_ = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
        frameSize_ = GST_VIDEO_INFO_SIZE(&info);
        pool_ = gst_buffer_pool_new();
        GstStructure* config = gst_buffer_pool_get_config(pool_);
        gst_buffer_pool_config_set_params(config, caps, static_cast<guint>(frameSize_), kQueuePictures,
                                          kQueuePictures);
        gst_buffer_pool_set_config(pool_, config);
        gst_buffer_pool_set_active(pool_, TRUE);
        gst_caps_unref(caps);

        SetEncoderOptions(encoder, factory_, width, height, intervalMs);
        // The index at the front, rewritten twice a second: a finished file starts
        // playing at once, a cut-off one plays up to its last rewrite. Its room
        // is sized for the pictures of the longest file and no more.
        const guint64 reserved = (static_cast<guint64>(H264FileEncoder::kMaxSeconds) + 60) * GST_SECOND;
        const auto bytesPerSecond =
            static_cast<guint32>(std::max(8, kIndexBytesPerPicture * 1000 / std::max(1, intervalMs) + 1));
        g_object_set(mux, "reserved-max-duration", reserved, "reserved-bytes-per-sec", bytesPerSecond,
                     "reserved-moov-update-period", kIndexUpdatePeriod, nullptr);
        g_object_set(sink, "location", path.c_str(), "sync", FALSE, nullptr);
        bytes_.store(0, std::memory_order_relaxed);
        GstPad* pad = gst_element_get_static_pad(sink, "sink");
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, CountBytes, this, nullptr);
        gst_object_unref(pad);
        source_ = source;

        if (!gst_element_link_many(source, convert, encoder, parse, mux, sink, nullptr) ||
            gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
            if (!Failed(error)) error = "the recording pipeline does not start";
            Teardown();
            return false;
        }
        width_ = width;
        height_ = height;
        // Sized once for the largest picture, so no file allocates it again.
        const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3;
        if (held_.size() < bytes) held_.resize(std::max<std::size_t>(bytes, kFrameCapacityBytes));
        interval_ = static_cast<GstClockTime>(std::max(1, intervalMs)) * GST_MSECOND;
        firstTime_ = -1.0;
        lastPts_ = 0;
        return true;
    }

    bool Push(const uint8_t* pixels, int32_t width, int32_t height, double captureTime, bool wait) override {
        if (pipeline_ == nullptr || width != width_ || height != height_) return false;
        GstBuffer* buffer = nullptr;
        GstBufferPoolAcquireParams params{};
        params.flags = GST_BUFFER_POOL_ACQUIRE_FLAG_DONTWAIT;
        const auto until = std::chrono::steady_clock::now() + kPushWait;
        while (gst_buffer_pool_acquire_buffer(pool_, &buffer, &params) != GST_FLOW_OK) {
            if (!wait || std::chrono::steady_clock::now() > until || failed_) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        GstMapInfo map;
        if (!gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
            gst_buffer_unref(buffer);
            return false;
        }
        // The worker's rows run bottom-up; the video's top-down. The first
        // picture of a file is taken as it is; the rest settle their noise.
        const std::size_t row = static_cast<std::size_t>(width) * 3;
        for (int32_t y = 0; y < height; ++y) {
            const uint8_t* from = pixels + static_cast<std::size_t>(height - 1 - y) * row;
            uint8_t* held = held_.data() + static_cast<std::size_t>(y) * row;
            uint8_t* to = map.data + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride_);
            if (firstTime_ < 0) {
                std::memcpy(held, from, row);
                std::memcpy(to, from, row);
            } else {
                SettleStillNoise(from, held, to, row);
            }
        }
        gst_buffer_unmap(buffer, &map);
        // The pictures' own times, from the first; never backwards, never twice the same.
        if (firstTime_ < 0) firstTime_ = captureTime;
        GstClockTime pts = static_cast<GstClockTime>(std::max(0.0, captureTime - firstTime_) * GST_SECOND);
        if (lastPts_ != 0 || pts == 0) pts = std::max(pts, lastPts_ + GST_MSECOND);
        lastPts_ = pts;
        GST_BUFFER_PTS(buffer) = pts;
        GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
        // The last picture lasts one interval too, or players leave it out.
        GST_BUFFER_DURATION(buffer) = interval_;
        return gst_app_src_push_buffer(GST_APP_SRC(source_), buffer) == GST_FLOW_OK;
    }

    bool Failed(std::string& cause) override {
        if (pipeline_ == nullptr) return false;
        GstBus* bus = gst_element_get_bus(pipeline_);
        while (GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) {
            NoteError(message);
            gst_message_unref(message);
        }
        gst_object_unref(bus);
        if (failed_) cause = cause_;
        return failed_;
    }

    int64_t Bytes() const override { return bytes_.load(std::memory_order_relaxed); }

    bool Close() override {
        if (pipeline_ == nullptr) return false;
        bool whole = !failed_;
        if (whole) {
            gst_app_src_end_of_stream(GST_APP_SRC(source_));
            GstBus* bus = gst_element_get_bus(pipeline_);
            GstMessage* message = gst_bus_timed_pop_filtered(
                bus, kCloseWait, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
            gst_object_unref(bus);
            if (message == nullptr) {
                whole = false;
                std::fprintf(stderr, "recording: the H.264 encoder did not finish the file in time\n");
            } else {
                if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
                    NoteError(message);
                    whole = false;
                }
                gst_message_unref(message);
            }
        }
        Teardown();
        return whole;
    }

private:
    static GstPadProbeReturn CountBytes(GstPad*, GstPadProbeInfo* info, gpointer self) {
        if (GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info))
            static_cast<GstH264Encoder*>(self)->bytes_.fetch_add(static_cast<int64_t>(gst_buffer_get_size(buffer)),
                                                                  std::memory_order_relaxed);
        return GST_PAD_PROBE_OK;
    }

    void NoteError(GstMessage* message) {
        GError* error = nullptr;
        gst_message_parse_error(message, &error, nullptr);
        if (!failed_) {
            cause_ = error != nullptr ? error->message : "unknown GStreamer error";
            std::fprintf(stderr, "recording: H.264 encoder (%s) failed: %s\n", factory_, cause_.c_str());
        }
        failed_ = true;
        if (error != nullptr) g_error_free(error);
    }

    void Teardown() {
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        gst_object_unref(pipeline_);
        pipeline_ = nullptr;
        source_ = nullptr;
        if (pool_ != nullptr) {
            gst_buffer_pool_set_active(pool_, FALSE);
            gst_object_unref(pool_);
            pool_ = nullptr;
        }
        failed_ = false;
        cause_.clear();
        width_ = height_ = 0;
    }

    const char* factory_;
    GstElement* pipeline_ = nullptr;
    GstElement* source_ = nullptr;
    GstBufferPool* pool_ = nullptr;
    // The picture last handed to the encoder, top-down without padding.
    std::vector<uint8_t> held_;
    gint stride_ = 0;
    gsize frameSize_ = 0;
    int32_t width_ = 0;
    int32_t height_ = 0;
    GstClockTime interval_ = GST_SECOND;
    double firstTime_ = -1.0;
    GstClockTime lastPts_ = 0;
    std::atomic<int64_t> bytes_{0};
    bool failed_ = false;
    std::string cause_;
};

}  // namespace

std::unique_ptr<H264FileEncoder> CreateGstH264Encoder() {
    if (!gst_init_check(nullptr, nullptr, nullptr)) return nullptr;
    static const char* const kFactories[] = {"vah264enc", "vaapih264enc", "x264enc", "openh264enc"};
    for (const char* factory : kFactories)
        if (Works(factory)) return std::make_unique<GstH264Encoder>(factory);
    return nullptr;
}
